# Sourced by the scripts: the steps they share.

cd "$(dirname "${BASH_SOURCE[0]}")/.."

# gflags has no MinGW package: built once from Debian's source package.
build_mingw_gflags() {
  local triple
  for triple in "$@"; do
    bash scripts/gflags-mingw.sh "$triple" "build/deps/gflags-$triple"
  done
}

# configure, then build the preset (optionally only the given targets).
build_preset() {
  local preset=$1
  shift
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" -j "$(nproc)" ${1:+--target "$@"}
}
