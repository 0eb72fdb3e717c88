#!/usr/bin/env bash
# Installs the Debian packages that a build needs and lacks.
# usage: scripts/deps.sh native|windows|wine32|fuzz|bench|release|msi ...
set -euo pipefail

packages=()
for set in "$@"; do
  case "$set" in
    native) packages+=(g++ make cmake libgflags-dev googletest) ;;
    windows) packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64
                        binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
                        wine wine64 dpkg-dev) ;;
    # Wine's 32-bit side, for the shipping exe; qemu runs it where the
    # kernel runs no i386 programs itself (scripts/wine32.sh).
    wine32) packages+=(wine32:i386 qemu-user-static) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    bench) packages+=(libbenchmark-dev) ;;
    # The release zip, and the tests that open it.
    release) packages+=(zip unzip) ;;
    # The MSI (wixl; msitools to set and read it; faketime to give wixl the
    # build's time), and signing a release.
    msi) packages+=(wixl msitools faketime osslsigncode openssl) ;;
    *) echo "deps.sh: unknown set '$set'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A third-party list that cannot be reached must not stop the install.
apt-get update -qq || true
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" > /dev/null
