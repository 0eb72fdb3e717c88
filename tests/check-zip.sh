#!/usr/bin/env bash
# Packs a Windows build's release zip into a scratch folder and checks it as
# a user would receive it: the five files in order; the exe as built; the
# administrator's guide in CR LF, naming every message of the log and none
# of our building tools; the third-party notices with gflags' copyright and
# the GCC runtime library exception; the task definition in UTF-16 LE with
# its byte-order mark and CR LF, well-formed, starting the agent in its own
# folder; SHA256SUMS that verifies; and entries that carry the commit's time
# and nothing of the machine or user that packed them. The SBOM's content
# is checked by check-sbom.sh, the task's import under Wine by
# check-task.sh.
# usage: check-zip.sh BUILD
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "check-zip: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
zip=$(bash "$root/scripts/pack.sh" "$build" "$tmp/out")
# shellcheck source=/dev/null
source "$build/pack.env"

want="vt-agent.exe README.txt THIRD-PARTY-NOTICES.txt vt-agent.cdx.json vt-agent-task.xml"
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
gflags_version=$(sed 's/[.+~]/\\&/g' "$root/cmake/gflags-version.txt")
for line in "^gflags $gflags_version (Debian source package gflags)" \
            "^Copyright (c) 2006, Google Inc\.$" \
            "^mingw-w64-[a-z0-9_]*-dev [^ ]* (Debian package" \
            "^g++-mingw-w64-[a-z0-9-]*-posix [^ ]* (Debian package" \
            "GCC RUNTIME LIBRARY EXCEPTION"; do
  grep -q -- "$line" "$notices" || fail "THIRD-PARTY-NOTICES.txt lacks /$line/"
done

# The task, as Task Scheduler writes one: a UTF-16 LE byte-order mark, then
# the source's text in UTF-16 LE with CR LF.
xml=$tmp/unpacked/vt-agent-task.xml
[ "$(head -c 2 "$xml" | od -An -tx1 | xargs)" = "ff fe" ] ||
  fail "vt-agent-task.xml does not start with the UTF-16 LE byte-order mark"
tail -c +3 "$xml" | iconv -f UTF-16LE -t UTF-8 > "$tmp/task.txt" ||
  fail "vt-agent-task.xml is not UTF-16 LE"
crlf_only "$tmp/task.txt" || fail "vt-agent-task.xml has line ends other than CR LF"
head -n 1 "$tmp/task.txt" | grep -q '^<?xml version="1.0" encoding="UTF-16"?>'$'\r''$' ||
  fail "vt-agent-task.xml does not declare UTF-16: $(head -n 1 "$tmp/task.txt")"
tr -d '\r' < "$tmp/task.txt" | cmp -s - "$task" || fail "the zipped task is not $task"
command -v xmllint > /dev/null || fail "xmllint not found (scripts/deps.sh release)"
xmllint --noout "$xml" || fail "vt-agent-task.xml is not well-formed"
value() { xmllint --xpath "string($1)" "$xml"; }
el() { printf "/*[local-name()='%s']" "$@"; }
[ "$(value "namespace-uri(/*)")" = http://schemas.microsoft.com/windows/2004/02/mit/task ] &&
  [ "$(value "local-name(/*)")" = Task ] ||
  fail "vt-agent-task.xml is no Task of the task namespace"
[[ $(value "/*/@version") =~ ^1\.[2-9]$ ]] ||
  fail "vt-agent-task.xml has Task version '$(value "/*/@version")', below 1.2"
# The agent finds everything relative to its working directory: the task
# must start it in the folder that holds it.
command=$(value "$(el Task Actions Exec Command)")
folder=$(value "$(el Task Actions Exec WorkingDirectory)")
[ -n "$folder" ] || fail "vt-agent-task.xml sets no WorkingDirectory"
[ "$command" = "$folder\\vt-agent.exe" ] ||
  fail "vt-agent-task.xml runs '$command', not vt-agent.exe in its WorkingDirectory '$folder'"

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
