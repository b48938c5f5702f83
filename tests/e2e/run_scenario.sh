#!/usr/bin/env bash
# Runs one end-to-end scenario: a fresh copy of the booted base prefix of its
# own, an X display (the caller's, or an Xvfb started here), the driver under
# Wine, then the prefix's wineserver is ended. The prefix is removed when the
# scenario passes and kept for inspection when it fails. The service stand-in
# is copied into the prefix as C:\e2e\orlivan-service-standin.exe, where scenarios
# start it. A scenario whose name ends in _win64 runs in a 64-bit prefix.
# Screenshots a scenario asks for are kept in build/test-logs/screenshots/
# SCENARIO/ (or $ORLIVAN_SCREENSHOTS/SCENARIO/).
#
#   run_scenario.sh DRIVER RECORDER NOTIFIER STAND_IN RUNS_DIR SCENARIO
set -uo pipefail
if [ $# -ne 6 ]; then
    echo "usage: $0 DRIVER RECORDER NOTIFIER STAND_IN RUNS_DIR SCENARIO" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../../scripts/lib/wine.sh"
driver=$1 recorder=$2 notifier=$3 stand_in=$4 runs=$5 scenario=$6

# Wine maps the Unix root to drive Z:.
windows_path() { local p; p=$(realpath "$1"); printf 'Z:%s' "${p//\//\\}"; }

# Without a display, an Xvfb of this run's own; Xvfb picks a free display
# number itself, so runs started at the same moment never share one.
xvfb_pid=
own_display() {
    local number_file=$1 i
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for i in $(seq 1 100); do
        if [ -s "$number_file" ]; then
            export DISPLAY=":$(head -n 1 "$number_file")"
            return 0
        fi
        sleep 0.05
    done
    echo "could not start Xvfb" >&2
    return 1
}

# Takes the screenshots the driver asks for: C:\e2e\screenshots\NAME.request
# in the prefix becomes NAME.png of the whole display, or of the area the
# request holds (an X geometry such as 640x480+10+20), and the request is
# renamed to NAME.done (or NAME.failed, with the reason in NAME.error).
shots_pid=
serve_screenshots() {
    local requests=$1 shots=$2 request name area crop
    while sleep 0.2; do
        for request in "$requests"/*.request; do
            [ -e "$request" ] || continue
            name=$(basename "$request" .request)
            area=$(head -c 64 "$request" | tr -cd '0-9x+')
            crop=()
            [ -n "$area" ] && crop=(-crop "$area")
            mkdir -p "$shots"
            if import -window root "${crop[@]}" +repage "$shots/$name.png" 2>"$requests/$name.error"; then
                mv "$request" "$requests/$name.done"
            else
                mv "$request" "$requests/$name.failed"
            fi
        done
    done
}

prefix="$runs/$scenario/pfx"
export WINEPREFIX="$prefix"
cleanup() {
    if [ -n "$shots_pid" ]; then
        kill "$shots_pid" 2>/dev/null || true
        wait "$shots_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT
arch=win32
case "$scenario" in *_win64) arch=win64 ;; esac
wine_fresh_prefix "$arch" "$prefix"
mkdir -p "$prefix/drive_c/e2e"
cp "$stand_in" "$prefix/drive_c/e2e/orlivan-service-standin.exe"
if [ -z "${DISPLAY:-}" ]; then
    own_display "$runs/$scenario/display" || exit 1
fi
serve_screenshots "$prefix/drive_c/e2e/screenshots" \
    "${ORLIVAN_SCREENSHOTS:-$here/../../build/test-logs/screenshots}/$scenario" &
shots_pid=$!

# Wine takes the user's UI language from the locale variables of the programs
# it starts: a scenario whose name ends in _de runs in German, every other one
# in English whatever the caller's locale.
unset LC_ALL LC_MESSAGES LANGUAGE ORLIVAN_LANG
case "$scenario" in
    *_de) export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 ;;
    *) export LANG=C.UTF-8 ;;
esac
started=$(date +%s)
log="$runs/$scenario/driver.log"
timeout -k 10 200 wine "$driver" --notifier "$(windows_path "$notifier")" \
    --recorder "$(windows_path "$recorder")" "$scenario" >"$log" 2>&1
status=$?
cat "$log"
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
echo "($scenario: $(( $(date +%s) - started )) s under Wine)"
if [ $status -eq 0 ]; then
    rm -rf "$runs/$scenario"
elif [ $status -eq 124 ]; then
    echo "FAIL $scenario: the driver did not end within 200 s (prefix kept: $prefix)"
else
    echo "(prefix and driver.log kept for inspection in $runs/$scenario)"
fi
exit $status
