#!/usr/bin/env bash
# Checks a Windows executable: its format and machine, that it is a console
# program, and that it imports only DLLs that every Windows has (it must run
# with no MinGW runtime DLLs beside it).
# usage: check-exe.sh OBJDUMP EXE FORMAT    (FORMAT: pei-i386 or pei-x86-64)
set -euo pipefail
objdump=$1 exe=$2 format=$3

headers=$("$objdump" -p "$exe")
fail() { echo "check-exe: $exe: $*" >&2; exit 1; }

grep -q "file format $format\$" <<<"$headers" ||
  fail "not $format: $(grep -m1 'file format' <<<"$headers")"
grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$headers" ||
  fail "not a console program"

allowed='^(kernel32|user32|advapi32|shell32|shlwapi|msvcrt|ws2_32|ntdll|api-ms-win-crt-[a-z0-9-]+)\.dll$'
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$dlls" ] || fail "imports no DLL at all (not a PE file?)"
while read -r dll; do
  tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$allowed" ||
    fail "imports $dll, which a clean Windows does not have"
done <<<"$dlls"
echo "$exe: $format console program; imports: $(echo $dlls)"
