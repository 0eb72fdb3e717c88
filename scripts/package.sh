#!/usr/bin/env bash
# Makes a win32 build's release files in OUT: the zip (scripts/pack.sh), the
# MSI made from that zip (scripts/msi.sh), and SHA256SUMS listing both.
# When VT_SIGN_PKCS12 names a certificate (scripts/sign.sh has the
# variables), the exe is signed before it is packed, so that the zip and the
# MSI hold the signed exe, and the MSI is signed once it is built. Without
# it, both are unsigned and reproducible.
# usage: package.sh BUILD OUT    prints the zip's path, then the MSI's
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

fail() { echo "package: $*" >&2; exit 1; }
# A certificate half given (a secret under a wrong name, say) must not
# quietly give an unsigned release.
if [ -z "${VT_SIGN_PKCS12:-}" ] &&
   [ -n "${VT_SIGN_PASSWORD:-}${VT_SIGN_TIMESTAMP_URL:-}" ]; then
  fail "VT_SIGN_PASSWORD or VT_SIGN_TIMESTAMP_URL is set, but VT_SIGN_PKCS12 is not"
fi
# shellcheck source=/dev/null
source "$build/pack.env"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

pack_build=$build
if [ -n "${VT_SIGN_PKCS12:-}" ]; then
  bash "$here/sign.sh" "$exe" "$tmp/vt-agent.exe"
  # pack.sh packs the exe that BUILD/pack.env names: a view of the build
  # whose pack.env names the signed one instead.
  pack_build=$tmp/build
  mkdir "$pack_build"
  ln -s "$build"/* "$pack_build/"
  rm "$pack_build/pack.env"
  { cat "$build/pack.env"; echo "exe='$tmp/vt-agent.exe'"; } > "$pack_build/pack.env"
fi

zip=$(bash "$here/pack.sh" "$pack_build" "$out")
msi=$(bash "$here/msi.sh" "$build" "$zip" "$tmp/msi")
if [ -n "${VT_SIGN_PKCS12:-}" ]; then
  bash "$here/sign.sh" "$msi" "$out/$(basename "$msi")"
else
  mv "$msi" "$out/"
fi
msi=$out/$(basename "$msi")
(cd "$out" && sha256sum "$(basename "$msi")" >> SHA256SUMS)
echo "$zip"
echo "$msi"
