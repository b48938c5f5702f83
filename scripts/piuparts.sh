#!/usr/bin/env bash
# An occasional check of the Debian packages, not part of scripts/test.sh:
# builds them (preset linux-package) and has piuparts install, remove and purge
# each one in a clean Debian 12 (bookworm) root made with debootstrap, checking
# that nothing is left behind and that its dependencies install. Needs root and
# the Debian mirror (ORLIVAN_DEBIAN_MIRROR, default http://deb.debian.org/debian);
# takes several minutes per package. Logs in build/piuparts/<package>.log.
# Usage: scripts/piuparts.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"

if [ "$(id -u)" -ne 0 ]; then
    echo "piuparts.sh: piuparts makes its root with debootstrap and chroot: run as root" >&2
    exit 1
fi
"$here/setup.sh" >/dev/null
if ! command -v piuparts >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq piuparts debootstrap >/dev/null 2>&1 ||
        { echo "piuparts.sh: could not install piuparts and debootstrap" >&2; exit 1; }
fi

build="$top/build/linux-package"
cmake --preset linux-package >/dev/null
cmake --build --preset linux-package >/dev/null
debs="$build/debs"
rm -rf "$debs"
(cd "$build" && cpack -B "$debs" >/dev/null 2>&1)

logs="$top/build/piuparts"
mkdir -p "$logs"
mirror=${ORLIVAN_DEBIAN_MIRROR:-http://deb.debian.org/debian}
status=0
for deb in "$debs"/*.deb; do
    package=$(dpkg-deb -f "$deb" Package)
    if piuparts --distribution=bookworm --mirror="$mirror main" \
        --logfile="$logs/$package.log" "$deb" >/dev/null 2>&1; then
        echo "piuparts: $package: $(grep -o 'PASS: All tests\.' "$logs/$package.log" | tail -n 1)"
    else
        echo "piuparts: $package FAILED, see $logs/$package.log" >&2
        status=1
    fi
done
exit $status
