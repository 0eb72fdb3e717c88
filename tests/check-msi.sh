#!/usr/bin/env bash
# Checks an MSI against the release zip it was made from, as a user would
# receive the two: it installs exactly the zip's files, with the same bytes,
# runs no custom action, and its summary information carries the build's
# epoch. Without ZIP and MSI, packs both from BUILD into a scratch folder
# first, unsigned.
# usage: check-msi.sh BUILD [ZIP MSI]
set -euo pipefail
here=$(cd "$(dirname "$0")/../scripts" && pwd)
build=$(cd "$1" && pwd)

fail() { echo "check-msi: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ $# -ge 3 ]; then
  zip=$2 msi=$3
else
  made=$(env -u VT_SIGN_PKCS12 -u VT_SIGN_PASSWORD -u VT_SIGN_TIMESTAMP_URL \
    bash "$here/package.sh" "$build" "$tmp/out")
  zip=$(sed -n 1p <<<"$made") msi=$(sed -n 2p <<<"$made")
fi
# shellcheck source=/dev/null
source "$build/pack.env"

mkdir "$tmp/zip" "$tmp/msi"
unzip -q "$zip" -d "$tmp/zip"
msiextract -C "$tmp/msi" "$msi" > /dev/null || fail "msiextract cannot read $msi"
installed='Program Files/Veltrane/vt-agent'
want=$(unzip -Z1 "$zip" | LC_ALL=C sort)
got=$(cd "$tmp/msi" && find . -type f -printf '%P\n' | sed "s|^$installed/||" | LC_ALL=C sort)
[ "$got" = "$want" ] ||
  fail "$msi installs '$(xargs <<<"$got")'; the zip holds '$(xargs <<<"$want")'"
for name in $want; do
  cmp "$tmp/msi/$installed/$name" "$tmp/zip/$name" || fail "$name in the MSI is not the zip's"
done

# Only the standard actions: the scheduled task, for one, is the
# administrator's to create.
actions=$(msiinfo export "$msi" CustomAction | tail -n +4)
[ -z "$actions" ] || fail "$msi has custom actions: $actions"

when=$(TZ=UTC LC_ALL=C date -d "@$epoch" '+%a %b %e %H:%M:%S %Y')
info=$(TZ=UTC LC_ALL=C msiinfo suminfo "$msi")
for field in Created 'Last saved'; do
  grep -qx "$field: $when" <<<"$info" || fail "$msi: '$field' is not $when: $info"
done
echo "check-msi: $(basename "$msi"): $(xargs <<<"$want"); $(sha256sum "$msi" | cut -d' ' -f1)"
