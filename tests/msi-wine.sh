#!/usr/bin/env bash
# The MSI's life on a machine, under Wine's msiexec, in a scratch copy of a
# Wine prefix (a new one costs minutes where i386 programs run under qemu):
# installed quietly, to the default folder and then to a folder given as
# INSTALLDIR; the agent run once there (one 32-bit start); a release and a
# log line added, as the agent's life adds them; upgraded to a newer
# version, which must find the folder by itself and replace the files, and
# which an older package must not replace; then removed, which must find
# the folder too, and keep log\ and bin\ with what they hold, and the
# worker's config.txt.
# usage: msi-wine.sh BUILD PREFIX WINE64
#   BUILD: the win32 build; PREFIX: the Wine prefix to copy
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
prefix=$2 wine=$3

fail() { echo "msi-wine: $*" >&2; exit 1; }
tmp=$(mktemp -d)
export WINEPREFIX=$tmp/prefix WINELOADER=$wine WINEDEBUG=-all
cleanup() {
  wineserver -k 2> /dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
cp -a "$prefix" "$WINEPREFIX"

# The release as scripts/release.sh makes it, and a second MSI of the same
# files with the next version.
made=$(env -u VT_SIGN_PKCS12 -u VT_SIGN_PASSWORD -u VT_SIGN_TIMESTAMP_URL \
  bash "$here/../scripts/package.sh" "$build" "$tmp/out")
zip=$(sed -n 1p <<<"$made") msi=$(sed -n 2p <<<"$made")
# shellcheck source=/dev/null
source "$build/pack.env"
IFS=. read -r major minor patch <<<"$version"
next=$(bash "$here/../scripts/msi.sh" "$build" "$zip" "$tmp/next" "$major.$minor.$((patch + 1))")
mkdir "$tmp/zip"
unzip -q "$zip" -d "$tmp/zip"
files=$(unzip -Z1 "$zip")

product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
msiexec() {
  (cd "$(dirname "$2")" && "$wine" msiexec "$1" "$(basename "$2")" /qn "${@:3}") ||
    fail "msiexec $* failed with status $?"
}
registered() {  # PRODUCT_CODE: whether Windows lists the product as installed
  "$wine" reg query \
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /reg:32 > /dev/null 2>&1
}
remembered() {
  "$wine" reg query 'HKLM\Software\Veltrane\vt-agent' /v InstallDir /reg:32 2> /dev/null |
    tr -d '\r' | sed -n 's/^ *InstallDir *REG_SZ *//p'
}
check_installed() {  # FOLDER
  for name in $files; do
    cmp -s "$1/$name" "$tmp/zip/$name" || fail "$1/$name is not the zip's $name"
  done
  [ -d "$1/log" ] && [ -d "$1/bin" ] || fail "$1 lacks log\\ or bin\\: $(ls "$1")"
}
check_kept() {  # WHAT: what the agent's life added is still there
  cmp -s "$log" "$tmp/log.kept" || fail "$1 changed or removed the log"
  cmp -s "$folder/bin/r0001/worker.exe" "$tmp/zip/vt-agent.exe" ||
    fail "$1 changed or removed bin\\r0001"
  [ "$(cat "$folder/config.txt")" = $'the worker configuration\r' ] ||
    fail "$1 changed or removed config.txt"
}
check_removed() {  # FOLDER: none of the package's files is there
  for name in $files; do
    [ ! -e "$1/$name" ] || fail "$1/$name is there"
  done
}

# The default folder, and an uninstall that leaves nothing of an unused
# installation (the remembered folder included).
default="$WINEPREFIX/drive_c/Program Files (x86)/Veltrane/vt-agent"
msiexec /i "$msi"
check_installed "$default"
[ "$(remembered)" = 'C:\Program Files (x86)\Veltrane\vt-agent\' ] ||
  fail "the folder remembered is '$(remembered)'"
msiexec /x "$msi"
check_removed "$default"
[ -z "$(remembered)" ] || fail "the uninstall left the folder remembered: $(remembered)"

# A folder of the administrator's choice.
folder="$WINEPREFIX/drive_c/VT test"
msiexec /i "$msi" 'INSTALLDIR=C:\VT test'
check_installed "$folder"
registered "$(product_code "$msi")" || fail "the install is not registered"
[ -z "$(find "$folder/log" "$folder/bin" -mindepth 1)" ] || fail "log\\ or bin\\ is not empty"
check_removed "$default"

# The agent runs in its folder: no release yet, so status 1 and its lines.
status=0
(cd "$folder" && "$wine" vt-agent.exe > /dev/null 2>&1) || status=$?
[ "$status" = 1 ] || fail "the installed agent exited with $status, not 1"
stamp='[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\(vt-agent\.exe\) '
log=$folder/log/vt-agent.log
[ "$(grep -cE "^$stamp(starting vt-agent\.|error: no worker\.exe binary ran successfully\.|closing vt-agent\.)"$'\r$' "$log")" = 3 ] &&
  [ "$(wc -l < "$log")" = 3 ] || fail "the agent's log: $(cat -A "$log")"

# What the agent's life adds, which no upgrade or uninstall may take.
mkdir "$folder/bin/r0001"
cp "$tmp/zip/vt-agent.exe" "$folder/bin/r0001/worker.exe"
printf 'a line of the worker\r\n' >> "$log"
cp "$log" "$tmp/log.kept"
printf 'the worker configuration\r\n' > "$folder/config.txt"
# Changed since the install, so that only a real replacement restores them.
for name in $files; do echo changed > "$folder/$name"; done

# The upgrade finds the folder by itself and replaces the old product.
msiexec /i "$next"
check_installed "$folder"
check_kept "the upgrade"
check_removed "$default"
! registered "$(product_code "$msi")" || fail "the upgrade left the old version installed"
registered "$(product_code "$next")" || fail "the upgrade is not registered"
# An older package refuses to install over it, and changes nothing.
if (cd "$tmp/out" && "$wine" msiexec /i "$(basename "$msi")" /qn); then
  fail "the older package installed over the newer one"
fi
check_installed "$folder"
registered "$(product_code "$next")" || fail "the older package removed the newer one"

# The uninstall finds the folder by itself, and keeps log\ and bin\.
msiexec /x "$next"
check_removed "$folder"
check_kept "the uninstall"
! registered "$(product_code "$next")" || fail "the uninstall left the product registered"
[ -z "$(remembered)" ] || fail "the uninstall left the folder remembered"
echo "msi-wine: $(basename "$msi") and $(basename "$next"): installed, ran, upgraded, removed"
