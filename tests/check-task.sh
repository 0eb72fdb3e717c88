#!/usr/bin/env bash
# Imports the release zip's task definition as an administrator would, with
# schtasks /Create /XML, under Wine, reads back what the Task Scheduler
# stored and deletes the task again.
# Wine's schtasks knows /Create (/XML, /TN, /F; /RU is ignored, /RP refused),
# /Delete and /Change /ENABLE only: /Query prints nothing and exits 0, so the
# stored definition is read from Wine's task folder instead. Wine's Task
# Scheduler refuses a definition that is not well-formed, lacks the task
# namespace, or is UTF-16 without a byte-order mark or big-endian; of what
# it accepts it keeps RegistrationInfo and Settings, and drops the triggers,
# the principal and the actions (it stores them empty), so only those two
# are compared with the zipped file.
# usage: check-task.sh BUILD WINE64      (WINEPREFIX and the like set)
set -euo pipefail
build=$(cd "$1" && pwd)
wine=$2
root=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "check-task: $*" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set"
name=vt-agent-test
stored=$WINEPREFIX/drive_c/windows/system32/tasks/$name
tmp=$(mktemp -d)
schtasks() { "$wine" schtasks "$@" < /dev/null; }
cleanup() {
  [ -e "$stored" ] && schtasks /Delete /TN "$name" /F > /dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
zip=$(bash "$root/scripts/pack.sh" "$build" "$tmp/out")
unzip -q "$zip" vt-agent-task.xml -d "$tmp"
xml=$tmp/vt-agent-task.xml

# Left over by a run that was killed.
[ -e "$stored" ] && schtasks /Delete /TN "$name" /F

windows_path=Z:${xml//\//\\}
schtasks /Create /XML "$windows_path" /TN "$name" ||
  fail "schtasks /Create /XML $windows_path /TN $name failed ($?)"
[ -f "$stored" ] || fail "schtasks /Create stored no $stored"
xmllint --noout "$stored" || fail "Wine stored a definition that is not well-formed"

# Every setting, and the registration info, as the zipped file has them.
# local-name() throughout: the stored file carries the task namespace too.
values() {
  xmllint --xpath "/*[local-name()='Task']/*[local-name()='$2']/*" "$1" |
    sed -n 's|^ *<\([A-Za-z]*\)>\([^<]*\)</\1> *$|\1=\2|p' | sort
}
for section in RegistrationInfo Settings; do
  sent=$(values "$xml" "$section")
  kept=$(values "$stored" "$section")
  [ -n "$sent" ] || fail "the zipped task has no $section"
  missing=$(comm -23 <(echo "$sent") <(echo "$kept"))
  [ -z "$missing" ] ||
    fail "the Task Scheduler did not keep these of $section: $(paste -sd" " <<<"$missing") (it stored: $(paste -sd" " <<<"$kept"))"
done

schtasks /Delete /TN "$name" /F || fail "schtasks /Delete /TN $name /F failed ($?)"
[ ! -e "$stored" ] || fail "schtasks /Delete left $stored"
echo "check-task: imported, read back and deleted $name; kept: $(values "$xml" Settings | paste -sd" ")"
