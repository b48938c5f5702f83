#!/usr/bin/env bash
# The Linux notifier's demo: builds orlivan-notifier and the stand-in, starts
# a desktop, starts orlivan-notifier, lets the stand-in deliver one record of
# each kind and closes the driver-error box as a user would. Without a display
# it runs in a headless GNOME Shell (Wayland, with the AppIndicator extension,
# on D-Bus buses of its own: tests/linux/gnome_shell.py) when GNOME Shell is
# installed, else on an Xvfb of its own with a private D-Bus session, dunst (a
# real notification server) and xfce4-panel's tray (a real StatusNotifierItem
# host); either way it saves a screenshot after each step in
# build/demo-linux/. On your display (private D-Bus session, dunst) it leaves
# the notifier running until you press Ctrl-C.
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
    cmake --build --preset linux-release --target orlivan-notifier orlivan-service-standin >/dev/null
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && command -v gnome-shell >/dev/null; then
        ORLIVAN_DEMO_IN_SESSION=1 ORLIVAN_DEMO_OWN_DISPLAY=1 ORLIVAN_DEMO_GNOME=1 \
            /usr/bin/python3 "$top/tests/linux/gnome_shell.py" "$top/build/linux-release" \
            -- "$0" "$@"
        exit $?
    fi
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
gnome=${ORLIVAN_DEMO_GNOME:-0}
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

# GNOME Shell's own JavaScript (its Eval), for the demo's clicks there.
shell_eval() {
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval "$1"
}
step=0
shot() {
    step=$((step + 1))
    if [ "$own_display" = 1 ]; then
        local file
        file=$(printf '%s/%02d-%s.png' "$demo" "$step" "$1")
        if [ "$gnome" = 1 ]; then
            gdbus call --session --dest org.gnome.Shell.Screenshot \
                --object-path /org/gnome/Shell/Screenshot \
                --method org.gnome.Shell.Screenshot.Screenshot false false "$file" >/dev/null &&
                echo "    screenshot: $file"
        else
            import -window root "$file" 2>/dev/null && echo "    screenshot: $file"
        fi
    fi
}
service() {
    "$build/tools/orlivan-service-standin" send "$@" 2>&1 | sed 's/^/    /'
    return "${PIPESTATUS[0]}"
}

pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
if [ "$gnome" = 1 ]; then
    # GNOME Shell is the notification server and, with its AppIndicator
    # extension, the tray host; the notifier runs on Wayland.
    export QT_QPA_PLATFORM=wayland
else
    dunst -config /dev/null >/dev/null 2>&1 &
    pids+=($!)
fi
if [ "$own_display" = 1 ] && [ "$gnome" = 0 ]; then
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
indicator="Object.entries(Main.panel.statusArea).find(([k, v]) => k.startsWith('appindicator-') && v && v.visible)?.[1]"
if [ "$gnome" = 1 ]; then
    # The tray menu, opened on the icon in GNOME's top bar.
    shell_eval "$indicator.menu.open(); true" >/dev/null
    sleep 1
    shot tray-menu
    shell_eval "$indicator.menu.close(); true" >/dev/null
    sleep 0.5
elif [ "$own_display" = 1 ]; then
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
caption_js=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$driver_caption")
box_windows="global.get_window_actors().map(a => a.meta_window).filter(w => w.get_title() === $caption_js)"
for _ in $(seq 1 100); do
    if [ "$gnome" = 1 ]; then
        shell_eval "$box_windows.length > 0" | grep -q "'true'" && break
    else
        box=$(xdotool search --onlyvisible --name "^$driver_caption\$" 2>/dev/null | head -n 1) || true
        [ -n "$box" ] && break
    fi
    sleep 0.1
done
sleep 0.5
shot driver-error-box
if [ "$gnome" = 1 ]; then
    # Closed as with its title bar's close button (xdotool can't reach Wayland).
    shell_eval "$box_windows.forEach(w => w.delete(global.get_current_time())); true" >/dev/null
else
    xdotool windowfocus --sync "$box" key Return
fi
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
