#include "agent/vt-agent.h"

#include <gflags/gflags.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "common/file.h"
#include "common/log.h"
#include "common/process.h"

// The flags library's own.
DECLARE_string(flagfile);
DECLARE_string(undefok);

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
  // A Windows program reads a backslash before the closing quote as the
  // escape of a quote: conf\vt\ would arrive as conf\vt". Such a value names
  // a folder anyway, never a file.
  if (!value.empty() && value.back() == '\\') {
    std::fprintf(stderr,
                 "%s: -%s must not end with a backslash: it names a folder, "
                 "and the worker would read the backslash and the closing "
                 "quote as a double quote\n",
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

// A flag line of a flag file, and where it stands. The flags library skips
// a line whose flag does not exist or lacks its value without a word; the
// agent refuses such lines once the whole command line is read (the
// library's registry is locked while it reads a file), and an unknown name
// only unless -undefok names it, as for the command line itself.
struct FlagLine {
  std::string name;
  bool has_value;
  std::string where;
};
std::vector<FlagLine> g_flag_lines;

// The items of a comma-separated list, as the flags library splits
// -flagfile and -undefok; empty items are left out.
std::vector<std::string> ListItems(const std::string& list) {
  std::vector<std::string> items;
  for (std::size_t start = 0; start < list.size();) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

// Why the flags library would not read the flag file at `path` as its
// author meant, or empty. A file that cannot be read is the library's to
// report.
std::string FlagFileFault(const std::string& path) {
  // In text mode, as the library reads it: on Windows, CR LF is LF then.
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return "";
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, n);
  }
  std::fclose(file);

  const std::string save_as =
      "; save it as ANSI, or as UTF-8 without a byte-order mark";
  if (text.rfind("\xef\xbb\xbf", 0) == 0) {
    return "starts with a UTF-8 byte-order mark, which hides its first line "
           "from the flags library" +
           save_as;
  }
  if (text.rfind("\xff\xfe", 0) == 0 || text.rfind("\xfe\xff", 0) == 0) {
    return "is UTF-16, which the flags library cannot read" + save_as;
  }
  if (text.find('\0') != std::string::npos) {
    return "holds NUL bytes, at which the flags library stops reading" +
           save_as;
  }
  // The library ends a line at the next CR when there is one, else at the
  // next LF: a line ended by a lone LF runs on into the next line that has
  // a CR.
  std::size_t lone_lf = text.find('\n');
  while (lone_lf != std::string::npos && lone_lf > 0 &&
         text[lone_lf - 1] == '\r') {
    lone_lf = text.find('\n', lone_lf + 1);
  }
  if (lone_lf != std::string::npos &&
      text.find('\r', lone_lf) != std::string::npos) {
    const auto line = std::count(text.begin(), text.begin() + lone_lf, '\n');
    return "line " + std::to_string(line + 1) +
           " ends in LF and a later line in CR LF, which the flags library "
           "reads as one line; end every line the same way";
  }

  // Line by line as the library reads them. A line that is neither a flag
  // nor a comment names the programs that the flags below it are for; those
  // may be another program's.
  int line = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string_view content(text.data() + start, end - start);
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    ++line;
    while (!content.empty() &&
           std::isspace(static_cast<unsigned char>(content[0]))) {
      content.remove_prefix(1);
    }
    if (content.empty() || content[0] == '#') continue;
    if (content[0] != '-') break;
    content.remove_prefix(content.rfind("--", 0) == 0 ? 2 : 1);
    const std::size_t equals = content.find('=');
    g_flag_lines.push_back(
        {std::string(content.substr(0, equals)),
         equals != std::string_view::npos,
         "flag file " + path + ": line " + std::to_string(line)});
  }
  return "";
}

// Checks each flag file before the flags library reads it.
bool ValidateFlagFiles(const char*, const std::string& value) {
  // -flagfile=a,b names several, read in turn.
  for (const std::string& path : ListItems(value)) {
    const std::string fault = FlagFileFault(path);
    if (!fault.empty()) {
      std::fprintf(stderr, "%s: flag file %s: %s\n", kProgramName, path.c_str(),
                   fault.c_str());
      return false;
    }
  }
  return true;
}

// Whether -undefok names `name`, as the library matches names on the command
// line: a boolean flag may come as noNAME.
bool UndefinedOk(const std::string& name) {
  for (const std::string& ok : ListItems(FLAGS_undefok)) {
    if (name == ok || name == "no" + ok) return true;
  }
  return false;
}

// Whether every flag line of the flag files names a flag and, unless the
// flag is a boolean one, gives it a value; says why not on standard error.
bool FlagLinesValid() {
  for (const FlagLine& line : g_flag_lines) {
    gflags::CommandLineFlagInfo info;
    if (gflags::GetCommandLineFlagInfo(line.name.c_str(), &info)) {
      if (line.has_value || info.type == "bool") continue;
      std::fprintf(stderr, "%s: %s: -%s has no value; write -%s=VALUE\n",
                   kProgramName, line.where.c_str(), line.name.c_str(),
                   line.name.c_str());
      return false;
    }
    const bool negated_bool =
        line.name.rfind("no", 0) == 0 &&
        gflags::GetCommandLineFlagInfo(line.name.c_str() + 2, &info) &&
        info.type == "bool";
    if (negated_bool || UndefinedOk(line.name)) continue;
    std::fprintf(stderr, "%s: %s: no flag is named '%s'\n", kProgramName,
                 line.where.c_str(), line.name.c_str());
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
  // Here, not beside the flag: the library's flags may not be registered
  // yet while this program's static objects are made.
  gflags::RegisterFlagValidator(&FLAGS_flagfile, &ValidateFlagFiles);
  // Help, version, flag files and bad flags are the library's; it exits by
  // itself for those. Arguments that are not flags are ignored.
  gflags::ParseCommandLineFlags(&argc, &argv, true);
  if (!FlagLinesValid()) return 1;

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
