#!/usr/bin/env bash
# Builds the release artifact: the 32-bit vt-agent.exe with the README, as
# build/win32/vt-agent-<version>-win32.zip.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native windows
build_mingw_gflags i686-w64-mingw32
build_preset win32 vt-agent worker
ctest --preset win32
(cd build/win32 && cpack -G ZIP > /dev/null)
ls build/win32/vt-agent-*-win32.zip
