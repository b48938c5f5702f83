#!/usr/bin/env bash
# scripts/package.sh with a throw-away self-signed code-signing certificate and
# a throw-away RFC 3161 time-stamp server on this machine (tsa_server.py):
# the notifier in the end users' zip, the stand-in in the developers' zip, the
# program inside the MSI, the MSI's helper and the MSI itself carry time-stamped Authenticode
# signatures that osslsigncode verifies against those certificates, and the
# SHA256SUMS of both zips and of dist/ are those of the signed files. Then without a certificate: the
# package says it is unsigned and its programs carry no signature.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
tsa=
trap '[ -z "$tsa" ] || kill "$tsa"; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orlivan Test Signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/sign.p12" \
    -passout pass:throw-away

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orlivan Test Time Stamps" \
    -addext "extendedKeyUsage=critical,timeStamping" \
    -keyout "$work/tsa.key" -out "$work/tsa.pem" 2>/dev/null
python3 "$here/tsa_server.py" "$work" >"$work/port" &
tsa=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done

verify() {  # verify FILE: the signature and its time stamp hold, with the test roots
    local out
    out=$(osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa.pem" -in "$1" 2>&1)
    if echo "$out" | grep -q '^Signature verification: ok' &&
        echo "$out" | grep -q 'Timestamp Server Signature verification: ok'; then
        echo "verified $(basename "$1"): $(echo "$out" | grep -m1 -iE 'subject:' | sed 's/^\s*//')"
        return 0
    fi
    echo "$out" | tail -n 5
    return 1
}

out=$(ORLIVAN_SIGN_PKCS12="$work/sign.p12" ORLIVAN_SIGN_PASSWORD=throw-away \
    ORLIVAN_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$work/port")" "$top/scripts/package.sh" 2>&1) ||
    fail "signed package: $out"
echo "$out" | grep -q '^signed: ' || fail "no 'signed:' line: $out"
zip=$(ls "$top"/dist/OrlivanNotifier-*-win32.zip)
devtools=$(ls "$top"/dist/OrlivanNotifier-*-win32-devtools.zip)
msi=$(ls "$top"/dist/OrlivanNotifier-*-win32.msi)
mkdir "$work/zip" "$work/devtools" "$work/msi"
(cd "$work/zip" && python3 -m zipfile -e "$zip" .)
(cd "$work/devtools" && python3 -m zipfile -e "$devtools" .)
msiextract -C "$work/msi" "$msi" >/dev/null
folder=$(ls -d "$work"/zip/OrlivanNotifier-*)
devfolder=$(ls -d "$work"/devtools/OrlivanNotifier-*)
# The installer's helper is verified as staged for the MSI's Binary table.
for file in "$folder/OrlivanSysTray.exe" "$devfolder/orlivan-service-standin.exe" \
    "$devfolder"/x86/orlivan-notify.dll "$devfolder"/x64/orlivan-notify.dll \
    "$work"/msi/*/*/OrlivanSysTray.exe "$top/build/windows-x86/packaging/installer/orlivan-close-notifiers.exe" \
    "$msi"; do
    verify "$file" || fail "signature of $file"
done
(cd "$folder" && sha256sum --quiet -c SHA256SUMS) || fail "the zip's SHA256SUMS"
(cd "$devfolder" && sha256sum --quiet -c SHA256SUMS) || fail "the developers' zip's SHA256SUMS"
(cd "$top/dist" && sha256sum --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS"

out=$("$top/scripts/package.sh" 2>&1) || fail "unsigned package: $out"
echo "$out" | grep -q '^UNSIGNED: ' || fail "no 'UNSIGNED:' line: $out"
rm -rf "$work/zip" && mkdir "$work/zip" && (cd "$work/zip" && python3 -m zipfile -e "$zip" .)
verify "$work"/zip/OrlivanNotifier-*/OrlivanSysTray.exe >/dev/null &&
    fail "the unsigned package's program carries a signature"

if [ "$failures" -ne 0 ]; then
    echo "signing: $failures failed"
    exit 1
fi
echo "signing: all checks passed"
