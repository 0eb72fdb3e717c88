#!/usr/bin/env bash
# Writes the third-party notices of a Windows exe: for each component that
# the linker took code from, as its map file lists the inputs, the
# component's name and version and its copyright and licence text. The
# static gflags comes from Debian's source package (scripts/gflags-mingw.sh
# keeps its COPYING.txt and version beside the library); everything else
# comes from a Debian package of the MinGW-w64 toolchain, whose copyright
# file is its licence text.
# usage: notices.sh MAP GFLAGS_PREFIX OUTPUT
#   GFLAGS_PREFIX: where scripts/gflags-mingw.sh installed gflags
set -euo pipefail
map=$1 out=$3
gflags=$(realpath -m "$2")
pin=$(dirname "$0")/../cmake/gflags-version.txt

fail() { echo "notices: $*" >&2; exit 1; }
[ -f "$map" ] || fail "$map is missing"

# Inputs that gave code: archive members the map says were included, and
# the object files it loaded (the C runtime's start-up code among them).
inputs=$(
  {
    sed -n '/^Archive member included/,/^Discarded input sections/p' "$map" |
      sed -n 's/^\(\/[^ (]*\.a\)(.*/\1/p'
    sed -n 's/^LOAD \(\/.*\.o\)$/\1/p' "$map"
  } | while read -r path; do realpath -m "$path"; done | sort -u
)
[ -n "$inputs" ] || fail "$map lists no inputs from outside the build"

own=$(realpath -m "$(dirname "$map")")  # the build's own libraries
uses_gflags=0
declare -A libs_of  # package -> the libraries it gave
while read -r path; do
  case $path in
    "$gflags"/*) uses_gflags=1; continue ;;
    "$own"/*) continue ;;
  esac
  package=$(dpkg-query -S "$path" 2>/dev/null | sed -n 's/^\([^ :]*\)\(:[^ ]*\)\?: .*/\1/p' |
    head -n 1) || true
  [ -n "$package" ] || fail "no Debian package holds $path"
  libs_of[$package]+=" $(basename "$path")"
done <<<"$inputs"

rule='========================================================================'
{
  echo "Third-party notices for $(basename "${map%.map}").exe"
  echo
  echo "The exe contains code of the components below, linked statically."
  echo "Each is named with its version, then its copyright notices and"
  echo "licence terms as its source distribution carries them."
  if [ "$uses_gflags" = 1 ]; then
    doc=$gflags/share/doc/gflags
    [ -f "$doc/COPYING.txt" ] && [ -f "$doc/VERSION" ] ||
      fail "$doc lacks COPYING.txt or VERSION: run scripts/gflags-mingw.sh"
    version=$(cat "$doc/VERSION")
    [ "$version" = "$(cat "$pin")" ] ||
      fail "$gflags holds gflags $version, not $(cat "$pin") as $pin says: run scripts/gflags-mingw.sh"
    echo
    echo "$rule"
    echo "gflags $version (Debian source package gflags),"
    echo "the command-line flags library"
    echo "$rule"
    echo
    cat "$doc/COPYING.txt"
  fi
  # Packages that share one copyright file share one section.
  declare -A packages_of
  for package in $(printf '%s\n' "${!libs_of[@]}" | sort); do
    copyright=$(realpath "/usr/share/doc/$package/copyright" 2>/dev/null) ||
      fail "$package has no /usr/share/doc/$package/copyright"
    packages_of[$copyright]+=" $package"
  done
  for copyright in $(printf '%s\n' "${!packages_of[@]}" | sort); do
    echo
    echo "$rule"
    for package in ${packages_of[$copyright]}; do
      dpkg-query -W -f '${Package} ${Version} (Debian package: ${binary:Summary})\n' \
        "$package"
      echo "  linked from it: $(tr ' ' '\n' <<<"${libs_of[$package]}" | sort -u |
        xargs)"
    done
    echo "$rule"
    echo
    cat "$copyright"
  done
} > "$out.tmp"
mv "$out.tmp" "$out"
