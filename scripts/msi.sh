#!/usr/bin/env bash
# Builds the MSI package from a release zip, with wixl, into OUT: every file
# of the zip, taken from the zip itself (so the package holds what the zip
# ships, the same exe, signed or not, and the same documents), installed
# into one folder, with empty log\ and bin\ beside them (win32/vt-agent.wxs).
#
# The same zip gives the same MSI bytes on any machine at any time. Of what
# wixl would set anew each run: the summary information's times are the
# build's SOURCE_DATE_EPOCH (wixl reads the clock, so it runs under a frozen
# faketime clock), the cabinet's file times are the same epoch, and the
# package code (wixl draws a random one) is set afterwards with msibuild.
# The codes are name-based UUIDs: the product code from the version (one
# per version, for major upgrades), the package code from everything the
# package is made of (the version, the WiX source and each file's hash), so
# that two different packages never share one.
# usage: msi.sh BUILD ZIP OUT [VERSION]    prints the MSI's path
#   BUILD: the win32 build (its pack.env); VERSION: instead of the
#   build's, for a package that upgrades this one (the tests)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 zip=$(realpath "$2") out=$3

fail() { echo "msi: $*" >&2; exit 1; }
for tool in wixl msibuild msiinfo faketime unzip; do
  command -v "$tool" > /dev/null || fail "$tool not found (scripts/deps.sh msi)"
done
[ -f "$build/pack.env" ] || fail "$build/pack.env is missing: configure the win32 preset"
# shellcheck source=/dev/null
source "$build/pack.env"
version=${4:-$version}
[[ $version =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,5}$ ]] ||
  fail "version '$version' is not MAJOR.MINOR.PATCH as Windows Installer compares them"

# Name-based (SHA-1, version 5) UUIDs in this namespace, which never changes.
namespace=ccd953e9-420a-4211-8dbd-791c115de00c
uuid5() {
  local ns=${namespace//-/} hex
  hex=$( { printf "$(sed 's/../\\x&/g' <<<"$ns")"; printf '%s' "$1"; } |
    sha1sum | cut -c1-32)
  hex=${hex:0:12}5${hex:13:3}$(printf %x $(( (0x${hex:16:1} & 3) | 8 )))${hex:17:15}
  echo "${hex:0:8}-${hex:8:4}-${hex:12:4}-${hex:16:4}-${hex:20:12}" | tr a-f A-F
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/files"
(cd "$stage/files" && unzip -q "$zip")
mapfile -t entries < <(unzip -Z1 "$zip")
printf '%s\n' "${entries[@]}" | grep -qx vt-agent.exe || fail "$zip holds no vt-agent.exe"

# One component per file, its GUID from the file's name: a file keeps its
# component from version to version, as Windows Installer requires.
files_wxs=$stage/release-files.wxs
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo "<!-- Written by scripts/msi.sh: the files of $(basename "$zip"). -->"
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">'
  echo '  <Fragment>'
  echo '    <DirectoryRef Id="INSTALLDIR">'
  for name in "${entries[@]}"; do
    # Plain names only: nothing to escape in XML, a valid identifier after
    # the prefix, no subfolders.
    [[ $name =~ ^[A-Za-z0-9][A-Za-z0-9._-]*$ ]] ||
      fail "$zip: cannot package the entry '$name'"
    id=${name//-/_}
    echo "      <Component Id=\"c_$id\" Guid=\"$(uuid5 "component $name")\">"
    echo "        <File Id=\"f_$id\" Name=\"$name\" Source=\"files/$name\" KeyPath=\"yes\"/>"
    echo '      </Component>'
  done
  echo '    </DirectoryRef>'
  echo '  </Fragment>'
  echo '  <Fragment>'
  echo '    <ComponentGroup Id="ReleaseFiles">'
  for name in "${entries[@]}"; do
    echo "      <ComponentRef Id=\"c_${name//-/_}\"/>"
  done
  echo '    </ComponentGroup>'
  echo '  </Fragment>'
  echo '</Wix>'
} > "$files_wxs"
cp "$here/../win32/vt-agent.wxs" "$stage/"

# The cabinet records each file's time and attributes.
for name in "${entries[@]}"; do
  chmod 0644 "$stage/files/$name"
  touch -d "@$epoch" "$stage/files/$name"
done

product_code=$(uuid5 "product vt-agent $version win32")
package_code=$(uuid5 "package $(
  cd "$stage" && { echo "$version"; sha256sum vt-agent.wxs release-files.wxs \
    "${entries[@]/#/files/}"; } | sha256sum)")
when=$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')

msi=$stage/vt-agent.msi
# A frozen clock at the epoch, in UTC; file times as they are (NO_FAKE_STAT).
(cd "$stage" && TZ=UTC NO_FAKE_STAT=1 faketime -f "$when" \
  wixl -a x86 -D "Version=$version" -D "ProductCode=$product_code" \
  -o "$msi" vt-agent.wxs release-files.wxs) || fail "wixl failed"
msibuild "$msi" -s "Veltrane Integration Agent" "Veltrane" "Intel;1033" "{$package_code}" ||
  fail "msibuild could not set the package code"

grep -qx "Revision number (UUID): {$package_code}" <(msiinfo suminfo "$msi") ||
  fail "msibuild did not set the package code"

mkdir -p "$out"
target=$(cd "$out" && pwd)/vt-agent-$version-win32.msi
mv "$msi" "$target"
echo "$target"
