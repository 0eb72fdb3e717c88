#!/usr/bin/env bash
# A signed release, made by scripts/package.sh with a throwaway certificate
# made here: the zip's exe and the MSI verify against that certificate (and
# not against another), the MSI holds the signed exe, the exe without its
# signature is the build's byte for byte, and SHA256SUMS covers both files.
# A certificate given wrongly stops the release instead of leaving it
# unsigned. Leaves the signed release and its exe, unpacked, in OUT, for the
# 32-bit end-to-end entry that runs the signed exe.
# usage: check-signing.sh BUILD OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
out=$2

fail() { echo "check-signing: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=/dev/null
source "$build/pack.env"
unset VT_SIGN_PKCS12 VT_SIGN_PASSWORD VT_SIGN_TIMESTAMP_URL

for name in signer other; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=vt-agent test $name" \
    -addext extendedKeyUsage=codeSigning \
    -keyout "$tmp/$name.key" -out "$tmp/$name.pem" 2> /dev/null
done
openssl pkcs12 -export -inkey "$tmp/signer.key" -in "$tmp/signer.pem" \
  -out "$tmp/signer.p12" -passout pass:test-password

# Each of these must fail the release, not give an unsigned one.
while IFS='|' read -r what pkcs12 password; do
  if env ${pkcs12:+VT_SIGN_PKCS12="$pkcs12"} ${password:+VT_SIGN_PASSWORD="$password"} \
       bash "$here/../scripts/package.sh" "$build" "$tmp/refused" > /dev/null 2>&1; then
    fail "a release was made with $what"
  fi
done <<EOF
a wrong password|$tmp/signer.p12|wrong
a certificate file that is not there|$tmp/missing.p12|test-password
a password but no certificate||test-password
EOF

rm -rf "$out"
made=$(VT_SIGN_PKCS12=$tmp/signer.p12 VT_SIGN_PASSWORD=test-password \
  bash "$here/../scripts/package.sh" "$build" "$out")
zip=$(sed -n 1p <<<"$made") msi=$(sed -n 2p <<<"$made")

verify() {  # FILE CERT
  osslsigncode verify -CAfile "$2" -in "$1" > "$tmp/verify.log" 2>&1
}
unzip -q "$zip" vt-agent.exe -d "$out"
signed=$out/vt-agent.exe
for file in "$signed" "$msi"; do
  verify "$file" "$tmp/signer.pem" ||
    fail "$(basename "$file") does not verify: $(cat "$tmp/verify.log")"
  ! verify "$file" "$tmp/other.pem" ||
    fail "$(basename "$file") verifies against a certificate that did not sign it"
done

osslsigncode remove-signature -in "$signed" -out "$tmp/unsigned.exe" > /dev/null
cmp "$tmp/unsigned.exe" "$exe" || fail "the exe without its signature is not the build's"
msiextract -C "$tmp/msi" "$msi" > /dev/null
cmp "$tmp/msi/Program Files/Veltrane/vt-agent/vt-agent.exe" "$signed" ||
  fail "the MSI does not hold the signed exe"
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
[ "$(cut -d' ' -f3 "$out/SHA256SUMS" | xargs)" = "$(basename "$zip") $(basename "$msi")" ] ||
  fail "SHA256SUMS lists $(cut -d' ' -f3 "$out/SHA256SUMS" | xargs)"
echo "check-signing: $(basename "$zip") and $(basename "$msi") signed and verified"
