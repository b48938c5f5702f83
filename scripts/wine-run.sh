#!/usr/bin/env bash
# Runs a Windows test program under Wine: the emulator that ctest puts in front
# of every Windows test executable. Uses $WINEPREFIX when set (the test command
# sets it to a throw-away prefix), else a per-user test prefix made once from
# the booted base. A wineserver that stays 30 s after its last client keeps
# successive starts cheap. Without a display it starts an Xvfb for the run.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/lib/wine.sh"
if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX="${TMPDIR:-/tmp}/orlivan-wine-test-$(id -u)/pfx"
    if [ ! -d "$WINEPREFIX" ]; then
        wine_fresh_prefix win32 "$WINEPREFIX"
    fi
fi
# Windows tests create windows and dialogs: give them a display of their own
# when there is none.
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
    trap stop_xvfb EXIT
fi
wineserver -p30 2>/dev/null || true
wine "$@"
