#!/usr/bin/env bash
# demo.sh BUILD_DIR DEMO_DIR OWN_DISPLAY: installs the notifier into the demo
# prefix, starts it, and lets the service stand-in deliver one notification of
# each kind: every balloon, then a driver error whose message box is closed
# here. On a display of its own (OWN_DISPLAY=1) it saves a screenshot after
# each step and ends; on the caller's display it leaves the notifier running.
# Called by run.sh with WINEPREFIX and DISPLAY set. ORLIVAN_DEMO_LANG (a
# catalogue language: de, fr, es, pt_BR, ru, qps-ploc) runs it in that language.
set -euo pipefail
build=$1 demo=$2 own_display=$3
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lang=${ORLIVAN_DEMO_LANG:-en}
driver_caption=$(python3 "$top/po/compile_catalogue.py" "$top/po" --text "$lang" DriverErrorTitle)

install_dir="$WINEPREFIX/drive_c/Program Files/Orlivan"
mkdir -p "$install_dir" "$WINEPREFIX/drive_c/demo"
cp "$build/OrlivanSysTray.exe" "$install_dir/"
cp "$build/tools/orlivan-service-standin.exe" "$build/tests/e2e/e2e_box_closer.exe" \
    "$WINEPREFIX/drive_c/demo/"
wine reg add 'HKLM\SOFTWARE\Orlivan' /v 'Install Path' /d 'C:\Program Files\Orlivan\' /f >/dev/null
# One server for all the short Wine processes below (it ends 30 s after the last).
wineserver -p30 2>/dev/null || true

rm -f "$demo"/*.png
step=0
shot() {
    step=$((step + 1))
    if [ "$own_display" = 1 ]; then
        local file
        file=$(printf '%s/%02d-%s.png' "$demo" "$step" "$1")
        if import -window root "$file" 2>/dev/null; then
            echo "    screenshot: $file"
        else
            echo "    screenshot $1 failed" >&2
        fi
    fi
}

# The stand-in's lines, without the console's carriage returns.
service() {
    wine 'C:\demo\orlivan-service-standin.exe' send "$@" 2>&1 | tr -d '\r' | sed 's/^/    /'
    return "${PIPESTATUS[0]}"
}
closer() {
    wine 'C:\demo\e2e_box_closer.exe' "$@" 2>&1 | tr -d '\r' | sed 's/^/    /'
    return "${PIPESTATUS[0]}"
}

ORLIVAN_LANG=$lang wine "C:\\Program Files\\Orlivan\\OrlivanSysTray.exe" &
notifier=$!
echo "Started the notifier under Wine (pid $notifier); its icon sits in Wine's system tray window."
echo "Waiting for its notification channel:"
service --connect-wait 30000 ack-only
sleep 1
shot started

# balloon LABEL RECORD...: the stand-in sends the record; its balloon shows.
balloon() {
    local label=$1
    shift
    echo "Balloon: $label"
    service "$@"
    # Wine's tray shows a balloon two seconds after it is asked for.
    sleep 2.5
    shot "$label"
}
balloon https-site-blocked https-site-blocked --detail example.com
balloon server-down server-down
balloon no-hotspot no-hotspot
balloon hotspot-detected hotspot-detected
balloon normal-mode normal-mode
balloon conflicting-application conflicting-application --detail 'name "ProxyTool.exe"'
balloon notifier-error notifier-error

# The first driver error of a run is a message box; the reply waits for it.
echo "Driver error (a message box, closed here as a user would):"
service driver-error --error-code -5 &
sender=$!
closer --leave-open "$driver_caption"
shot driver-error-box
closer "$driver_caption"
wait "$sender"
sleep 0.5
shot driver-error-closed

# Wine names the profile folder after the Unix user.
log="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/OrlivanLog/OrlivanSysTray.log"
echo "Log: $log"
if [ -f "$log" ]; then
    sed 's/^/    /' "$log" | tr -d '\r'
fi
if [ "$own_display" = 1 ]; then
    echo "Screenshots: $demo/*.png"
    wineserver -k 2>/dev/null || true
else
    echo "The notifier keeps running; close it with Ctrl-C."
    wait "$notifier"
fi
