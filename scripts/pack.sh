#!/usr/bin/env bash
# Packs a Windows build's release zip, and SHA256SUMS beside it, into OUT:
# the exe, the administrator's guide, the third-party notices, the SBOM and
# the Task Scheduler task, as BUILD/pack.env names them. The SBOM is made
# here, from the exe as it is packed, so that its hash is that of the
# zipped file whatever happened to the exe after the link. The same files
# give the same zip bytes on any machine, at any time, by any user: fixed
# entry order, entry times from the build's SOURCE_DATE_EPOCH, fixed modes,
# no owner or extra time fields.
# usage: pack.sh BUILD OUT      prints the zip's path
set -euo pipefail
build=$1 out=$2
scripts=$(cd "$(dirname "$0")" && pwd)

fail() { echo "pack: $*" >&2; exit 1; }
[ -f "$build/pack.env" ] || fail "$build/pack.env is missing: configure a Windows preset"
# shellcheck source=/dev/null
source "$build/pack.env"
command -v zip > /dev/null || fail "zip not found (scripts/deps.sh release)"
for file in "$exe" "$readme" "$notices" "$components" "$task"; do
  [ -f "$file" ] || fail "$file is missing: build vt-agent first"
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
install -m 0755 "$exe" "$stage/vt-agent.exe"
# Windows tools read text with CR LF line ends; the sources keep LF.
sed 's/$/\r/' "$readme" > "$stage/README.txt"
install -m 0644 "$notices" "$stage/THIRD-PARTY-NOTICES.txt"
bash "$scripts/sbom.sh" "$stage/vt-agent.exe" "$version" "$epoch" "$components" \
  > "$stage/vt-agent.cdx.json"
# As Task Scheduler writes a task: UTF-16 LE with a byte-order mark.
{ printf '\xff\xfe'; sed 's/$/\r/' "$task" | iconv -f UTF-8 -t UTF-16LE; } \
  > "$stage/vt-agent-task.xml"
chmod 0644 "$stage/README.txt" "$stage/vt-agent.cdx.json" "$stage/vt-agent-task.xml"
# A zip holds local times from 1980 on, to two seconds; zip rounds an odd
# second up, so give it an even one, the second before.
stamp=$(( epoch < 315532800 ? 315532800 : epoch / 2 * 2 ))
# The program first, then what a person reads, then what tools read.
entries=(vt-agent.exe README.txt THIRD-PARTY-NOTICES.txt vt-agent.cdx.json vt-agent-task.xml)
for entry in "${entries[@]}"; do touch -d "@$stamp" "$stage/$entry"; done

zipfile=$package.zip
rm -f "$out/$zipfile"
(cd "$stage" && TZ=UTC zip -X -D -q "$out/$zipfile" "${entries[@]}")
(cd "$out" && sha256sum "$zipfile" > SHA256SUMS)
echo "$out/$zipfile"
