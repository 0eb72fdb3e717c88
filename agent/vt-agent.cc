#include "agent/vt-agent.h"

#include <gflags/gflags.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

#include "common/file.h"
#include "common/log.h"
#include "common/process.h"

namespace {

// cmd.exe refuses a command line of more than 8191 characters, its own "/c "
// and quotes included, and says so with status 1, which would read as
// "updated binaries": the agent would run the same command again forever.
// Through system() that happens from a command string of 8161 characters on.
constexpr std::size_t kMaxCommandLine = 8160;
// The longest release name a directory can have.
constexpr std::size_t kMaxReleaseName = 255;
// The worker command line less the value: bin\NAME\worker.exe -config="".
constexpr std::size_t kMaxConfig = kMaxCommandLine - (sizeof "bin\\" - 1) -
                                   kMaxReleaseName -
                                   (sizeof "\\worker.exe -config=\"\"" - 1);

// A double quote would end the quoted value early and a line break would end
// the command, handing the rest to the interpreter; neither can stand in a
// Windows path anyway. The same bounds hold on every platform, so that a
// value means the same everywhere.
bool ValidateConfig(const char* flag, const std::string& value) {
  if (value.find_first_of("\"\r\n") != std::string::npos) {
    std::fprintf(stderr,
                 "%s: -%s must not contain a double quote, a carriage return "
                 "or a line feed\n",
                 kProgramName, flag);
    return false;
  }
  if (value.size() > kMaxConfig) {
    std::fprintf(stderr,
                 "%s: -%s must not be longer than %zu bytes: the worker's "
                 "command line would be too long for the interpreter\n",
                 kProgramName, flag, kMaxConfig);
    return false;
  }
  return true;
}

}  // namespace

DEFINE_string(config, "config.txt", "Relative path to configuration file.");
DEFINE_validator(config, &ValidateConfig);

const char kProgramName[] = "vt-agent.exe";
const std::string kLogDir = std::string("log") + kPathSeparator;
const std::string kBinDir = std::string("bin") + kPathSeparator;
const char kUsage[] =
    "Veltrane Integration Agent\n"
    "\n"
    "  * Extract student information from an ODBC data source (optional).\n"
    "  * Construct CSV files from extracted data (optional).\n"
    "  * Upload files (via SFTP) for insertion into Quillmark.\n"
    "\n"
    "See https://docs.veltrane.example/v4/vt_agent.py for full "
    "documentation.\n"
    "\n"
    "> vt-agent.exe [-config=config.txt]\n"
    "\n"
    "vt-agent returns 0 on success and non-zero on failure. On Windows, the "
    "return\n"
    "code can be tested with:\n"
    "\n"
    "> IF %ERRORLEVEL% NEQ 0 echo failure\n";

bool PathLess(const std::string& a, const std::string& b) {
  // Bytes compare as unsigned values; the separator weighs as the backslash
  // that Windows paths carry, so that bin/r1/ sorts above bin/r10/.
  auto weight = [](char c) {
    return static_cast<unsigned char>(c == kPathSeparator ? '\\' : c);
  };
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [&](char x, char y) { return weight(x) < weight(y); });
}

void FindWorkers(CandidateList& list) {
  const std::string suffix = std::string(1, kPathSeparator) + "worker.exe";
  FileRecords records = ListSubdirectories(kBinDir + "r*");
  list.reserve(list.size() + records.size());
  // Consumed front to back, so that the paths reuse the records' memory.
  for (; !records.empty(); records.pop_front()) {
    // Sized once: growing by appends would leave most paths with twice the
    // memory they need.
    const std::string_view name = records.front().cFileName;
    std::string path;
    path.reserve(kBinDir.size() + name.size() + suffix.size());
    path.append(kBinDir).append(name).append(suffix);
    list.push_back(std::move(path));
  }
  OrderCandidates(list);
}

void OrderCandidates(CandidateList& list) {
  // Sorting descending is sorting ascending then reversing: equal paths are
  // the same path.
  //
  // With the separator written as a backslash, PathLess is the plain byte
  // order, which std::string compares with memcmp, several times faster.
  // That holds only while no path has a backslash of its own.
  const bool swap = kPathSeparator != '\\';
  if (swap && std::any_of(list.begin(), list.end(), [](const std::string& p) {
        return p.find('\\') != std::string::npos;
      })) {
    std::sort(list.begin(), list.end(),
              [](const std::string& a, const std::string& b) {
                return PathLess(b, a);
              });
    return;
  }
  auto replace_all = [&list](char from, char to) {
    for (std::string& p : list) std::replace(p.begin(), p.end(), from, to);
  };
  if (swap) replace_all(kPathSeparator, '\\');
  std::sort(list.begin(), list.end(), std::greater<>());
  if (swap) replace_all('\\', kPathSeparator);
}

std::string WorkerCommandLine(const std::string& path,
                              const std::string& config) {
  return path + " -config=\"" + EscapeInDoubleQuotes(config) + "\"";
}

WorkerRun::Verdict VerdictOf(int status) {
  switch (status) {
    case 0:
      return WorkerRun::kSucceeded;
    case 1:
      return WorkerRun::kUpdated;
    default:
      return WorkerRun::kFailed;
  }
}

WorkerRun RunWorker(const std::string& path) {
  const std::string command_line = WorkerCommandLine(path, FLAGS_config);
  Log("Running: " + command_line);
  CloseLog();  // the worker may write to or replace the log meanwhile
  const CommandResult result = RunCommandLine(command_line);
  const WorkerRun run{result.status, VerdictOf(result.status),
                      result.interrupt};
  OpenLog(kProgramName, kLogDir);
  switch (run.verdict) {
    case WorkerRun::kSucceeded:
      Log("worker.exe ran successfully.");
      break;
    case WorkerRun::kUpdated:
      Log("worker.exe updated binaries.");
      break;
    case WorkerRun::kFailed:
      Log("worker.exe failed with return code: " + std::to_string(run.status) +
          ".");
      break;
  }
  return run;
}

int AgentMain(int argc, char** argv) {
  // Before anything runs: whatever the agent starts must not outlive it.
  PrepareToRunCommands();
  // Output that nobody reads (help included) must not end the agent.
  IgnoreBrokenPipes();
  gflags::SetUsageMessage(kUsage);
  // Help, version, flag files and bad flags are the library's; it exits by
  // itself for those. Arguments that are not flags are ignored.
  gflags::ParseCommandLineFlags(&argc, &argv, true);

  OpenLog(kProgramName, kLogDir);
  Log("starting vt-agent.");

  bool success = false;
  bool restart = true;
  int interrupt = 0;
  while (restart) {
    CandidateList candidates;
    FindWorkers(candidates);
    restart = false;
    for (const std::string& path : candidates) {
      // Asked to stop between two workers: start no other.
      if ((interrupt = PendingInterrupt()) != 0) break;
      const WorkerRun run = RunWorker(path);
      success = run.verdict == WorkerRun::kSucceeded;
      // Stopped while the worker ran: no older release, no rescan.
      interrupt = run.interrupt;
      if (interrupt != 0 || run.verdict == WorkerRun::kSucceeded) break;
      if (run.verdict == WorkerRun::kUpdated) {
        // The worker installed new binaries: scan again, newest first.
        restart = true;
        break;
      }
    }
  }

  if (!success) Log("error: no worker.exe binary ran successfully.");
  Log("closing vt-agent.");
  CloseLog();
  // Ended as an interrupted program ends, so that the caller (a shell loop,
  // a service manager) knows that the run was stopped rather than failed.
  if (interrupt != 0) EndByInterrupt(interrupt);
  return success ? 0 : 1;
}
