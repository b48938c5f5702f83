#!/usr/bin/env bash
# Runs the benchmark programs and prints their figures: the notification
# channel round trip (notifier worker against a raw echo), natively over the
# Unix socket binding (optimised build) and under Wine over the named pipe;
# then the Linux notifier against a minimal Qt tray program (start, memory,
# idle wake-ups over 60 s, round trip through the real program), and the
# Windows notifier's start-up to its tray icon under Wine against a minimal
# tray program with the same manifest.
# Figures only; nothing here passes or fails on a time.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"
round_trips=${1:-10000}

"$here/setup.sh" >/dev/null
. "$here/lib/wine.sh"

cmake --preset native-release >/dev/null
cmake --build --preset native-release --target channel_round_trip_bench >/dev/null
echo "== native, Unix domain socket"
build/native-release/bench/channel_round_trip_bench "$round_trips"

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target orlivan-notifier minimal_tray socket_round_trip \
    channel_round_trip_bench \
    >/dev/null
echo "== Linux notifier (Qt 6) against a minimal Qt 6 tray program"
xvfb-run -a dbus-run-session -- /usr/bin/python3 bench/linux_notifier_bench.py \
    "$top/build/linux-release" 60 "$round_trips" 2>&1 | grep -v 'fd limit'

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target channel_round_trip_bench OrlivanSysTray \
    minimal_tray_win win_start_bench >/dev/null
echo "== Windows under Wine, named pipe"
start_xvfb
export WINEPREFIX="$top/build/bench/pfx"
wine_fresh_prefix win32 "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true; stop_xvfb' EXIT
wine build/windows-x86/bench/channel_round_trip_bench.exe "$round_trips"
echo "== Windows under Wine, start-up to the tray icon (20 starts of each, alternating)"
wine build/windows-x86/bench/win_start_bench.exe \
    "$(winepath -w build/windows-x86/OrlivanSysTray.exe)" \
    "$(winepath -w build/windows-x86/bench/minimal_tray_win.exe)" 20
