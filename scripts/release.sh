#!/usr/bin/env bash
# Builds the release artifact: the 32-bit vt-agent.exe with the README, as
# build/win32/vt-agent-<version>-win32.zip. The exe is packed as the tests
# ran it: built, checked and run under Wine's 32-bit loader, then packed
# without building again.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native windows wine32
bash scripts/wine32.sh
build_mingw_gflags x86_64-w64-mingw32 i686-w64-mingw32
# The 64-bit test programs run the 32-bit exe.
build_preset win64 e2e_test
build_preset win32 vt-agent worker
ctest --preset win32
(cd build/win32 && cpack -G ZIP > /dev/null)
zip=$(ls "$PWD"/build/win32/vt-agent-*-win32.zip)
unpacked=build/win32/release-check
rm -rf "$unpacked" && mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
cmp "$unpacked/vt-agent.exe" build/win32/vt-agent.exe ||
  { echo "release: $zip does not hold the exe that was tested" >&2; exit 1; }
echo "$zip"
