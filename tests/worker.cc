// The least worker the agent needs, for tests and the sample installation.
//
// Each run appends its arguments to runs.txt in the working directory (one
// line a run, tab-separated, argv[0] first), then carries out one line of
// plan.txt in its own release directory. The first line is used up by the
// run unless it is the last, which repeats forever; with no plan the worker
// exits 0. A line holds actions separated by blanks, done in order:
//   print=TEXT     writes TEXT and a line feed to standard output
//   log=TEXT       appends TEXT and a line feed to log/vt-agent.log
//   rotate=NAME    renames log/vt-agent.log to log/NAME, as log rotation does
//   if-log-open=N  exits with status N if any process has log/vt-agent.log
//                  open
//   mkdir=PATH     makes the directory PATH (relative to the working one)
//   install=NAME   installs a release bin/NAME: a copy of this worker with
//                  the plan lines still unused; "+" names the release after
//                  this one (r07 -> r08, zero padding kept)
//   remove=NAME    removes the release directory bin/NAME
//   kill=N         raises signal N
//   interrupt=N    sends signal N to its whole process group, as a terminal
//                  does for Ctrl+C (2) or Ctrl+\ (3)
//   sleep=N        writes its process ID to worker.pid in the working
//                  directory, then sleeps N seconds: a worker that runs on
//   trap           from now on, SIGTERM or SIGHUP (POSIX) makes it wait a
//                  second, append "stopped by N" to runs.txt and exit 0
//   read-line      reads a line from standard input and appends "read LINE"
//                  to runs.txt
//   crash          writes through a null pointer
//   exit=N         exits with status N (the last action of a line)
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform.h"

namespace fs = std::filesystem;

namespace {

const char kLog[] = "log/vt-agent.log";
const char kRuns[] = "runs.txt";

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void WriteLines(const fs::path& path, const std::vector<std::string>& lines,
                std::size_t from) {
  std::ofstream out(path, std::ios::trunc);
  for (std::size_t i = from; i < lines.size(); ++i) out << lines[i] << '\n';
}

void AppendToRuns(const std::string& line) {
  std::ofstream(kRuns, std::ios::app | std::ios::binary) << line << '\n';
}

void OnStop(int signal) {
  // Cleaning up, as a worker that is told to stop may have to.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  AppendToRuns("stopped by " + std::to_string(signal));
  std::_Exit(0);
}

// r07 -> r08: the trailing number plus one, its width kept.
std::string NextRelease(const std::string& name) {
  std::size_t digits = name.find_last_not_of("0123456789") + 1;
  std::string number = name.substr(digits);
  std::string next =
      std::to_string(number.empty() ? 1 : std::stoll(number) + 1);
  if (next.size() < number.size()) {
    next.insert(0, number.size() - next.size(), '0');
  }
  return name.substr(0, digits) + next;
}

}  // namespace

int main(int argc, char** argv) {
  std::string received = argv[0];
  for (int i = 1; i < argc; ++i) received += std::string("\t") + argv[i];
  AppendToRuns(received);

  // The agent runs bin<sep>NAME<sep>worker.exe relative to the installation.
  const fs::path self = argv[0];
  const fs::path release = self.parent_path();
  const fs::path bin = release.parent_path();

  const fs::path plan = release / "plan.txt";
  std::vector<std::string> lines = ReadLines(plan);
  if (lines.empty()) return 0;
  std::size_t unused = lines.size() > 1 ? 1 : 0;
  if (unused) WriteLines(plan, lines, unused);

  std::istringstream actions(lines.front());
  for (std::string action; actions >> action;) {
    std::string::size_type eq = action.find('=');
    std::string verb = action.substr(0, eq);
    std::string arg = eq == std::string::npos ? "" : action.substr(eq + 1);
    if (verb == "print") {
      std::cout << arg << std::endl;
    } else if (verb == "log") {
      std::ofstream(kLog, std::ios::app) << arg << '\n';
    } else if (verb == "rotate") {
      std::error_code failed;  // the log stays where it is
      fs::rename(kLog, fs::path(kLog).parent_path() / arg, failed);
    } else if (verb == "if-log-open") {
      if (IsOpenInAnyProcess(kLog)) return std::atoi(arg.c_str());
    } else if (verb == "mkdir") {
      fs::create_directories(arg);
    } else if (verb == "install") {
      const fs::path target =
          bin / (arg == "+" ? NextRelease(release.filename().string()) : arg);
      fs::create_directories(target);
      fs::copy_file(self, target / "worker.exe",
                    fs::copy_options::overwrite_existing);
      WriteLines(target / "plan.txt", lines, unused);
    } else if (verb == "remove") {
      fs::remove_all(bin / arg);
    } else if (verb == "kill") {
      std::raise(std::atoi(arg.c_str()));
    } else if (verb == "interrupt") {
      SignalProcessGroup(std::atoi(arg.c_str()));
    } else if (verb == "sleep") {
      std::ofstream("worker.pid") << ProcessId() << '\n';
      std::this_thread::sleep_for(std::chrono::seconds(std::atoi(arg.c_str())));
    } else if (verb == "trap") {
      OnStopSignals(OnStop);
    } else if (verb == "read-line") {
      std::string line;
      std::getline(std::cin, line);
      AppendToRuns("read " + line);
    } else if (verb == "crash") {
      // Through a variable, so that the compiler cannot see the null and
      // put a trap instruction in place of the access violation.
      volatile int* volatile nowhere = nullptr;
      *nowhere = 0;
    } else if (verb == "exit") {
      return std::atoi(arg.c_str());
    }
  }
  return 0;
}
