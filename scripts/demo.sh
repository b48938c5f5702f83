#!/usr/bin/env bash
# demo.sh BUILD_DIR DEMO_DIR OWN_DISPLAY: installs the notifier into the demo
# prefix, starts it and shows what it does. Called by run.sh with WINEPREFIX
# and DISPLAY set.
set -euo pipefail
build=$1 demo=$2 own_display=$3

install_dir="$WINEPREFIX/drive_c/Program Files/Orlivan"
mkdir -p "$install_dir"
cp "$build/OrlivanSysTray.exe" "$install_dir/"
wine reg add 'HKLM\SOFTWARE\Orlivan' /v 'Install Path' /d 'C:\Program Files\Orlivan\' /f >/dev/null

shot() {
    if [ "$own_display" = 1 ]; then
        if import -window root "$demo/$1.png" 2>/dev/null; then
            echo "screenshot: $demo/$1.png"
        else
            echo "screenshot $1 failed" >&2
        fi
    fi
}

wine "C:\\Program Files\\Orlivan\\OrlivanSysTray.exe" &
notifier=$!
sleep 4
shot 01-started
echo "The notifier runs under Wine (pid $notifier); its tray icon sits in Wine's system tray window."
# Wine names the profile folder after the Unix user.
log="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/OrlivanLog/OrlivanSysTray.log"
echo "Log: $log"
if [ -f "$log" ]; then
    tail -n 1 "$log"
fi
if [ "$own_display" = 1 ]; then
    wineserver -k 2>/dev/null || true
else
    echo "Close it with Ctrl-C."
    wait "$notifier"
fi
