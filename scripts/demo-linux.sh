#!/usr/bin/env bash
# The Linux notifier's demo: builds orlivan-notifier and the stand-in, starts a
# private D-Bus session with dunst (a real notification server) and
# xfce4-panel's tray (a real StatusNotifierItem host), starts orlivan-notifier, lets the stand-in deliver one
# record of each kind and closes the driver-error box as a user would. Without
# a display it runs on an Xvfb of its own and saves a screenshot after each
# step in build/demo-linux/; on your display it leaves the notifier running
# until you press Ctrl-C.
# ORLIVAN_DEMO_LANG (a catalogue language: de, fr, es, pt_BR, ru, qps-ploc)
# runs it in that language.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"
lang=${ORLIVAN_DEMO_LANG:-en}
driver_caption=$(python3 "$top/po/compile_catalogue.py" "$top/po" --text "$lang" DriverErrorTitle)

if [ -z "${ORLIVAN_DEMO_IN_SESSION:-}" ]; then
    "$here/setup.sh"
    cmake --preset linux-release >/dev/null
    cmake --build --preset linux-release --target orlivan-notifier orlivan-service >/dev/null
    . "$here/lib/wine.sh"  # start_xvfb, stop_xvfb
    own_display=0
    if [ -z "${DISPLAY:-}" ]; then
        start_xvfb
        own_display=1
        trap 'stop_xvfb' EXIT
    fi
    # Everything below runs on a D-Bus session of its own, ended with it.
    ORLIVAN_DEMO_IN_SESSION=1 ORLIVAN_DEMO_OWN_DISPLAY=$own_display \
        dbus-run-session -- "$0" "$@"
    exit $?
fi

build="$top/build/linux-release"
demo="$top/build/demo-linux"
own_display=$ORLIVAN_DEMO_OWN_DISPLAY
rm -rf "$demo"
mkdir -p "$demo/install/ui"
# The demo's own channel folder, log and install folder (with a settings
# program that says when it is started).
export ORLIVAN_CHANNEL_DIR="$demo/channels"
export XDG_STATE_HOME="$demo/state"
export ORLIVAN_CONFIG="$demo/notifier.conf"
echo "InstallPath=$demo/install/" >"$ORLIVAN_CONFIG"
printf '#!/bin/sh\necho "    the settings program was started"\n' >"$demo/install/ui/orlivan-ui"
chmod +x "$demo/install/ui/orlivan-ui"

step=0
shot() {
    step=$((step + 1))
    if [ "$own_display" = 1 ]; then
        local file
        file=$(printf '%s/%02d-%s.png' "$demo" "$step" "$1")
        import -window root "$file" 2>/dev/null && echo "    screenshot: $file"
    fi
}
service() {
    "$build/tools/orlivan-service" send "$@" 2>&1 | sed 's/^/    /'
    return "${PIPESTATUS[0]}"
}

pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
dunst -config /dev/null >/dev/null 2>&1 &
pids+=($!)
if [ "$own_display" = 1 ]; then
    # A panel with only its tray, which hosts orlivan-notifier's item and draws
    # its icon; the panel's settings daemon, started by the bus, reads them
    # from a folder of the demo's own.
    mkdir -p "$demo/config/xfce4/xfconf/xfce-perchannel-xml"
    cp "$top/tests/linux/xfce4-panel.xml" "$demo/config/xfce4/xfconf/xfce-perchannel-xml/"
    dbus-update-activation-environment XDG_CONFIG_HOME="$demo/config"
    XDG_CONFIG_HOME="$demo/config" xfce4-panel --disable-wm-check >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
            org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher |
            grep -q 'boolean true' && break
        sleep 0.1
    done
fi
sleep 1
ORLIVAN_LANG=$lang "$build/src/app_qt/orlivan-notifier" &
notifier=$!
pids+=($notifier)
echo "Started orlivan-notifier (pid $notifier); waiting for its notification channel:"
service --connect-wait 30000 ack-only
# The panel draws the icon at once; without a StatusNotifierWatcher (on your
# display) it goes to the X11 tray after a short wait.
sleep $((own_display ? 2 : 6))
shot started
if [ "$own_display" = 1 ]; then
    # The tray menu, opened with a right click on the icon in the panel's tray.
    tray=$(xdotool search --onlyvisible --class wrapper-2.0 2>/dev/null | head -n 1) || true
    if [ -n "$tray" ]; then
        eval "$(xdotool getwindowgeometry --shell "$tray")"
        xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
        sleep 1
        shot tray-menu
        xdotool key Escape
        sleep 0.5
    fi
fi

notification() {
    local label=$1
    shift
    echo "Notification: $label"
    service "$@"
    sleep 1
    shot "$label"
}
notification https-site-blocked https-site-blocked --detail example.com
notification server-down server-down
notification no-hotspot no-hotspot
notification hotspot-detected hotspot-detected
notification normal-mode normal-mode
notification conflicting-application conflicting-application --detail 'name "proxytool"'
notification notifier-error notifier-error

echo "Driver error (a message box, closed here as a user would):"
service driver-error --error-code -5 &
sender=$!
for _ in $(seq 1 100); do
    box=$(xdotool search --onlyvisible --name "^$driver_caption\$" 2>/dev/null | head -n 1) || true
    [ -n "$box" ] && break
    sleep 0.1
done
sleep 0.5
shot driver-error-box
xdotool windowfocus --sync "$box" key Return
wait "$sender"
sleep 0.5
shot driver-error-closed

echo "The notifier's log ($XDG_STATE_HOME/orlivan/OrlivanSysTray.log):"
sed 's/^/    /' "$XDG_STATE_HOME/orlivan/OrlivanSysTray.log"
if [ "$own_display" = 1 ]; then
    kill -TERM "$notifier"
    wait "$notifier" || true
    echo "Done; screenshots in $demo"
else
    echo "orlivan-notifier keeps running on your display; press Ctrl-C to end it."
    wait "$notifier"
fi
