#!/usr/bin/env bash
# The main job: builds the Windows program if needed and runs the notifier
# under Wine, on $DISPLAY or, when there is none, on an Xvfb display whose
# screenshots are saved under build/demo/. The service stand-in then delivers
# a short demo sequence of notifications.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"

"$here/setup.sh"
. "$here/lib/wine.sh"

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target OrlivanSysTray orlivan-service-standin e2e_box_closer >/dev/null

demo="$top/build/demo"
mkdir -p "$demo"
own_display=0
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
    own_display=1
    trap 'wineserver -k 2>/dev/null || true; stop_xvfb' EXIT
fi
export WINEPREFIX="$demo/pfx"
wine_fresh_prefix win32 "$WINEPREFIX"

# Not exec: the trap above must still stop Wine and the display afterwards.
"$here/demo.sh" "$top/build/windows-x86" "$demo" "$own_display"
