#!/usr/bin/env bash
# Writes the third-party notices of a Windows exe: for each component that
# the linker took code from, as its map file lists the inputs, the
# component's name and version and its copyright and licence text. The
# static gflags comes from Debian's source package (scripts/gflags-mingw.sh
# keeps its COPYING.txt and version beside the library); everything else
# comes from a Debian package of the MinGW-w64 toolchain, whose copyright
# file is its licence text.
# Beside them, the same list for the SBOM (scripts/sbom.sh), one component a
# line: name, version, SPDX licence expression, Debian architecture
# ("source" for a source package), summary; tab-separated. So the notices
# and the SBOM always name the same components.
# usage: notices.sh MAP GFLAGS_PREFIX OUTPUT COMPONENTS
#   GFLAGS_PREFIX: where scripts/gflags-mingw.sh installed gflags
set -euo pipefail
map=$1 out=$3 components=$4
gflags=$(realpath -m "$2")
pin=$(dirname "$0")/../cmake/gflags-version.txt

fail() { echo "notices: $*" >&2; exit 1; }
[ -f "$map" ] || fail "$map is missing"

# The licence of the code that each toolchain package gives an exe, as an
# SPDX expression read from its copyright file: only the code that is
# linked in, not its headers or tools. A package not named here stops the
# build until someone has read its copyright file.
licence_of() {
  case $1 in
    # libgcc, libgcc_eh, libstdc++ and the crtbegin/crtend objects.
    gcc-mingw-w64-*-posix | g++-mingw-w64-*-posix)
      echo 'GPL-3.0-or-later WITH GCC-exception-3.1' ;;
    # The runtime: its own code ZPL 2.1; the start-up code (crt/) in the
    # public domain; gdtoa (strtod, and printf's floating point) under
    # Lucent's and David M. Gay's notices, the C99 printf under Keith
    # Marshall's; winpthreads (libpthread) MIT, which Debian calls expat.
    # Those without an SPDX identifier keep Debian's short name.
    mingw-w64-*-dev)
      echo 'ZPL-2.1 AND LicenseRef-public-domain AND LicenseRef-Lucent AND LicenseRef-David-Gay AND LicenseRef-Keith-Marshall AND MIT' ;;
    *) return 1 ;;
  esac
}

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
: > "$components.tmp"
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
    # COPYING.txt is the 3-clause BSD licence, as the source package's
    # debian/copyright says for all its files.
    printf 'gflags\t%s\tBSD-3-Clause\tsource\tcommand-line flags library\n' \
      "$version" >> "$components.tmp"
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
      licence=$(licence_of "$package") ||
        fail "no licence known for $package: read $copyright and add it to licence_of"
      dpkg-query -W -f "\${Package}\t\${Version}\t$licence\t\${Architecture}\t\${binary:Summary}\n" \
        "$package" >> "$components.tmp"
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
mv "$components.tmp" "$components"
mv "$out.tmp" "$out"
