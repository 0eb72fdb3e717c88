#!/usr/bin/env bash
# Builds the release artifact: the 32-bit vt-agent.exe with the
# administrator's guide, the third-party notices, the SBOM and the task
# definition, as build/win32/vt-agent-<version>-win32.zip, and
# build/win32/SHA256SUMS beside it. The exe is packed as the tests ran it:
# built, checked, run under Wine's 32-bit loader and built once more
# elsewhere to the same bytes, then packed without building again. The
# same commit gives the same zip on any machine with the same Debian
# packages.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native windows wine32 release sbom
bash scripts/wine32.sh
build_mingw_gflags x86_64-w64-mingw32 i686-w64-mingw32
# The 64-bit test programs run the 32-bit exe and read its resources.
build_preset win64 e2e_test resources_test
build_preset win32 vt-agent worker
ctest --preset win32
zip=$(bash scripts/pack.sh build/win32 build/win32)
unpacked=build/win32/release-check
rm -rf "$unpacked" && mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$zip")
cmp "$unpacked/vt-agent.exe" build/win32/vt-agent.exe ||
  { echo "release: $zip does not hold the exe that was tested" >&2; exit 1; }
cat build/win32/SHA256SUMS
echo "$zip"
