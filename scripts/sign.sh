#!/usr/bin/env bash
# Authenticode for the shipped files.
#
#   KX_SIGN_PASSWORD=... scripts/sign.sh FILE.pfx FOLDER
#       signs every .dll and .exe below FOLDER in place (SHA-256), with the
#       certificate and key of FILE.pfx; KX_SIGN_TIMESTAMP=<url> also has an
#       RFC 3161 server countersign each signature, so that it outlives the
#       certificate.
#   scripts/sign.sh --remove FOLDER
#       takes the signatures off again: the unsigned files as they were linked.
#
# The password is read from the environment only, and handed to osslsigncode
# through a pipe: a command line is visible to every user of the machine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kx_need osslsigncode osslsigncode

pe_files() { find "$1" -type f \( -iname '*.dll' -o -iname '*.exe' \) | sort; }

if [ "${1:-}" = --remove ] && [ $# = 2 ]; then
  pe_files "$2" | while read -r file; do
    # The signature comes off whole and the PE checksum is computed again, as
    # the linker computed it: the files' sizes are multiples of 512, so
    # signing added no padding that would stay behind.
    osslsigncode remove-signature -in "$file" -out "$file.unsigned" >/dev/null
    mv "$file.unsigned" "$file"
  done
  exit 0
fi
if [ $# != 2 ] || [ ! -f "$1" ] || [ ! -d "$2" ]; then
  echo "usage: KX_SIGN_PASSWORD=... scripts/sign.sh FILE.pfx FOLDER | scripts/sign.sh --remove FOLDER" >&2
  exit 2
fi
if [ -z "${KX_SIGN_PASSWORD+set}" ]; then
  echo "sign.sh: KX_SIGN_PASSWORD is not set" >&2
  exit 2
fi
# The signing time is the commit's where a release gives it: the same key
# then signs the same bytes into the same bytes (RSA signatures are
# deterministic; a timestamp is not).
when=()
[ -n "${SOURCE_DATE_EPOCH:-}" ] && when=(-time "$SOURCE_DATE_EPOCH")
stamp=()
[ -n "${KX_SIGN_TIMESTAMP:-}" ] && stamp=(-ts "$KX_SIGN_TIMESTAMP")
count=0
while read -r file; do
  osslsigncode sign -pkcs12 "$1" -readpass <(printf '%s' "$KX_SIGN_PASSWORD") -h sha256 \
    -n "KX_Pellam" "${when[@]}" "${stamp[@]}" -in "$file" -out "$file.signed" >/dev/null ||
    { echo "sign.sh: signing $file failed" >&2; rm -f "$file.signed"; exit 1; }
  mv "$file.signed" "$file"
  count=$((count + 1))
done < <(pe_files "$2")
echo "== signed $count file(s) below $2"
