#!/usr/bin/env bash
# Packs a Windows build's release zip, and SHA256SUMS beside it, into OUT:
# the exe, the README and the third-party notices, as BUILD/pack.env names
# them. The same files give the same zip bytes on any machine, at any time,
# by any user: fixed entry order, entry times from the build's
# SOURCE_DATE_EPOCH, fixed modes, no owner or extra time fields.
# usage: pack.sh BUILD OUT      prints the zip's path
set -euo pipefail
build=$1 out=$2

fail() { echo "pack: $*" >&2; exit 1; }
[ -f "$build/pack.env" ] || fail "$build/pack.env is missing: configure a Windows preset"
# shellcheck source=/dev/null
source "$build/pack.env"
command -v zip > /dev/null || fail "zip not found (scripts/deps.sh release)"
for file in "$exe" "$readme" "$notices"; do
  [ -f "$file" ] || fail "$file is missing: build vt-agent first"
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
install -m 0755 "$exe" "$stage/vt-agent.exe"
install -m 0644 "$readme" "$stage/README.md"
install -m 0644 "$notices" "$stage/THIRD-PARTY-NOTICES.txt"
# A zip holds local times from 1980 on, to two seconds; zip rounds an odd
# second up, so give it an even one, the second before.
stamp=$(( epoch < 315532800 ? 315532800 : epoch / 2 * 2 ))
entries=(vt-agent.exe README.md THIRD-PARTY-NOTICES.txt)
for entry in "${entries[@]}"; do touch -d "@$stamp" "$stage/$entry"; done

zipfile=$package.zip
rm -f "$out/$zipfile"
(cd "$stage" && TZ=UTC zip -X -D -q "$out/$zipfile" "${entries[@]}")
(cd "$out" && sha256sum "$zipfile" > SHA256SUMS)
echo "$out/$zipfile"
