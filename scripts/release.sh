#!/usr/bin/env bash
# Builds the release artifacts: the 32-bit vt-agent.exe with the
# administrator's guide, the third-party notices, the SBOM and the task
# definition, as build/win32/vt-agent-<version>-win32.zip, the MSI package
# made from that zip, vt-agent-<version>-win32.msi, and build/win32/SHA256SUMS
# beside them. The exe is packed as the tests ran it:
# built, checked, run under Wine's 32-bit loader and built once more
# elsewhere to the same bytes, then packed without building again. The
# same commit gives the same zip and MSI on any machine with the same Debian
# packages.
# With VT_SIGN_PKCS12 and VT_SIGN_PASSWORD (and optionally
# VT_SIGN_TIMESTAMP_URL; see scripts/sign.sh), the exe is signed before it
# is packed and the MSI once it is built; removing the exe's signature gives
# back the reproducible exe.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native windows wine32 release sbom msi
bash scripts/wine32.sh
build_mingw_gflags x86_64-w64-mingw32 i686-w64-mingw32
# The 64-bit test programs run the 32-bit exe and read its resources.
build_preset win64 e2e_test resources_test
build_preset win32 vt-agent worker
ctest --preset win32
made=$(bash scripts/package.sh build/win32 build/win32)
zip=$(sed -n 1p <<<"$made") msi=$(sed -n 2p <<<"$made")
unpacked=build/win32/release-check
rm -rf "$unpacked" && mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$zip")
packed=$unpacked/vt-agent.exe
if [ -n "${VT_SIGN_PKCS12:-}" ]; then
  osslsigncode remove-signature -in "$packed" -out "$unpacked/unsigned.exe" > /dev/null ||
    { echo "release: the exe in $zip is not signed" >&2; exit 1; }
  packed=$unpacked/unsigned.exe
fi
cmp "$packed" build/win32/vt-agent.exe ||
  { echo "release: $zip does not hold the exe that was tested" >&2; exit 1; }
bash tests/check-msi.sh build/win32 "$zip" "$msi"
cat build/win32/SHA256SUMS
echo "$zip"
echo "$msi"
