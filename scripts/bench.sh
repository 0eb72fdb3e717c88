#!/usr/bin/env bash
# Builds the benchmarks and runs them all, printing one table: the agent next
# to the command interpreter running the worker alone (natively and, for the
# win64 build, under Wine), release discovery at 1,000 to 100,000 releases
# next to an ls | grep | sort | head pipeline, then FindWorkers alone (Google
# Benchmark). The table is also kept in build/bench/results.md.
# usage: scripts/bench.sh      (RUNS=N sets the per-run repetitions)
set -euo pipefail
source "$(dirname "$0")/common.sh"

runs=${RUNS:-400}
native=build/bench
win64=build/win64

bash scripts/deps.sh native windows bench

echo "== building" >&2
build_preset bench vt-agent worker compare find_workers_benchmark > /dev/null
build_mingw_gflags x86_64-w64-mingw32
build_preset win64 vt-agent worker > /dev/null

native=$PWD/$native
win64=$PWD/$win64
compare=$native/bench/compare
trees=$native/trees

# An installation at $1 whose newest of $2 releases (r000001 ...) has the
# worker $3, which exits 0 at once (no plan.txt).
make_installation() {
  local dir=$1 count=$2 worker=$3 newest
  newest=$(printf 'r%06d' "$count")
  if [ ! -d "$dir/bin/$newest" ]; then
    echo "== making $dir ($count releases)" >&2
    rm -rf "$dir"
    mkdir -p "$dir/bin" "$dir/log"
    (cd "$dir/bin" && seq -f 'r%06g' 1 "$count" | xargs mkdir)
    echo "config" > "$dir/config.txt"
  fi
  cp "$worker" "$dir/bin/$newest/worker.exe"
  : > "$dir/runs.txt"
  : > "$dir/log/vt-agent.log"
}

# compare's line: median_a median_b ratio rss_a rss_b.
side_by_side() {
  "$compare" "$@"
}

kib_to_mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

rows=()
row() { rows+=("$(printf '| %s ' "$@")|"); }

echo "== per run, native ($runs runs a side)" >&2
make_installation "$trees/run" 1 "$native/tests/worker.exe"
sh_worker=(/bin/sh -c 'bin/r000001/worker.exe -config="config.txt"')
read -r a b ratio rss_a rss_b < <(side_by_side -n "$runs" -w 10 \
  -C "$trees/run" "$native/vt-agent" ::: "${sh_worker[@]}")
verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.3 ? "met" : "missed") }')
row "per run, 1 release" "$a ms" "sh -c worker: $b ms" "$ratio" \
  "≤ 1.3: $verdict" "$(kib_to_mib "$rss_a") / $(kib_to_mib "$rss_b") MiB"

pipeline=(/bin/sh -c 'ls -f bin | grep "^r" | sort -r | head -n 1')
for count in 1000 10000 100000; do
  n=$((count >= 100000 ? 25 : count >= 10000 ? 40 : 100))
  echo "== discovery, $count releases ($n runs a side)" >&2
  make_installation "$trees/$count" "$count" "$native/tests/worker.exe"
  read -r a b ratio rss_a rss_b < <(side_by_side -n "$n" -w 3 \
    -C "$trees/$count" "$native/vt-agent" ::: "${pipeline[@]}")
  verdict=$(awk -v r="$ratio" -v k="$rss_a" -v c="$count" 'BEGIN {
    ok = r <= 1 && (c < 100000 || k < 16 * 1024); print ok ? "met" : "missed" }')
  goal="≤ 1"
  [ "$count" -ge 100000 ] && goal="≤ 1, RSS < 16 MiB"
  row "discovery, $(printf "%'d" "$count") releases" "$a ms" \
    "ls \\| grep \\| sort \\| head: $b ms" "$ratio" "$goal: $verdict" \
    "$(kib_to_mib "$rss_a") / $(kib_to_mib "$rss_b") MiB"
done

echo "== per run, win64 under Wine" >&2
# The tests' Wine set-up: their prefix, through the 64-bit loader.
ctest --preset win64 -R wine_prefix > /dev/null
# shellcheck source=/dev/null
source "$win64/wine.env"
wine64=$WINELOADER
# One wineserver for all runs, so that neither side pays for starting it.
wineserver -p5
make_installation "$trees/wine-run" 1 "$win64/tests/worker.exe"
wine_runs=$((runs / 4))
read -r a b ratio _ _ < <(side_by_side -n "$wine_runs" -w 5 \
  -C "$trees/wine-run" "$wine64" "$win64/vt-agent.exe" ::: \
  "$wine64" cmd /c 'bin\r000001\worker.exe -config="config.txt"')
verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.3 ? "met" : "missed") }')
row "per run, 1 release, win64 under Wine" "" "wine cmd /c worker" "$ratio" \
  "≤ 1.3: $verdict" ""
wineserver -w

echo "== FindWorkers alone (Google Benchmark)" >&2
gbench=$(VT_BENCH_TREES=$trees "$native/bench/find_workers_benchmark" \
  --benchmark_format=console --benchmark_color=false 2> /dev/null |
  grep '^BM_')

{
  echo "| Benchmark | vt-agent (median) | Reference (median) | Ratio | Goal | Max RSS agent / reference |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "FindWorkers alone (Google Benchmark; time, CPU, iterations):"
  echo
  echo '```'
  echo "$gbench"
  echo '```'
} | tee "$native/results.md"
