#!/usr/bin/env bash
# Checks a Windows executable as Windows and a reviewer see it: its format
# and machine; a console program; relocatable, with no code run from data
# pages and aware of Remote Desktop sessions (and high-entropy ASLR on
# win64); stamped with the commit's time, not the link's; naming no folder
# of the machine that built it; importing only DLLs that every Windows has
# (it must run with no MinGW runtime DLLs beside it).
# usage: check-exe.sh OBJDUMP EXE FORMAT EPOCH [FOLDER ...]
#   FORMAT: pei-i386 or pei-x86-64; EPOCH: the expected PE time stamp;
#   FOLDER: build-machine paths that must not appear in the exe
set -euo pipefail
objdump=$1 exe=$2 format=$3 epoch=$4
shift 4

headers=$("$objdump" -p "$exe")
fail() { echo "check-exe: $exe: $*" >&2; exit 1; }

grep -q "file format $format\$" <<<"$headers" ||
  fail "not $format: $(grep -m1 'file format' <<<"$headers")"
grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]+\(Windows CUI\)' <<<"$headers" ||
  fail "not a console program"

wanted=(DYNAMIC_BASE NX_COMPAT TERMINAL_SERVICE_AWARE)
[ "$format" = pei-x86-64 ] && wanted+=(HIGH_ENTROPY_VA)
characteristics=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
for flag in "${wanted[@]}"; do
  grep -qw "$flag" <<<"$characteristics" || fail "DllCharacteristics lacks $flag"
done

# TimeDateStamp: 8 bytes into the PE header, whose offset is at 0x3c.
u32() { od -An -tu4 -j "$1" -N4 "$exe" | tr -d ' '; }
stamp=$(u32 $(( $(u32 60) + 8 )))
[ "$stamp" = "$epoch" ] || fail "PE time stamp is $stamp, not $epoch"

# As a string of its own (after a NUL), where __FILE__ would put it.
for folder in "$@"; do
  ! grep -qaP "\\x00\\Q${folder%/}/\\E" "$exe" ||
    fail "names the build machine's $folder"
done

allowed='^(kernel32|user32|advapi32|shell32|shlwapi|msvcrt|ws2_32|ntdll|api-ms-win-crt-[a-z0-9-]+)\.dll$'
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$dlls" ] || fail "imports no DLL at all (not a PE file?)"
while read -r dll; do
  tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$allowed" ||
    fail "imports $dll, which a clean Windows does not have"
done <<<"$dlls"
echo "$exe: $format console program, $(echo "${wanted[@]}"), stamped $stamp;" \
  "imports: $(echo $dlls)"
