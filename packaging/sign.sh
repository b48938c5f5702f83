#!/usr/bin/env bash
# Signs Windows programs and installers in place with Authenticode
# (osslsigncode, SHA-256), when the release engineer gives a certificate:
#   ORLIVAN_SIGN_PKCS12          the certificate and its key (.p12 / .pfx)
#   ORLIVAN_SIGN_PASSWORD        its password (may be empty, must be set)
#   ORLIVAN_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional)
# Without ORLIVAN_SIGN_PKCS12 it leaves the files as they are. The build runs
# it on each stripped program and on the installer, before they are packed or
# summed. Usage: sign.sh FILE...
set -euo pipefail
[ -n "${ORLIVAN_SIGN_PKCS12:-}" ] || exit 0
if [ ! -r "$ORLIVAN_SIGN_PKCS12" ] || [ -z "${ORLIVAN_SIGN_PASSWORD+set}" ]; then
    echo "sign.sh: ORLIVAN_SIGN_PKCS12 must name a readable .p12/.pfx and" \
         "ORLIVAN_SIGN_PASSWORD must be set" >&2
    exit 1
fi
# The password goes through a private file, not the command line (ps shows that).
pass=$(mktemp)
trap 'rm -f "$pass" "${out:-}"' EXIT
chmod 600 "$pass"
printf '%s' "$ORLIVAN_SIGN_PASSWORD" >"$pass"
stamp=()
if [ -n "${ORLIVAN_SIGN_TIMESTAMP_URL:-}" ]; then
    stamp=(-ts "$ORLIVAN_SIGN_TIMESTAMP_URL")
fi
for file in "$@"; do
    out="$file.signing"
    osslsigncode sign -pkcs12 "$ORLIVAN_SIGN_PKCS12" -readpass "$pass" -h sha256 \
        -n "Orlivan Notifier" -i "https://www.orlivan.com" "${stamp[@]}" \
        -in "$file" -out "$out" >/dev/null
    mv -f "$out" "$file"
    echo "signed $(basename "$file")"
done
