#!/usr/bin/env bash
# Builds everything and runs every test: the native build, the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, a short fuzzing run, the
# 64-bit Windows build under Wine, and the shipping 32-bit exe under Wine's
# 32-bit loader (a few end-to-end cases, driven by the 64-bit tests), with
# its resources, its release zip (with its SBOM, and its task definition
# imported under Wine), and a second build of it that must give the same
# bytes.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native windows wine32 fuzz release sbom msi
# Where the kernel runs no i386 programs itself, they run under qemu.
bash scripts/wine32.sh

build_preset native
ctest --preset native
build_preset asan
ctest --preset asan
build_preset fuzz
ctest --preset fuzz

build_mingw_gflags x86_64-w64-mingw32 i686-w64-mingw32
build_preset win64
ctest --preset win64
build_preset win32 vt-agent worker
ctest --preset win32
