#!/usr/bin/env bash
# Packs a Windows build's release zip into a scratch folder and checks it as
# a user would receive it: the three files in order; the exe as built; the
# administrator's guide in CR LF, naming every message of the log and none
# of our building tools; the third-party notices with gflags' copyright and
# the GCC runtime library exception; SHA256SUMS that verifies; and entries
# that carry the commit's time and nothing of the machine or user that
# packed them.
# usage: check-zip.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)

fail() { echo "check-zip: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
zip=$(bash "$(dirname "$0")/pack.sh" "$build" "$tmp/out")
# shellcheck source=/dev/null
source "$build/pack.env"

want="vt-agent.exe README.txt THIRD-PARTY-NOTICES.txt"
[ "$(unzip -Z1 "$zip" | xargs)" = "$want" ] ||
  fail "$zip holds: $(unzip -Z1 "$zip" | xargs)"
mkdir "$tmp/unpacked"
unzip -q "$zip" -d "$tmp/unpacked"
cmp "$tmp/unpacked/vt-agent.exe" "$exe" || fail "the zipped exe is not the built one"

# Every line ends with CR LF: as many CRs as LFs, each right before one.
crlf_only() {
  local lf cr crlf
  lf=$(tr -cd '\n' < "$1" | wc -c)
  cr=$(tr -cd '\r' < "$1" | wc -c)
  crlf=$(grep -c $'\r$' "$1") || true
  [ "$lf" -gt 0 ] && [ "$cr" = "$lf" ] && [ "$crlf" = "$lf" ]
}

# The guide: what an administrator reads, so it names every message the
# agent logs (agent/vt-agent.cc), and nothing of how we build and test.
guide=$tmp/unpacked/README.txt
crlf_only "$guide" || fail "README.txt has line ends other than CR LF"
tr -d '\r' < "$guide" | cmp -s - "$readme" || fail "the zipped README.txt is not $readme"
messages=(
  "starting vt-agent."
  "Running: "
  "worker.exe ran successfully."
  "worker.exe updated binaries."
  "worker.exe failed with return code: "
  "error: no worker.exe binary ran successfully."
  "closing vt-agent."
)
for message in "${messages[@]}"; do
  grep -qF -- "$message" "$guide" || fail "README.txt does not name the log message '$message'"
done
for word in Debian Wine qemu binfmt apt-get CMake preset CTest MinGW scripts/; do
  ! grep -qiF -- "$word" "$guide" || fail "README.txt speaks of '$word': $(grep -inF -- "$word" "$guide" | head -n 1)"
done

notices=$tmp/unpacked/THIRD-PARTY-NOTICES.txt
gflags_version=$(sed 's/[.+~]/\\&/g' "$(dirname "$0")/../cmake/gflags-version.txt")
for line in "^gflags $gflags_version (Debian source package gflags)" \
            "^Copyright (c) 2006, Google Inc\.$" \
            "^mingw-w64-[a-z0-9_]*-dev [^ ]* (Debian package" \
            "^g++-mingw-w64-[a-z0-9-]*-posix [^ ]* (Debian package" \
            "GCC RUNTIME LIBRARY EXCEPTION"; do
  grep -q -- "$line" "$notices" || fail "THIRD-PARTY-NOTICES.txt lacks /$line/"
done

(cd "$tmp/out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
[ "$(cut -d' ' -f3 "$tmp/out/SHA256SUMS")" = "$(basename "$zip")" ] ||
  fail "SHA256SUMS names $(cut -d' ' -f3 "$tmp/out/SHA256SUMS")"

# Times: DOS times to two seconds, from 1980 on; no extra fields (owner,
# Unix times); fixed modes.
stamp=$(( epoch < 315532800 ? 315532800 : epoch / 2 * 2 ))
want=$(TZ=UTC date -d "@$stamp" +%Y%m%d.%H%M%S)
while read -r mode _ _ _ _ _ when name; do
  [ "$when" = "$want" ] || fail "$name is dated $when, not $want"
  case $name in
    vt-agent.exe) [ "$mode" = -rwxr-xr-x ] || fail "$name has mode $mode" ;;
    *) [ "$mode" = -rw-r--r-- ] || fail "$name has mode $mode" ;;
  esac
done < <(TZ=UTC unzip -Z -T "$zip" | grep -E '^[-d]')
extras=$(unzip -Zv "$zip" | grep -c 'length of extra field: *[1-9]') || true
[ "$extras" = 0 ] || fail "$extras entries carry extra fields"
echo "check-zip: $(basename "$zip"): $(unzip -Z1 "$zip" | xargs); $(cut -d' ' -f1 "$tmp/out/SHA256SUMS")"
