#!/usr/bin/env bash
# Makes Wine's 32-bit loader able to run on this machine, then checks that it
# runs. Where the kernel runs i386 programs itself (an ordinary PC) there is
# nothing to do. Where its IA-32 emulation is switched off, every i386
# program, the loader and the 32-bit processes it starts included, can run
# under qemu-i386-static once that is registered with binfmt_misc: about a
# minute a process start.
# usage: wine32.sh                       set up where needed (as root), check
#        wine32.sh --check [DRIVER.exe]  only check, and that DRIVER exists;
#                                        says why when something is missing
set -euo pipefail

loader=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc

fail() { echo "wine32: $*" >&2; exit 1; }

check() {
  [ -x "$loader" ] ||
    fail "$loader is missing: install wine32:i386 (scripts/deps.sh wine32)"
  local out
  if ! out=$("$loader" --version 2>&1); then
    fail "Wine's 32-bit loader does not run ($out). This kernel runs no i386" \
      "programs itself, and $qemu is not registered for them with" \
      "binfmt_misc: run scripts/wine32.sh as root"
  fi
}

if [ "${1:-}" = --check ]; then
  check
  if [ -n "${2:-}" ] && [ ! -f "$2" ]; then
    fail "$2 is missing: it runs the 32-bit exe; build the win64 preset first"
  fi
  echo "wine32: $("$loader" --version) runs 32-bit programs"
  exit 0
fi

"$loader" --version > /dev/null 2>&1 && exit 0
[ -x "$qemu" ] ||
  fail "this kernel runs no i386 programs and $qemu is missing" \
    "(scripts/deps.sh wine32 installs qemu-user-static)"
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" ||
  fail "cannot mount binfmt_misc on $binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
  echo "wine32: registering $qemu for i386 programs with binfmt_misc"
  # The i386 ELF header (executables and shared objects) and its mask; F:
  # the interpreter is opened now, so that it serves in any mount namespace.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" > "$binfmt/register" ||
    fail "cannot register $qemu with binfmt_misc"
fi
check
