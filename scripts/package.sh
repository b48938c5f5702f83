#!/usr/bin/env bash
# Builds the release package of the Windows program (Release build, preset
# windows-x86) and puts it in dist/:
#   OrlivanNotifier-<version>-win32.zip   for end users: the stripped notifier,
#                                         docs, LICENSE.txt, SHA256SUMS
#   OrlivanNotifier-<version>-win32-devtools.zip   for developers and service
#                                         teams: the stripped service stand-in,
#                                         docs/protocol.md, LICENSE.txt, SHA256SUMS
#   OrlivanNotifier-<version>-win32.msi   the installer
#   OrlivanSysTray.exe.debug, orlivan-service-standin.exe.debug   their symbols (not shipped)
#   SHA256SUMS                            sums of the files above
# The version is the project version in CMakeLists.txt. Prints the sizes.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"

"$here/setup.sh" >/dev/null

build="$top/build/windows-x86"
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 --target dist >/dev/null

rm -rf "$top/dist"
mkdir -p "$top/dist"
# Every release file the build made, as listed in its SHA256SUMS.
while read -r _ name; do
    cp "$build/dist/$name" "$top/dist/$name"
done <"$build/dist/SHA256SUMS"
cp "$build/dist/SHA256SUMS" "$top/dist/"
(cd "$top/dist" && sha256sum --quiet -c SHA256SUMS)

zip=$(ls "$top"/dist/OrlivanNotifier-*-win32.zip)
devtools=$(ls "$top"/dist/OrlivanNotifier-*-win32-devtools.zip)
msi=$(ls "$top"/dist/OrlivanNotifier-*-win32.msi)
stage="$build/packaging/$(basename "$zip" .zip)"
size() { stat -c %s "$1"; }
echo "package: $(basename "$zip" .zip)"
printf '  %-50s %9s bytes\n' \
    "OrlivanSysTray.exe (unstripped)" "$(size "$build/OrlivanSysTray.exe")" \
    "OrlivanSysTray.exe (stripped, shipped)" "$(size "$stage/OrlivanSysTray.exe")" \
    "orlivan-service-standin.exe (stripped, devtools)" \
    "$(size "$stage-devtools/orlivan-service-standin.exe")" \
    "$(basename "$zip")" "$(size "$zip")" \
    "$(basename "$devtools")" "$(size "$devtools")" \
    "$(basename "$msi")" "$(size "$msi")"
echo "installer properties:"
msiinfo export "$msi" Property | grep -E '^(ProductName|ProductVersion|ProductCode|UpgradeCode)\s' |
    sed 's/^/  /'
echo "in $top/dist"
