#!/usr/bin/env bash
# Installs the Debian packages that a build needs and lacks; for the set
# sbom, also the npm packages of the SBOM's check.
# usage: scripts/deps.sh native|windows|wine32|fuzz|bench|release|sbom|msi ...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=()
sbom=0
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
    # The release zip (jq writes its SBOM), and the tests that open it
    # (xmllint reads its task definition).
    release) packages+=(zip unzip jq libxml2-utils) ;;
    # The SBOM's check runs on Node.js, which our machines have; Debian's
    # npm brings it where it is missing.
    sbom)
      command -v npm > /dev/null || packages+=(npm)
      sbom=1 ;;
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

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A third-party list that cannot be reached must not stop the install.
  apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" > /dev/null
fi

# The CycloneDX library and its schema validator, at the versions that
# tests/sbom/package-lock.json pins, into build/sbom (not the source tree);
# again only when the lockfile changes. The copied lockfile marks success.
if [ "$sbom" = 1 ]; then
  lock=$root/tests/sbom/package-lock.json dir=$root/build/sbom
  if ! cmp -s "$lock" "$dir/installed.json" || [ ! -d "$dir/node_modules" ]; then
    echo "Installing the npm packages of tests/sbom into $dir"
    rm -rf "$dir" && mkdir -p "$dir"
    cp "$root/tests/sbom/package.json" "$lock" "$root/tests/sbom/.npmrc" "$dir/"
    (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
    cp "$lock" "$dir/installed.json"
  fi
fi
