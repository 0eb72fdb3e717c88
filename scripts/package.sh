#!/usr/bin/env bash
# Makes a win32 build's release files in OUT: the zip (scripts/pack.sh), the
# MSI made from that zip (scripts/msi.sh), and SHA256SUMS listing both.
# usage: package.sh BUILD OUT    prints the zip's path, then the MSI's
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

zip=$(bash "$here/pack.sh" "$build" "$out")
msi=$(bash "$here/msi.sh" "$build" "$zip" "$out")
(cd "$out" && sha256sum "$(basename "$msi")" >> SHA256SUMS)
echo "$zip"
echo "$msi"
