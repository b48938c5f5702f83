#!/usr/bin/env bash
# Builds and runs every test: the portable core, the posix bindings and the
# Linux notifier natively in one tree under AddressSanitizer + UBSan, then in
# one under ThreadSanitizer (in both the notifier runs a few of its desktop
# scenarios), each fuzz target for 20 s, the Linux notifier's release build
# on Xvfb with a private D-Bus session (every scenario) and its .deb, then
# the Windows build under Wine on an Xvfb display (unit and component tests,
# end-to-end scenarios with the real OrlivanSysTray.exe), and the unit and
# component tests again built with clang.
# Ends with the totals: "tests: N passed, N failed, N skipped", then the plain
# "N passed, N failed" line alone (what CI reads). A skipped test counts as
# neither passed nor failed. The security checks that need a second user fail
# instead of skipping when CI=true (CI runs as root and they make that user).
# With ccache installed (setup.sh installs it) every compiler runs through it,
# its cache in the user's cache folder, so a second run or a second clone
# compiles only what changed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"

"$here/setup.sh" || exit 1
# The real KDE Plasma of the Linux notifier's KDE scenario (linux_kde), for the
# tests only and without recommended packages (about 350 packages).
missing_kde=()
for p in plasma-workspace plasma-desktop kded5; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing_kde+=("$p")
done
if [ ${#missing_kde[@]} -gt 0 ]; then
    echo "test: installing ${missing_kde[*]}"
    sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
        --no-install-recommends "${missing_kde[@]}" >/dev/null; } || exit 1
fi
. "$here/lib/wine.sh"

if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
    export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
    # Paths under the repository are hashed relative to it, so clones share hits.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
fi
began=$SECONDS

passed=0
failed=0
skipped=0
broken=0
logdir="$top/build/test-logs"
mkdir -p "$logdir"

# run_preset NAME: configure, build and test one preset; adds its counts.
run_preset() {
    local preset=$1 log="$logdir/$1.log" started=$SECONDS
    echo "== $preset: build"
    if ! cmake --preset "$preset" >"$log" 2>&1 || ! cmake --build --preset "$preset" >>"$log" 2>&1; then
        tail -n 60 "$log"
        echo "== $preset: BUILD FAILED (log: $log)"
        broken=$((broken + 1))
        return
    fi
    echo "== $preset: test (built in $((SECONDS - started)) s)"
    started=$SECONDS
    ctest --preset "$preset" -j2 2>&1 | tee -a "$log" | grep -E '^(\s*[0-9]+/[0-9]+ Test|[0-9]+% tests|The following|\s+[0-9]+ - )' 
    local line p f
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "== $preset: no test summary (log: $log)"
        broken=$((broken + 1))
        return
    fi
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    # CTest counts a skipped test among the passed ones: take them out.
    s=$(grep -cE '^\s*[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$log")
    p=$(( $(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/') - f - s ))
    passed=$((passed + p))
    failed=$((failed + f))
    skipped=$((skipped + s))
    echo "== $preset: $p passed, $f failed, $s skipped (tests $((SECONDS - started)) s; $((SECONDS - began)) s since the start)"
}

# run_step NAME COMMAND...: one check outside CTest, counted as one test.
run_step() {
    local name=$1 log="$logdir/$1.log"
    shift
    echo "== $name"
    if "$@" >"$log" 2>&1; then
        passed=$((passed + 1))
        tail -n 12 "$log"
    else
        failed=$((failed + 1))
        tail -n 30 "$log"
        echo "== $name: FAILED (log: $log)"
    fi
}

# run_fuzz: each fuzz target for 20 s; one that ends without a finding passes.
run_fuzz() {
    local log="$logdir/fuzz.log" line
    echo "== fuzz: build, then each target for 20 s"
    "$here/fuzz.sh" 20 2>&1 | tee "$log" | grep -vE '^fuzz: [0-9]+ passed'
    line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "== fuzz: no summary (log: $log)"
        broken=$((broken + 1))
        return
    fi
    passed=$((passed + $(echo "$line" | sed -E 's/fuzz: ([0-9]+) passed.*/\1/')))
    failed=$((failed + $(echo "$line" | sed -E 's/.* ([0-9]+) failed.*/\1/')))
}

# The portable core, the posix bindings and a few of the Linux notifier's
# scenarios, under AddressSanitizer and UBSan, then ThreadSanitizer: the
# worker's boxes (RunOnGui), the end with a box open (Stop), the desktop's
# activation, the tray item's late watchers and hosts, the GNOME group.
run_preset native
run_preset native-tsan
run_fuzz
# The Linux notifier: its scenarios start their own Xvfb and D-Bus session.
run_preset linux-release

start_xvfb || exit 1
export WINEPREFIX="$top/build/windows-x86/wine/pfx"
wine_fresh_prefix win32 "$WINEPREFIX"
run_preset windows-x86
# The release package signed with a throw-away certificate, then unsigned.
run_step signing "$top/tests/packaging/signing_test.sh"
wine_fresh_prefix win32 "$WINEPREFIX"
run_preset windows-x86-clang
wineserver -k 2>/dev/null || true
stop_xvfb

echo "tests: $passed passed, $failed failed, $skipped skipped"
echo "$passed passed, $failed failed"
if [ "$failed" -ne 0 ] || [ "$broken" -ne 0 ]; then
    exit 1
fi
exit 0
