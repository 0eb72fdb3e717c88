#!/usr/bin/env bash
# Fuzzes the release order against a plain reference comparison for a
# bounded time (default 60 seconds); a finding is kept as crash-* in
# build/fuzz/findings.
# usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
source "$(dirname "$0")/common.sh"

bash scripts/deps.sh native fuzz
build_preset fuzz order_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/findings
build/fuzz/fuzz/order_fuzzer -max_total_time="${1:-60}" -max_len=512 \
  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus
