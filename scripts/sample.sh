#!/usr/bin/env bash
# Builds the native agent and runs it on the sample installation: release
# r0002 fails, r0001 succeeds. Prints the log and the agent's exit status.
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native
build_preset native vt-agent worker > /dev/null

run=build/sample
rm -rf "$run"
cp -r sample "$run"
mkdir -p "$run/log"
for release in "$run"/bin/r*/; do
  cp build/native/tests/worker.exe "$release"
done

status=0
(cd "$run" && ../native/vt-agent) || status=$?
echo "--- $run/log/vt-agent.log"
cat "$run/log/vt-agent.log"
echo "--- exit status: $status"
