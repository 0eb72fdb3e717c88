#!/usr/bin/env bash
# Proves that the 32-bit release builds reproducibly: copies the checkout as
# it stands to another path, with new file times, builds gflags and
# vt-agent.exe there again and packs it (later, in another time zone, locale
# and umask, without the tests), and compares the exes, the notices, the
# zips (and so the SBOM and the other files packed with the exe) and
# SHA256SUMS with this build's byte for byte. gflags' fetched
# source package is copied rather than fetched again.
# usage: check-reproducible.sh SOURCE BUILD GFLAGS_SOURCES
#   BUILD: SOURCE's win32 build; GFLAGS_SOURCES: where scripts/gflags-mingw.sh
#   fetched gflags' source package
set -euo pipefail
src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)

fail() { echo "check-reproducible: $*" >&2; exit 1; }
# The unpacked source package; gflags-mingw.sh fetches again whatever is not
# the pinned version.
marks=("$3"/gflags-*/.fetched)
[ -f "${marks[0]}" ] ||
  fail "no fetched gflags source in $3: build the win32 preset first"
fetched=$(dirname "${marks[0]}")
tmp=$(mktemp -d /tmp/vt-agent-rebuild.XXXXXX)
# Kept when the check fails, to compare by hand.
copy=$tmp/another/checkout-of-vt-agent
mkdir -p "$copy/build/deps/src"
tar -C "$src" --exclude=./build -cf - . | tar -C "$copy" -m -xf -
cp -r "$fetched" "$copy/build/deps/src/"

# Packed first, so that the second packing comes seconds later: anything
# that takes the clock's time instead of the build's shows.
first=$(bash "$src/scripts/pack.sh" "$build" "$tmp/first")
log=$tmp/rebuild.log
(
  cd "$copy"
  umask 077
  export TZ=Pacific/Kiritimati LC_ALL=C
  bash scripts/gflags-mingw.sh i686-w64-mingw32 build/deps/gflags-i686-w64-mingw32
  cmake --preset win32 -DVT_BUILD_TESTS=OFF
  cmake --build --preset win32 -j "$(nproc)" --target vt-agent
  bash scripts/pack.sh build/win32 "$tmp/second"
) > "$log" 2>&1 || { tail -n 30 "$log" >&2; fail "the second build failed ($log)"; }

second=$tmp/second/$(basename "$first")
cmp "$build/vt-agent.exe" "$copy/build/win32/vt-agent.exe" ||
  fail "the exes differ: $build/vt-agent.exe $copy/build/win32/vt-agent.exe"
cmp "$copy/build/win32/THIRD-PARTY-NOTICES.txt" "$build/THIRD-PARTY-NOTICES.txt" ||
  fail "the notices differ"
if ! cmp "$first" "$second"; then
  for entry in $(unzip -Z1 "$first"); do
    cmp -s <(unzip -p "$first" "$entry") <(unzip -p "$second" "$entry") ||
      echo "check-reproducible: $entry differs" >&2
  done
  fail "the zips differ: $first $second"
fi
cmp "$tmp/first/SHA256SUMS" "$tmp/second/SHA256SUMS" || fail "SHA256SUMS differ"
# The MSI made from each zip, the second as the second build would make it.
first_msi=$(bash "$src/scripts/msi.sh" "$build" "$first" "$tmp/first")
second_msi=$(cd "$copy" && umask 077 && TZ=Pacific/Kiritimati LC_ALL=C \
  bash scripts/msi.sh build/win32 "$second" "$tmp/second" 2>> "$log") ||
  { tail -n 30 "$log" >&2; fail "the second MSI failed ($log)"; }
cmp "$first_msi" "$second_msi" || fail "the MSIs differ: $first_msi $second_msi"
echo "check-reproducible: the MSI, made twice:"
sha256sum "$first_msi" "$second_msi" | sed 's|  .*/\([^/]*/[^/]*\)$|  \1|'
echo "check-reproducible: built again in $copy:"
sha256sum "$build/vt-agent.exe" "$first" | sed 's|  .*/|  |'
rm -rf "$tmp"
