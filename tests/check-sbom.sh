#!/usr/bin/env bash
# Packs a Windows build's release zip into a scratch folder and checks its
# SBOM against the zip's other files (tests/sbom/check-sbom.js), with the
# CycloneDX library and the packages that scripts/deps.sh sbom installed in
# build/sbom at the versions tests/sbom/package-lock.json pins.
# usage: check-sbom.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "check-sbom: $*" >&2; exit 1; }
modules=$root/build/sbom/node_modules
[ -d "$modules/@cyclonedx/cyclonedx-library" ] ||
  fail "$modules lacks the CycloneDX library: run scripts/deps.sh sbom"
command -v node > /dev/null || fail "node not found: run scripts/deps.sh sbom"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
zip=$(bash "$root/scripts/pack.sh" "$build" "$tmp/out")
mkdir "$tmp/unpacked"
unzip -q "$zip" -d "$tmp/unpacked"
NODE_PATH=$modules node "$root/tests/sbom/check-sbom.js" "$zip" "$tmp/unpacked"
