#!/usr/bin/env bash
# Builds the release package of the Windows program (Release build, preset
# windows-x86) and puts it in dist/:
#   OrlivanNotifier-<version>-win32.zip   for end users: the stripped notifier,
#                                         docs, LICENSE.txt, SHA256SUMS
#   OrlivanNotifier-<version>-win32-devtools.zip   for developers and service
#                                         teams: the stripped service stand-in,
#                                         the service library (x86/ and x64/
#                                         DLLs and import libraries, include/,
#                                         examples/), docs/protocol.md,
#                                         docs/service-library.md, LICENSE.txt,
#                                         SHA256SUMS
#   OrlivanNotifier-<version>-win32.msi   the installer
#   OrlivanSysTray.exe.debug, orlivan-service-standin.exe.debug   their symbols (not shipped)
#   SHA256SUMS                            sums of the files above
# The version is the project version in CMakeLists.txt. Prints the sizes.
#
# Signing (Authenticode, SHA-256, with osslsigncode): when ORLIVAN_SIGN_PKCS12
# names a .p12/.pfx and ORLIVAN_SIGN_PASSWORD holds its password, both
# programs are signed before they are packed into the zip and the MSI, and the
# MSI after it is built; the SHA256SUMS are those of the signed files. With
# ORLIVAN_SIGN_TIMESTAMP_URL the signatures carry an RFC 3161 time stamp from
# that server, so they stay valid after the certificate expires. Without a
# certificate the package is built unsigned, and the script says so.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"

"$here/setup.sh" >/dev/null

build="$top/build/windows-x86"
if [ -n "${ORLIVAN_SIGN_PKCS12:-}" ]; then
    if [ ! -r "$ORLIVAN_SIGN_PKCS12" ] || [ -z "${ORLIVAN_SIGN_PASSWORD+set}" ]; then
        echo "package: ORLIVAN_SIGN_PKCS12 must name a readable .p12/.pfx and" \
             "ORLIVAN_SIGN_PASSWORD must be set" >&2
        exit 1
    fi
    echo "signing with $ORLIVAN_SIGN_PKCS12${ORLIVAN_SIGN_TIMESTAMP_URL:+, time stamps from $ORLIVAN_SIGN_TIMESTAMP_URL}"
else
    echo "UNSIGNED: no certificate given (ORLIVAN_SIGN_PKCS12, ORLIVAN_SIGN_PASSWORD)"
fi
cmake --preset windows-x86 >/dev/null
# The shipped programs and the installer are made again, signed or not as
# this run asks, and everything packed or summed after them follows.
rm -f "$build"/packaging/OrlivanNotifier-*-win32/*.exe \
    "$build"/packaging/OrlivanNotifier-*-win32-devtools/*.exe \
    "$build"/packaging/OrlivanNotifier-*-win32-devtools/x*/orlivan-notify.dll \
    "$build"/packaging/installer/*.exe \
    "$build"/dist/*.msi
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
if [ -n "${ORLIVAN_SIGN_PKCS12:-}" ]; then
    echo "signed: OrlivanSysTray.exe, orlivan-service-standin.exe, $(basename "$msi")"
else
    echo "UNSIGNED: OrlivanSysTray.exe, orlivan-service-standin.exe, $(basename "$msi")"
fi
echo "in $top/dist"
