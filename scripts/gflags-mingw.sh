#!/usr/bin/env bash
# Build Debian's gflags, at the source version that cmake/gflags-version.txt
# pins, as a static MinGW-w64 library and install it with its CMake package
# config, its licence (share/doc/gflags/COPYING.txt) and the Debian version
# it was built from (share/doc/gflags/VERSION).
# The library names its source files relative to the source package, so
# that what links it holds no path of this machine.
# Usage: gflags-mingw.sh <x86_64-w64-mingw32|i686-w64-mingw32> <prefix>
set -euo pipefail

die() { echo "gflags-mingw: $*" >&2; exit 1; }

[ $# -eq 2 ] || die "usage: $0 <x86_64-w64-mingw32|i686-w64-mingw32> <prefix>"
triple=$1
prefix=$2
case $triple in
  x86_64-w64-mingw32 | i686-w64-mingw32) ;;
  *) die "unsupported triple '$triple'" ;;
esac

# The one place for the version: the notices, the SBOM and the tests read
# it too. The upstream version names the source folder.
pin=$(dirname "$0")/../cmake/gflags-version.txt
version=$(cat "$pin") || die "cannot read $pin"
[[ $version =~ ^([0-9]+:)?[0-9][A-Za-z0-9.+~]*-[A-Za-z0-9.+~]+$ ]] ||
  die "$pin holds '$version', not a Debian source version"
upstream=${version#*:}
upstream=${upstream%-*}

# Already installed by this very recipe, at this version: nothing to do.
recipe=$(cat "$0" "$pin" | sha256sum | cut -d' ' -f1)
[ -f "$prefix/lib/cmake/gflags/gflags-config.cmake" ] &&
  [ "$(cat "$prefix/.recipe" 2>/dev/null)" = "$recipe" ] && exit 0

arch=${triple%%-*}
command -v "$triple-g++-posix" >/dev/null ||
  die "$triple-g++-posix not found; install g++-mingw-w64-${arch//_/-} first"
command -v cmake >/dev/null || die "cmake not found"

mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
# Shared by all triples so the source is fetched once.
cache=$(dirname "$prefix")/src
mkdir -p "$cache"
log=$cache/gflags-$triple.log
: >"$log"
srcdir=$cache/gflags-$upstream
builddir=$cache/build-gflags-$triple
start=$SECONDS

fail() {
  echo "gflags-mingw: $* (log: $log)" >&2
  tail -n 40 "$log" >&2
  exit 1
}

# Turn the machine's Debian 'deb' entries (deb822 and one-line) into private
# deb-src stanzas for the release's main component, keeping Signed-By.
debsrc_stanzas() {
  local codename=$1
  local files=()
  shopt -s nullglob
  files=(/etc/apt/sources.list.d/*.sources)
  if [ ${#files[@]} -gt 0 ]; then
    awk -v cn="$codename" '
      function has(list, w,   a, n, i) {
        n = split(list, a, /[ \t]+/)
        for (i = 1; i <= n; i++) if (a[i] == w) return 1
        return 0
      }
      function flush() {
        if (has(f["types"], "deb") && tolower(f["enabled"]) != "no" &&
            has(f["suites"], cn) && has(f["components"], "main") &&
            f["uris"] != "" && !(f["uris"] in seen)) {
          seen[f["uris"]] = 1
          print "Types: deb-src"
          print "URIs: " f["uris"]
          print "Suites: " cn
          print "Components: main"
          if ("signed-by" in f)
            print "Signed-By:" (f["signed-by"] ~ /^\n/ ? "" : " ") f["signed-by"]
          print ""
        }
        delete f; cur = ""
      }
      FNR == 1 { flush() }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (cur != "") f[cur] = f[cur] "\n" $0; next }
      {
        i = index($0, ":"); if (!i) next
        cur = tolower(substr($0, 1, i - 1))
        v = substr($0, i + 1); sub(/^[ \t]+/, "", v); sub(/[ \t]+$/, "", v)
        f[cur] = v
      }
      END { flush() }
    ' "${files[@]}"
  fi
  files=()
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  files+=(/etc/apt/sources.list.d/*.list)
  shopt -u nullglob
  if [ ${#files[@]} -gt 0 ]; then
    awk -v cn="$codename" '
      /^[ \t]*(#|$)/ { next }
      $1 != "deb" { next }
      {
        line = $0; sub(/^[ \t]*deb[ \t]+/, "", line)
        opts = ""
        if (match(line, /^\[[^]]*\]/)) {
          opts = substr(line, 2, RLENGTH - 2); line = substr(line, RLENGTH + 1)
        }
        n = split(line, a, /[ \t]+/)
        if (a[1] == "") { for (i = 1; i < n; i++) a[i] = a[i + 1]; n-- }
        uri = a[1]; suite = a[2]; main = 0
        for (i = 3; i <= n; i++) if (a[i] == "main") main = 1
        if (suite != cn || !main || uri ~ /^cdrom:/ || (uri in seen)) next
        seen[uri] = 1
        sb = ""
        if (match(opts, /signed-by=[^ \t]+/)) sb = substr(opts, RSTART + 10, RLENGTH - 10)
        print "Types: deb-src"
        print "URIs: " uri
        print "Suites: " cn
        print "Components: main"
        if (sb != "") print "Signed-By: " sb
        print ""
      }
    ' "${files[@]}"
  fi
}

fetch_source() {
  # Another Debian revision of the same upstream version unpacks to the same
  # folder: the marker says which one is there.
  [ "$(cat "$srcdir/.fetched" 2>/dev/null)" = "$version" ] &&
    [ -f "$srcdir/CMakeLists.txt" ] && return 0
  rm -rf "$srcdir"
  command -v dpkg-source >/dev/null ||
    fail "dpkg-source not found; scripts/deps.sh windows installs dpkg-dev"
  local codename apt=$cache/apt
  # shellcheck source=/dev/null
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || fail "no VERSION_CODENAME in /etc/os-release"
  rm -rf "$apt"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
  : >"$apt/sources.list"
  debsrc_stanzas "$codename" >"$apt/sources.list.d/debian-src.sources"
  [ -s "$apt/sources.list.d/debian-src.sources" ] ||
    fail "no Debian '$codename' main entry found in the apt sources"
  local opts=(
    -o Dir::Etc::SourceList="$apt/sources.list"
    -o Dir::Etc::SourceParts="$apt/sources.list.d"
    -o Dir::State::Lists="$apt/lists"
    -o Dir::Cache="$apt/cache"
  )
  echo "== apt-get update ($apt)" >>"$log"
  apt-get "${opts[@]}" update >>"$log" 2>&1 || fail "apt-get update failed"
  # apt-get's own message for a missing version is easily lost in the log.
  local offered
  offered=$(apt-cache "${opts[@]}" showsrc --only-source gflags 2>>"$log" |
    sed -n 's/^Version: //p' | sort -u | xargs)
  grep -qxF -- "$version" < <(tr ' ' '\n' <<<"$offered") ||
    fail "the archive has no gflags $version (pinned in cmake/gflags-version.txt); it has: ${offered:-none}"
  echo "== apt-get source gflags=$version" >>"$log"
  (cd "$cache" && apt-get "${opts[@]}" source --only-source "gflags=$version") >>"$log" 2>&1 ||
    fail "apt-get source gflags=$version failed"
  [ -f "$srcdir/CMakeLists.txt" ] || fail "gflags $version source not found in $srcdir after apt-get source"
  # Index files are only needed for this one fetch.
  rm -rf "$apt"
  echo "$version" >"$srcdir/.fetched"
}

# Lock so parallel runs for both triples do not fetch at the same time.
exec 9>"$cache/.gflags.lock"
flock 9
fetch_source
flock -u 9

rm -rf "$builddir"
mkdir -p "$builddir"
cat >"$builddir/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

echo "== configure" >>"$log"
# Threads off: on Windows gflags locks with Win32 critical sections anyway,
# and finding pthread would only leak -lpthread (winpthread) to consumers.
# The nothreads variant is not needed next to the locking one.
cmake -S "$srcdir" -B "$builddir" \
  -DCMAKE_TOOLCHAIN_FILE="$builddir/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$srcdir/=gflags-$upstream/ -ffile-prefix-map=$builddir/=gflags-build/" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF \
  -DBUILD_STATIC_LIBS=ON \
  -DBUILD_TESTING=OFF \
  -DBUILD_PACKAGING=OFF \
  -DBUILD_gflags_LIB=ON \
  -DBUILD_gflags_nothreads_LIB=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_Threads=ON \
  -DINSTALL_HEADERS=ON \
  -DREGISTER_INSTALL_PREFIX=OFF \
  -DREGISTER_BUILD_DIR=OFF \
  >>"$log" 2>&1 || fail "cmake configure failed"
echo "== build" >>"$log"
cmake --build "$builddir" -j2 >>"$log" 2>&1 || fail "build failed"

# Stage first: gflags-config.cmake is the "done" marker, so it must land last.
stage=$builddir/stage
echo "== install (stage)" >>"$log"
cmake --install "$builddir" --prefix "$stage" >>"$log" 2>&1 || fail "install failed"
cfg=lib/cmake/gflags/gflags-config.cmake
[ -f "$stage/$cfg" ] || fail "install did not produce $cfg"
# This release's config tests a misspelt target name ("PACKAGE_NAME@_static"), so
# without the nothreads lib a plain find_package(gflags) fails; fix the name.
sed -i 's/}PACKAGE_NAME@_static/}gflags_static/' "$stage/$cfg"
grep -q 'PACKAGE_NAME@' "$stage/$cfg" && fail "could not fix target name in $cfg"
mkdir -p "$stage/share/doc/gflags"
cp "$srcdir/COPYING.txt" "$stage/share/doc/gflags/"
command -v dpkg-parsechangelog >/dev/null ||
  fail "dpkg-parsechangelog not found; scripts/deps.sh windows installs dpkg-dev"
dpkg-parsechangelog -l "$srcdir/debian/changelog" -S Version \
  >"$stage/share/doc/gflags/VERSION" || fail "no version in debian/changelog"
[ "$(cat "$stage/share/doc/gflags/VERSION")" = "$version" ] ||
  fail "$srcdir is gflags $(cat "$stage/share/doc/gflags/VERSION"), not the pinned $version"
mv "$stage/$cfg" "$builddir/gflags-config.cmake"
rm -f "$prefix/$cfg"
cp -a "$stage/." "$prefix/"
echo "$recipe" >"$prefix/.recipe"
cp "$builddir/gflags-config.cmake" "$prefix/$cfg"

echo "gflags ($triple) installed in $prefix ($((SECONDS - start))s)"
