#!/usr/bin/env bash
# Signs a Windows exe or MSI (Authenticode, with osslsigncode) with the
# certificate that the environment gives:
#   VT_SIGN_PKCS12         the PKCS#12 file holding the certificate and its key
#   VT_SIGN_PASSWORD       the file's password
#   VT_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping server, so that
#                          the signature stays valid after the certificate
#                          expires
# The signature is appended to the file as built: for an exe, removing it
# must give back the input byte for byte (the published unsigned exe, which
# anyone can rebuild), and this is checked here.
# usage: sign.sh IN OUT
set -euo pipefail
in=$1 out=$2

fail() { echo "sign: $*" >&2; exit 1; }
command -v osslsigncode > /dev/null || fail "osslsigncode not found (scripts/deps.sh msi)"
[ -n "${VT_SIGN_PKCS12:-}" ] || fail "VT_SIGN_PKCS12 is not set"
[ -f "$VT_SIGN_PKCS12" ] || fail "VT_SIGN_PKCS12: no file $VT_SIGN_PKCS12"
[ -n "${VT_SIGN_PASSWORD+set}" ] || fail "VT_SIGN_PASSWORD is not set"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The password goes through a file of this user's, not the command line,
# where any user could read it in the process list.
(umask 077 && printf '%s' "$VT_SIGN_PASSWORD" > "$tmp/password")
timestamp=()
[ -z "${VT_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$VT_SIGN_TIMESTAMP_URL")

rm -f "$out"
osslsigncode sign -pkcs12 "$VT_SIGN_PKCS12" -readpass "$tmp/password" \
  -h sha256 -n "Veltrane Integration Agent" "${timestamp[@]}" \
  -in "$in" -out "$out" > "$tmp/log" 2>&1 ||
  { cat "$tmp/log" >&2; fail "osslsigncode could not sign $in"; }

osslsigncode extract-signature -in "$out" -out "$tmp/signature" > "$tmp/log" 2>&1 ||
  { cat "$tmp/log" >&2; fail "$out carries no signature"; }
case $in in
  *.exe)
    osslsigncode remove-signature -in "$out" -out "$tmp/unsigned.exe" > "$tmp/log" 2>&1 ||
      { cat "$tmp/log" >&2; fail "cannot remove the signature from $out"; }
    cmp -s "$tmp/unsigned.exe" "$in" ||
      fail "$out without its signature is not $in byte for byte"
    ;;
esac
