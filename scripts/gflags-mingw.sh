#!/usr/bin/env bash
# Builds Debian's gflags, at the source version that cmake/gflags-version.txt
# pins, as a static library for MinGW-w64 with the project's own toolchain
# file, and installs it into PREFIX with its CMake package, its licence
# (share/doc/gflags/COPYING.txt) and its Debian version
# (share/doc/gflags/VERSION). Its source file names are recorded relative to
# the source package, so that what links it names no folder of this machine.
# The source is fetched once, into PREFIX/../src; the library is built again
# only when this script, the pin or the toolchain files change.
# usage: gflags-mingw.sh x86_64-w64-mingw32|i686-w64-mingw32 PREFIX
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

die() { echo "gflags-mingw: $*" >&2; exit 1; }
[ $# -eq 2 ] || die "usage: $0 x86_64-w64-mingw32|i686-w64-mingw32 PREFIX"
arch=${1%%-*}
toolchain=$root/cmake/mingw-$arch.cmake
[ -f "$toolchain" ] || die "no toolchain file for '$1'"
pin=$root/cmake/gflags-version.txt
version=$(cat "$pin")
[[ $version =~ ^([0-9]+:)?([0-9][A-Za-z0-9.+~]*)-[A-Za-z0-9.+~]+$ ]] ||
  die "$pin holds '$version', not a Debian source version"
upstream=${BASH_REMATCH[2]}

mkdir -p "$2"
prefix=$(cd "$2" && pwd)
recipe=$(cat "$0" "$pin" "$toolchain" "$root/cmake/mingw-common.cmake" |
  sha256sum | cut -d' ' -f1)
[ "$(cat "$prefix/.recipe" 2>/dev/null)" = "$recipe" ] && exit 0

src=$(dirname "$prefix")/src
source_dir=$src/gflags-$upstream
build=$src/build-gflags-$arch
log=$src/gflags-$arch.log
mkdir -p "$src"
: > "$log"
fail() { echo "gflags-mingw: $* (log: $log)" >&2; tail -n 20 "$log" >&2; exit 1; }

# Fetched once for both architectures, whichever comes first.
exec 9> "$src/.lock"
flock 9
if [ "$(cat "$source_dir/.fetched" 2>/dev/null)" != "$version" ]; then
  rm -rf "$source_dir"
  # apt-get source reads deb-src entries, which few machines have: a
  # private copy of the machine's own entries, as deb-src.
  apt=$src/apt
  rm -rf "$apt"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
  for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$list" > "$apt/sources.list.d/${list##*/}"
  done
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] || continue
    sed -n 's/^deb[[:space:]]/deb-src /p' "$list" >> "$apt/sources.list"
  done
  opts=(-o Dir::Etc::SourceList="$apt/sources.list"
        -o Dir::Etc::SourceParts="$apt/sources.list.d"
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
  # Other vendors' entries may have no sources: the fetch below says
  # whether Debian's had gflags.
  apt-get "${opts[@]}" update >> "$log" 2>&1 || true
  (cd "$src" && apt-get "${opts[@]}" source --only-source "gflags=$version") \
    >> "$log" 2>&1 || fail "the archive has no gflags $version (pinned in $pin)"
  rm -rf "$apt"
  echo "$version" > "$source_dir/.fetched"
fi
flock -u 9

# Threads off: gflags locks with Win32 critical sections anyway, and finding
# pthread would only hand -lpthread to what links it.
rm -rf "$build"
cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$source_dir/=gflags-$upstream/ -ffile-prefix-map=$build/=gflags-build/" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_TESTING=OFF \
  -DBUILD_gflags_nothreads_LIB=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Threads=ON \
  -DREGISTER_INSTALL_PREFIX=OFF -DREGISTER_BUILD_DIR=OFF \
  >> "$log" 2>&1 || fail "configuring failed"
cmake --build "$build" -j "$(nproc)" >> "$log" 2>&1 || fail "building failed"
rm -rf "$prefix" && mkdir -p "$prefix"
cmake --install "$build" --prefix "$prefix" >> "$log" 2>&1 || fail "installing failed"
# Its package file asks for a misspelt target ("PACKAGE_NAME@_static") when,
# as here, the nothreads library is not built.
config=$prefix/lib/cmake/gflags/gflags-config.cmake
sed -i 's/}PACKAGE_NAME@_static/}gflags_static/' "$config"
! grep -q 'PACKAGE_NAME@' "$config" || fail "could not mend $config"
mkdir -p "$prefix/share/doc/gflags"
cp "$source_dir/COPYING.txt" "$prefix/share/doc/gflags/"
echo "$version" > "$prefix/share/doc/gflags/VERSION"
echo "$recipe" > "$prefix/.recipe"
echo "gflags $version ($arch) installed in $prefix"
