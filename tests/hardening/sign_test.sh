#!/bin/sh
# scripts/sign.sh on this build's shipped files, with a throwaway certificate
# made here: osslsigncode verifies every signed file against it, one changed
# byte in a signed DLL fails verification, and removing the signatures gives
# back the very bytes that were linked.
# $1 scripts/sign.sh  $2 bin folder  $3 work folder
set -u
sign=$1 bin=$2 work=$3
passed=0 failed=0
check() { # what, condition (shell text)
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; return 1; fi
}
rm -rf "$work" && mkdir -p "$work/signed"
for f in KX_Pellam.dll KX_Brindel.dll kxcall.exe; do cp "$bin/$f" "$work/signed/$f"; done
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KX throwaway signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >"$work/openssl.log" 2>&1 &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:kx-throwaway \
    -out "$work/signer.pfx" >>"$work/openssl.log" 2>&1
check "openssl makes the throwaway certificate" '[ -s "$work/signer.pfx" ]' || { cat "$work/openssl.log"; exit 1; }

KX_SIGN_PASSWORD=kx-throwaway sh -c '"$0" "$1" "$2"' "$sign" "$work/signer.pfx" "$work/signed" >"$work/sign.log" 2>&1
check "sign.sh signs the three files" 'grep -q "signed 3 file" "$work/sign.log"' || cat "$work/sign.log"
KX_SIGN_PASSWORD=wrong sh -c '"$0" "$1" "$2"' "$sign" "$work/signer.pfx" "$work/signed" >/dev/null 2>&1
rc=$?
check "a wrong password is refused" '[ $rc != 0 ]'
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$1.verify" 2>&1; }
for f in KX_Pellam.dll KX_Brindel.dll kxcall.exe; do
  check "$f: signed and verified" 'verify "$work/signed/$f"' || cat "$work/signed/$f.verify"
  check "$f: the signature is SHA-256" 'grep -qi "sha256" "$work/signed/$f.verify"'
done

# One byte of code changed, 1 KB into the file (its first section).
cp "$work/signed/KX_Pellam.dll" "$work/changed.dll"
byte=$(od -An -tu1 -j 1024 -N 1 "$work/changed.dll" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$work/changed.dll" bs=1 seek=1024 conv=notrunc status=none
check "one changed byte fails verification" '! verify "$work/changed.dll" && ! cmp -s "$work/changed.dll" "$work/signed/KX_Pellam.dll"'

sh "$sign" --remove "$work/signed" >/dev/null 2>&1
for f in KX_Pellam.dll KX_Brindel.dll kxcall.exe; do
  check "$f: unsigned again, the linked bytes" 'cmp -s "$work/signed/$f" "$bin/$f"'
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
