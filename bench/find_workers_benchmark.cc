// FindWorkers alone (listing, filtering, ordering) over installations with
// 1,000 to 100,000 release directories.
//
// The installations live under $VT_BENCH_TREES/<releases>/ (default
// bench-trees/ in the working directory), as scripts/bench.sh makes them:
// bin/r000001 ... bin/rNNNNNN. Missing ones are made here.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/vt-agent.h"

namespace {

std::string TreeRoot() {
  const char* root = std::getenv("VT_BENCH_TREES");
  return root != nullptr && *root != '\0' ? root : "bench-trees";
}

// The release name scripts/bench.sh uses: zero-padded, so newest sorts first.
std::string ReleaseName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "r%06d", number);
  return name;
}

// Makes <root>/<releases>/bin/r000001.. unless its last release exists.
bool MakeTree(const std::string& dir, int releases) {
  const std::string bin = dir + "/bin/";
  struct stat info;
  if (stat((bin + ReleaseName(releases)).c_str(), &info) == 0) return true;
  std::string path;
  for (const std::string& part : {TreeRoot(), dir, bin}) {
    mkdir(part.c_str(), 0755);
  }
  for (int number = 1; number <= releases; ++number) {
    path = bin + ReleaseName(number);
    if (mkdir(path.c_str(), 0755) != 0 && stat(path.c_str(), &info) != 0) {
      return false;
    }
  }
  return true;
}

void BM_FindWorkers(benchmark::State& state) {
  const int releases = static_cast<int>(state.range(0));
  const std::string dir = TreeRoot() + "/" + std::to_string(releases);
  char previous[4096];
  if (!MakeTree(dir, releases) ||
      getcwd(previous, sizeof previous) == nullptr || chdir(dir.c_str()) != 0) {
    state.SkipWithError("cannot make or enter the installation");
    return;
  }
  std::size_t found = 0;
  for (auto _ : state) {
    CandidateList list;
    FindWorkers(list);
    found = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  if (chdir(previous) != 0) state.SkipWithError("cannot go back");
  if (found != static_cast<std::size_t>(releases)) {
    state.SkipWithError("wrong number of candidates");
  }
  state.SetItemsProcessed(state.iterations() * releases);
}

BENCHMARK(BM_FindWorkers)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
