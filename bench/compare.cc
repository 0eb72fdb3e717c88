// Runs two commands side by side and reports how long each takes.
//
// usage: compare [-n RUNS] [-w WARMUP] [-C DIR] A-ARGV... ::: B-ARGV...
//
// The commands run alternately (A B, then B A, so neither always follows the
// other), each started the same way (posix_spawn, output to /dev/null) and
// reaped with wait4, so the driver's own cost is the same on both sides.
// Prints one tab-separated line:
//   median_a_ms  median_b_ms  ratio_a_to_b  max_rss_a_kib  max_rss_b_kib
// Max RSS is what wait4 reports for the child: the largest of the child and
// the descendants it waited for.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Side {
  std::vector<char*> argv;  // null-terminated
  std::vector<double> millis;
  long max_rss_kib = 0;
};

// One run of `side`; false when the command could not start or failed.
bool RunOnce(const posix_spawn_file_actions_t& actions, Side& side) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, side.argv[0], &actions, nullptr, side.argv.data(),
                   environ) != 0) {
    std::fprintf(stderr, "compare: cannot start %s\n", side.argv[0]);
    return false;
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "compare: %s failed (wait status %d)\n", side.argv[0],
                 status);
    return false;
  }
  side.millis.push_back(
      std::chrono::duration<double, std::milli>(end - start).count());
  side.max_rss_kib = std::max(side.max_rss_kib, usage.ru_maxrss);
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Usage() {
  std::fprintf(stderr,
               "usage: compare [-n RUNS] [-w WARMUP] [-C DIR] A-ARGV... ::: "
               "B-ARGV...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 100;
  int warmup = 5;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (std::strcmp(argv[i], "-n") == 0) {
      runs = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "-w") == 0) {
      warmup = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "-C") == 0) {
      if (chdir(argv[i + 1]) != 0) {
        std::perror(argv[i + 1]);
        return 1;
      }
    } else {
      return Usage();
    }
  }
  Side sides[2];
  int current = 0;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], ":::") == 0 && current == 0) {
      current = 1;
    } else {
      sides[current].argv.push_back(argv[i]);
    }
  }
  if (runs < 1 || sides[0].argv.empty() || sides[1].argv.empty()) {
    return Usage();
  }
  for (Side& side : sides) side.argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null",
                                   O_WRONLY, 0);

  for (int run = 0; run < warmup + runs; ++run) {
    // Alternate which side goes first, so that neither profits from always
    // following the other.
    int first = run % 2;
    for (int k = 0; k < 2; ++k) {
      if (!RunOnce(actions, sides[first ^ k])) return 1;
    }
    if (run + 1 == warmup) {
      for (Side& side : sides) side.millis.clear();
    }
  }
  posix_spawn_file_actions_destroy(&actions);

  double a = Median(sides[0].millis);
  double b = Median(sides[1].millis);
  std::printf("%.3f\t%.3f\t%.3f\t%ld\t%ld\n", a, b, a / b, sides[0].max_rss_kib,
              sides[1].max_rss_kib);
  return 0;
}
