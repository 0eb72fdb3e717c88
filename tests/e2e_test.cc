// The real vt-agent binary in a scratch installation with real workers: its
// log, standard output and error, exit status, and what the workers received.
// One table holds the cases, the ordinary ones and the faults alike.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>

#include "agent/vt-agent.h"
#include "common/file.h"
#include "common/log.h"
#include "common/process.h"
#include "tests/platform.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

const bool kWindows = kPathSeparator == '\\';

struct Outcome {
  int status = -1;
  int signal = 0;  // the signal that ended the agent (POSIX), 0 if it exited
  std::string out;
  std::string err;
  std::string log;       // the log file, when it is a regular file
  std::string received;  // runs.txt: what the workers received
  // The local time just before and just after the run, as log lines stamp
  // it.
  std::string earliest;
  std::string latest;
};

// Far from UTC, so that a stamp in UTC, or in this machine's own zone, shows.
const char kZone[] = "VTT-13";  // 13 hours ahead of UTC, no daylight saving
const int kZoneOffset = 13 * 3600;

// The local time in kZone at `when`, as a log line stamps it.
std::string ZoneStamp(std::time_t when) {
  when += kZoneOffset;
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", std::gmtime(&when));
  return stamp;
}

class Installation : public ScratchDirTest {
 public:
  // A release directory with the test worker and its plan (see worker.cc).
  void Release(const std::string& name, const std::string& plan = "") {
    fs::create_directories("inst/bin/" + name);
    fs::copy_file(VT_WORKER_BINARY, "inst/bin/" + name + "/worker.exe");
    if (!plan.empty()) WriteFile("inst/bin/" + name + "/plan.txt", plan);
  }

  // The agent and its workers run as an unprivileged user that owns the
  // installation (permissions mean nothing to root).
  void RunUnprivileged() { wrapper_ += Unprivileged("inst"); }

  // No file the agent or a worker writes may grow past `blocks` 512-byte
  // blocks; a write beyond fails as on a full disk.
  void LimitFileSize(int blocks) {
    shell_ += "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; ";
  }

  // The agent leads a process group of its own, as a job that a terminal
  // runs in the foreground, so that a worker's interrupt= reaches the agent
  // as Ctrl+C does, and nothing of the tests.
  void RunInOwnSession() { wrapper_ += OwnSession(); }

  // The agent's standard output goes into a pipe rather than a file.
  void OutputThroughPipe() { output_ = kPipe; }

  // The agent's standard output is a pipe whose reader has gone.
  void OutputToClosedPipe() { output_ = kClosedPipe; }

 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    if (const char* zone = std::getenv("TZ")) zone_ = zone;
    SetEnvironment("TZ", kZone);
    NewInstallation();
  }

  void TearDown() override {
    SetEnvironment("FLAGS_config", "");
    SetEnvironment("TZ", zone_);
    ScratchDirTest::TearDown();
  }

  // An installation with the agent and an empty log/, and nothing else.
  void NewInstallation() {
    fs::remove_all("inst");
    SetEnvironment("FLAGS_config", "");
    shell_.clear();
    wrapper_.clear();
    output_ = kFile;
    fs::create_directories("inst/log");
    fs::copy_file(AgentBinary(VT_AGENT_BINARY), "inst/vt-agent.exe");
  }

  // Runs the agent in the installation with `args` as the interpreter sees
  // them.
  Outcome Run(const std::string& args) {
    // The agent never started (it exits 0 or 1), so nothing has changed:
    // it may start again in the same installation.
    return RetryFailedStarts(
        args, [&] { return RunOnce(args); },
        [](const Outcome& outcome) { return StartFailed(outcome.status); });
  }

 private:
  Outcome RunOnce(const std::string& args) {
    fs::current_path("inst");
    const std::string agent = wrapper_ + Native("./vt-agent.exe") + " " + args;
    Outcome outcome;
    for (const char* file : {"../stdout.txt", "../status", "../gone"}) {
      fs::remove(file);
    }
    outcome.earliest = ZoneStamp(std::time(nullptr));
    if (output_ == kFile) {
      // The shell becomes the agent, so that its end is the agent's own.
      const Ended ended =
          RunRedirected(shell_ + (kWindows ? "" : "exec ") + agent,
                        "../stdout.txt", "../stderr.txt");
      outcome.status = ended.status;
      outcome.signal = ended.signal;
    } else {
      // A closed pipe: its reader closes its end, then lets the agent start.
      const bool closed = output_ == kClosedPipe;
      RunCommandLine(
          std::string("{ ") +
          (closed ? "until [ -e ../gone ]; do sleep 0.01; done; " : "") +
          shell_ + agent + " 2> ../stderr.txt; echo $? > ../status; } | " +
          (closed ? "{ exec 0<&-; : > ../gone; }" : "cat > ../stdout.txt"));
      outcome.status = std::stoi("0" + ReadFile("../status"));
    }
    outcome.latest = ZoneStamp(std::time(nullptr));
    fs::current_path("..");
    outcome.out = ReadFile("stdout.txt");
    outcome.err = ReadFile("stderr.txt");
    // Only a regular file: the log may be a device that reads forever.
    const fs::path log = "inst/log/vt-agent.log";
    if (fs::is_regular_file(log)) outcome.log = ReadFile(log);
    outcome.received = ReadFile("inst/runs.txt");
    return outcome;
  }

  enum Output { kFile, kPipe, kClosedPipe };

  std::string shell_;    // commands for the shell before the agent's
  std::string wrapper_;  // words in front of the agent's own command
  Output output_ = kFile;
  std::string zone_;  // TZ as the test found it
};

// The messages of `text`, checking that every line is a log line of the
// agent stamped with the local time of the run; lines of other writers are
// returned whole, behind "| ".
std::vector<std::string> MessagesOf(const std::string& text,
                                    const Outcome& run) {
  // Matched on the prefix alone: std::regex recurses per character, and
  // lines may be long.
  static const std::regex prefix(
      R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\(vt-agent\.exe\) )");
  static const std::size_t kPrefixSize = 34;
  static const std::size_t kStampSize = 19;
  std::vector<std::string> messages;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find(TextLineEnd(), start);
    if (end == std::string::npos) {
      messages.push_back("unterminated: " + text.substr(start));
      break;
    }
    std::string one = text.substr(start, end - start);
    start = end + TextLineEnd().size();
    if (!std::regex_match(one.substr(0, kPrefixSize), prefix)) {
      messages.push_back("| " + one);
      continue;
    }
    // The stamps sort as the times do.
    const std::string stamp = one.substr(0, kStampSize);
    const bool in_time = run.earliest <= stamp && stamp <= run.latest;
    messages.push_back(
        (in_time ? "" : "stamped " + stamp + ", not " + run.earliest + ": ") +
        one.substr(kPrefixSize));
  }
  return messages;
}

std::string Running(const std::string& release,
                    const std::string& config = "config.txt") {
  return "Running: " + Native("bin/" + release + "/worker.exe") +
         " -config=\"" + EscapeInDoubleQuotes(config) + "\"";
}

// One line of runs.txt: what the worker received, as its argv.
std::string Received(const std::string& release,
                     const std::string& config = "config.txt") {
  return Native("bin/" + release + "/worker.exe") + "\t-config=" + config;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// POSIX's signal numbers: Ctrl+C's, Ctrl+\'s, and kill's default.
const int kSigint = 2;
const int kSigquit = 3;
const int kSigterm = 15;

const char kStart[] = "starting vt-agent.";
const char kClose[] = "closing vt-agent.";
const char kNone[] = "error: no worker.exe binary ran successfully.";
const char kSuccess[] = "worker.exe ran successfully.";
const char kUpdated[] = "worker.exe updated binaries.";
std::string Failed(int status) {
  return "worker.exe failed with return code: " + std::to_string(status) + ".";
}
// The interpreter's status for a command it cannot find or run.
const int kNotFound = kWindows ? 9009 : 127;

// Standard error that the interpreter, not the agent, writes to.
const char kAnything[] = "*";
const char kRefused[] = "vt-agent.exe: -config must not ";

enum Platforms { kBoth, kPosixOnly };
using Messages = std::vector<std::string>;

struct Case {
  std::string name;
  std::function<void(Installation&)> setup;
  std::string args;
  int status;
  std::vector<std::string> log;       // the log file's messages
  std::vector<std::string> received;  // the worker runs, in order
  std::vector<std::string> out = {};  // standard output's messages
  std::string err = "";               // found in standard error
  Platforms platforms = kBoth;
  int signal = 0;  // the signal the agent ends by, 0 when it exits
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// A single release r1 with the given plan (by default: it succeeds).
std::function<void(Installation&)> OneRelease(const std::string& plan = "") {
  return [plan](Installation& i) { i.Release("r1", plan); };
}

// Sorts above every r000000..r099999.
const char kNewest[] = "r100000";

// A line that, with its line feed and the agent's first line, fills one
// 512-byte block exactly.
const std::string kFill = std::string(
    512 - 1 - FormatLogLine(std::tm{}, "vt-agent.exe", kStart).size(), 'x');

std::vector<Case> SupervisionCases() {
  return {
      // What the agent is for.
      {"OneReleaseSucceeds",
       OneRelease(),
       "",
       0,
       {kStart, Running("r1"), kSuccess, kClose},
       {Received("r1")}},
      {"NewestFailsOlderSucceeds",
       [](Installation& i) {
         i.Release("r1");
         i.Release("r2", "exit=3");
       },
       "",
       0,
       {kStart, Running("r2"), Failed(3), Running("r1"), kSuccess, kClose},
       {Received("r2"), Received("r1")}},
      {"AllFail",
       [](Installation& i) {
         i.Release("r1", "exit=2");
         i.Release("r2", "exit=255");
       },
       "",
       1,
       {kStart, Running("r2"), Failed(255), Running("r1"), Failed(2), kNone,
        kClose},
       {Received("r2"), Received("r1")}},
      {"OrderIsTextualNotNumeric",
       [](Installation& i) {
         i.Release("r9", "exit=4");
         i.Release("r10");
       },
       "",
       0,
       {kStart, Running("r9"), Failed(4), Running("r10"), kSuccess, kClose},
       {Received("r9"), Received("r10")}},
      {"ArgumentsThatAreNotFlagsAreIgnored",
       OneRelease(),
       "extra words",
       0,
       {kStart, Running("r1"), kSuccess, kClose},
       {Received("r1")}},

      // The worker's statuses.
      {"StatusesAreTheWorkersOwn",
       [](Installation& i) {
         i.Release("r3", "exit=-1");
         i.Release("r2", "exit=1000");
         i.Release("r1", "exit=42");
       },
       "",
       1,
       // A status is eight bits on POSIX: -1 arrives as 255, 1000 as 232.
       {kStart, Running("r3"), Failed(kWindows ? -1 : 255), Running("r2"),
        Failed(kWindows ? 1000 : 232), Running("r1"), Failed(42), kNone,
        kClose},
       {Received("r3"), Received("r2"), Received("r1")}},
      {"Status256IsZeroOnPosix",
       OneRelease("exit=256"),
       "",
       kWindows ? 1 : 0,
       kWindows ? Messages{kStart, Running("r1"), Failed(256), kNone, kClose}
                : Messages{kStart, Running("r1"), kSuccess, kClose},
       {Received("r1")}},
      {"WorkerKilledBySignal",
       [](Installation& i) {
         i.Release("r2", "kill=9");
         i.Release("r1", "kill=15");
       },
       "",
       1,
       {kStart, Running("r2"), Failed(128 + 9), Running("r1"), Failed(128 + 15),
        kNone, kClose},
       {Received("r2"), Received("r1")},
       {},
       kAnything,
       kPosixOnly},

      // Updates.
      {"UpdateRescansRunsTheNewReleaseThenFallsBack",
       [](Installation& i) {
         i.Release("r1", "install=r2 exit=1\nexit=7");
         i.Release("r0");
       },
       "",
       0,
       {kStart, Running("r1"), kUpdated, Running("r2"), Failed(7),
        Running("r1"), Failed(7), Running("r0"), kSuccess, kClose},
       {Received("r1"), Received("r2"), Received("r1"), Received("r0")}},
      {"UpdateWithoutNewReleaseStartsOverAtTheNewest",
       [](Installation& i) {
         i.Release("r2", "exit=1\nexit=0");
         i.Release("r1");
       },
       "",
       0,
       {kStart, Running("r2"), kUpdated, Running("r2"), kSuccess, kClose},
       {Received("r2"), Received("r2")}},
      {"FollowsAChainOfUpdates",
       OneRelease("install=+ exit=1\ninstall=+ exit=1\ninstall=+ exit=1\n"
                  "exit=0"),
       "",
       0,
       {kStart, Running("r1"), kUpdated, Running("r2"), kUpdated, Running("r3"),
        kUpdated, Running("r4"), kSuccess, kClose},
       {Received("r1"), Received("r2"), Received("r3"), Received("r4")}},
      {"ReleaseRemovedBetweenScansIsNotRun",
       [](Installation& i) {
         i.Release("r3", "remove=r2 exit=1\nexit=4");
         i.Release("r2");
         i.Release("r1");
       },
       "",
       0,
       {kStart, Running("r3"), kUpdated, Running("r3"), Failed(4),
        Running("r1"), kSuccess, kClose},
       {Received("r3"), Received("r3"), Received("r1")}},

      // bin/.
      {"NoBinRunsNothing", nullptr, "", 1, {kStart, kNone, kClose}, {}},
      {"EmptyBinRunsNothing",
       [](Installation&) { fs::create_directories("inst/bin"); },
       "",
       1,
       {kStart, kNone, kClose},
       {}},
      {"BinIsAFile",
       [](Installation&) { WriteFile("inst/bin", ""); },
       "",
       1,
       {kStart, kNone, kClose},
       {}},
      {"BinHoldsOnlyFilesNamedR",
       [](Installation&) {
         fs::create_directories("inst/bin");
         WriteFile("inst/bin/r1", "");
         WriteFile("inst/bin/r2.exe", "");
       },
       "",
       1,
       {kStart, kNone, kClose},
       {}},
      {"BinUnreadable",
       [](Installation& i) {
         i.Release("r1");
         i.RunUnprivileged();
         fs::permissions("inst/bin", fs::perms::none);
       },
       "",
       1,
       {kStart, kNone, kClose},
       {},
       {},
       "",
       kPosixOnly},
      {"OnlyDirectoriesNamedRCountAndCaseIsIgnored",
       [](Installation& i) {
         i.Release("R1");
         i.Release("x9", "exit=9");
         WriteFile("inst/bin/r9", "");
         fs::create_directories("inst/bin/r5");  // no worker.exe in it
       },
       "",
       0,
       {kStart, Running("r5"), Failed(kNotFound), Running("R1"), kSuccess,
        kClose},
       {Received("R1")},
       {},
       kAnything},
      {"WorkerNotExecutable",
       [](Installation& i) {
         i.Release("r1");
         fs::permissions("inst/bin/r1/worker.exe",
                         fs::perms::owner_read | fs::perms::owner_write);
       },
       "",
       1,
       {kStart, Running("r1"), Failed(126), kNone, kClose},
       {},
       {},
       kAnything,
       kPosixOnly},
      {"SymbolicLinkToAReleaseCounts",
       [](Installation& i) {
         i.Release("r1", "exit=3");
         fs::create_directories("inst/releases");
         fs::rename("inst/bin/r1", "inst/releases/r1");
         fs::create_directory_symlink("../releases/r1", "inst/bin/r7");
       },
       "",
       1,
       {kStart, Running("r7"), Failed(3), kNone, kClose},
       {Received("r7")},
       {},
       "",
       kPosixOnly},
      {"ManyReleases",
       [](Installation& i) {
         // 100,000 on POSIX. Wine makes each new directory cost as much as
         // the directory already holds, so it gets fewer.
         const int count = kWindows ? 5000 : 100000;
         char name[16];
         fs::create_directories("inst/bin");
         for (int n = 0; n < count; ++n) {
           std::snprintf(name, sizeof name, "r%06d", n);
           fs::create_directory(std::string("inst/bin/") + name);
         }
         i.Release(kNewest);
       },
       "",
       0,
       {kStart, Running(kNewest), kSuccess, kClose},
       {Received(kNewest)}},

      // The log.
      {"WithoutLogDirectoryLinesGoToStandardOutput",
       [](Installation& i) {
         i.Release("r1", "exit=6");
         fs::remove("inst/log");
       },
       "",
       1,
       {},
       {Received("r1")},
       {kStart, Running("r1"), Failed(6), kNone, kClose}},
      {"LogDirectoryReadOnly",
       [](Installation& i) {
         i.Release("r1");
         i.RunUnprivileged();
         fs::permissions("inst/log",
                         fs::perms::owner_read | fs::perms::owner_exec);
       },
       "",
       0,
       {},
       {Received("r1")},
       {kStart, Running("r1"), kSuccess, kClose},
       "",
       kPosixOnly},
      {"LogFileReadOnly",
       [](Installation& i) {
         i.Release("r1");
         WriteFile("inst/log/vt-agent.log", "old line" + TextLineEnd());
         i.RunUnprivileged();
         fs::permissions("inst/log/vt-agent.log", fs::perms::owner_read);
       },
       "",
       0,
       {"| old line"},
       {Received("r1")},
       {kStart, Running("r1"), kSuccess, kClose},
       "",
       kPosixOnly},
      {"LogFileIsADirectory",
       [](Installation& i) {
         i.Release("r1");
         fs::create_directories("inst/log/vt-agent.log");
       },
       "",
       0,
       {},
       {Received("r1")},
       {kStart, Running("r1"), kSuccess, kClose}},
      {"DiskFullAtTheFirstLine",
       [](Installation& i) {
         i.Release("r1");
         fs::create_symlink("/dev/full", "inst/log/vt-agent.log");
       },
       "",
       0,
       {},
       {Received("r1")},
       {kStart, Running("r1"), kSuccess, kClose},
       "",
       kPosixOnly},
      {"DiskFullInTheMiddleOfARun",
       [](Installation& i) {
         i.Release("r1");
         // Room for exactly the first line.
         WriteFile("inst/log/vt-agent.log", kFill + "\n");
         i.LimitFileSize(1);
       },
       "",
       0,
       {"| " + kFill, kStart},
       {Received("r1")},
       {Running("r1"), kSuccess, kClose},
       "",
       kPosixOnly},
      {"LogIsAppendedAndKeepsWhatTheWorkerWrote",
       [](Installation& i) {
         i.Release("r1", "log=worker-was-here");
         WriteFile("inst/log/vt-agent.log", "old line" + TextLineEnd());
       },
       "",
       0,
       {"| old line", kStart, Running("r1"), "| worker-was-here", kSuccess,
        kClose},
       {Received("r1")}},
      {"LogIsClosedWhileTheWorkerRuns",
       OneRelease("if-log-open=9"),
       "",
       0,
       {kStart, Running("r1"), kSuccess, kClose},
       {Received("r1")}},
      {"WorkerRotatesTheLogAndTheAgentStartsANewOne",
       OneRelease("rotate=old.log log=rotated"),
       "",
       0,
       {"| rotated", kSuccess, kClose},
       {Received("r1")}},
      {"LogDirectoryMadeDuringTheRunIsUsedFromThenOn",
       [](Installation& i) {
         i.Release("r2", "mkdir=log exit=3");
         i.Release("r1");
         fs::remove("inst/log");
       },
       "",
       0,
       {Failed(3), Running("r1"), kSuccess, kClose},
       {Received("r2"), Received("r1")},
       {kStart, Running("r2")}},
      {"StandardOutputIsAClosedPipe",
       [](Installation& i) {
         // Killed by SIGPIPE, as a worker must be free to be.
         i.Release("r2", "print=nobody-reads-this");
         i.Release("r1");
         fs::remove("inst/log");
         i.OutputToClosedPipe();
       },
       "",
       0,
       {},
       {Received("r2"), Received("r1")},
       {},
       "",
       kPosixOnly},
      {"WorkerOutputFollowsTheAgentsLinesInAFile",
       [](Installation& i) {
         i.Release("r2", "print=second exit=3");
         i.Release("r1", "print=fourth");
         fs::remove("inst/log");
       },
       "",
       0,
       {},
       {Received("r2"), Received("r1")},
       {kStart, Running("r2"), "| second", Failed(3), Running("r1"), "| fourth",
        kSuccess, kClose}},
      {"WorkerOutputFollowsTheAgentsLinesInAPipe",
       [](Installation& i) {
         i.Release("r2", "print=second exit=3");
         i.Release("r1", "print=fourth");
         fs::remove("inst/log");
         i.OutputThroughPipe();
       },
       "",
       0,
       {},
       {Received("r2"), Received("r1")},
       {kStart, Running("r2"), "| second", Failed(3), Running("r1"), "| fourth",
        kSuccess, kClose},
       "",
       kPosixOnly},

      // Flags that end the agent before it starts.
      {"UnknownFlagRunsNothing",
       OneRelease(),
       "-no_such_flag",
       1,
       {},
       {},
       {},
       "no_such_flag"},
      {"VersionRunsNothing",
       OneRelease(),
       "-version",
       0,
       {},
       {},
       {"| vt-agent.exe"}},
      {"MissingFlagFileRunsNothing",
       OneRelease(),
       "-flagfile=missing.flags",
       1,
       {},
       {},
       {},
       "missing.flags"},
  };
}

// Ctrl+C in a terminal: SIGINT (or, for Ctrl+\, SIGQUIT) to the agent, its
// interpreter and the worker at once. The agent runs in a session of its
// own; release r2 does as `plan` says and r1 succeeds.
std::vector<Case> InterruptCases() {
  auto setup = [](const std::string& plan) {
    return [plan](Installation& i) {
      i.Release("r2", plan);
      i.Release("r1");
      i.RunInOwnSession();
    };
  };
  std::vector<Case> cases;
  const struct {
    const char* label;
    int signal;
  } keys[] = {{"CtrlC", kSigint}, {"CtrlBackslash", kSigquit}};
  for (const auto& key : keys) {
    cases.push_back(
        {std::string(key.label) + "StopsTheAgent",
         setup("interrupt=" + std::to_string(key.signal)),
         "",
         128 + key.signal,
         {kStart, Running("r2"), Failed(128 + key.signal), kNone, kClose},
         {Received("r2")},
         {},
         "",
         kPosixOnly,
         key.signal});
  }
  cases.push_back({"CtrlCAfterAnUpdateStopsTheAgent",
                   [](Installation& i) {
                     i.Release("r1", "install=r2 exit=1\ninterrupt=2");
                     i.Release("r0");
                     i.RunInOwnSession();
                   },
                   "",
                   128 + kSigint,
                   {kStart, Running("r1"), kUpdated, Running("r2"),
                    Failed(128 + kSigint), kNone, kClose},
                   {Received("r1"), Received("r2")},
                   {},
                   "",
                   kPosixOnly,
                   kSigint});
  // Not interruptions: the next release runs.
  const struct {
    const char* name;
    const char* plan;
    int status;
    const char* err;
  } failures[] = {
      {"WorkerKilledBySigtermIsAFailure", "kill=15", 128 + kSigterm,
       kAnything},  // sh says "Terminated"
      {"WorkerExiting130IsAFailure", "exit=130", 130, ""},
  };
  for (const auto& f : failures) {
    cases.push_back({f.name,
                     setup(f.plan),
                     "",
                     0,
                     {kStart, Running("r2"), Failed(f.status), Running("r1"),
                      kSuccess, kClose},
                     {Received("r2"), Received("r1")},
                     {},
                     f.err,
                     kPosixOnly});
  }
  return cases;
}

// The release's name reaches the interpreter unquoted: a name that it splits
// or expands is a failed candidate, nothing worse.
std::vector<Case> ReleaseNameCases() {
  struct Name {
    const char* label;
    std::string name;
    bool runs;  // whether the interpreter runs the worker as named
    Platforms platforms;
  };
  const Name names[] = {
      {"Blank", "r 1", false, kBoth},
      {"Ampersand", "r&x", false, kBoth},
      {"Semicolon", "r;x", false, kPosixOnly},
      {"Bar", "r|x", false, kPosixOnly},  // no such file name on Windows
      {"Dollar", "r$x", false, kPosixOnly},
      {"Backquote", "r`x`", false, kPosixOnly},
      {"Percent", "r%x", true, kBoth},
      {"HighBytes", "r\xc3\xa9\xff", true, kPosixOnly},
      {"Longest", "r" + std::string(254, 'a'), true, kPosixOnly},
  };
  std::vector<Case> cases;
  for (const Name& n : names) {
    std::string name = n.name;
    cases.push_back({std::string("ReleaseName") + n.label,
                     [name](Installation& i) { i.Release(name); },
                     "",
                     n.runs ? 0 : 1,
                     n.runs ? Messages{kStart, Running(name), kSuccess, kClose}
                            : Messages{kStart, Running(name), Failed(kNotFound),
                                       kNone, kClose},
                     n.runs ? Messages{Received(name)} : Messages{},
                     {},
                     n.runs ? "" : kAnything,
                     n.platforms});
  }
  return cases;
}

// The config value reaches the worker unchanged from each of the flag's
// sources; a value that could break out of its quotes is refused.
std::vector<Case> ConfigCases() {
  struct Value {
    const char* label;
    std::string value;
    Platforms platforms;
  };
  const Value values[] = {
      {"Blanks", "my dir/my config.txt", kBoth},
      {"Dollar", "$HOME/x$(id)", kBoth},
      {"Backquote", "`id`.txt", kBoth},
      {"Backslash", "dir\\config.txt", kBoth},
      {"Percent", "100%.txt", kBoth},
      {"NonAscii", "conf\xc3\xa9.txt", kBoth},
      {"Empty", "", kPosixOnly},  // an empty variable is no variable there
      {"Long", std::string(4000, 'c'), kBoth},
      // With a release name of 255 bytes, a command line of 8160.
      {"Longest", std::string(7879, 'c'), kBoth},
  };
  const Value refused[] = {
      {"DoubleQuote", "a\" & echo pwned > pwned & \"", kBoth},
      {"LineFeed", "a\nexit 0", kPosixOnly},
      {"CarriageReturn", "a\rb", kBoth},
      // cmd.exe would refuse the command line with status 1, which reads as
      // "updated binaries": the agent would rescan forever.
      {"TooLong", std::string(7880, 'c'), kBoth},
  };
  enum Source { kCommandLine, kFlagFile, kEnvironment };
  const struct {
    const char* label;
    Source source;
  } sources[] = {{"OnCommandLine", kCommandLine},
                 {"InFlagFile", kFlagFile},
                 {"InEnvironment", kEnvironment}};

  auto setup = [](Source source, const std::string& value) {
    return [source, value](Installation& i) {
      i.Release("r1");
      if (source == kFlagFile) WriteFile("inst/flags", "-config=" + value);
      if (source == kEnvironment) SetEnvironment("FLAGS_config", value);
    };
  };
  auto args = [](Source source, const std::string& value) {
    switch (source) {
      case kCommandLine:
        return QuoteArgument("-config=" + value);
      case kFlagFile:
        return std::string("-flagfile=flags");
      case kEnvironment:
        return std::string("-fromenv=config");
    }
    return std::string();
  };

  std::vector<Case> cases;
  for (const auto& s : sources) {
    for (const Value& v : values) {
      cases.push_back({std::string("Config") + v.label + s.label,
                       setup(s.source, v.value),
                       args(s.source, v.value),
                       0,
                       {kStart, Running("r1", v.value), kSuccess, kClose},
                       {Received("r1", v.value)},
                       {},
                       "",
                       v.platforms});
    }
    for (const Value& v : refused) {
      // A flag file cannot hold a line break, nor a Windows command line a
      // line break or a double quote.
      if (s.source == kFlagFile &&
          v.value.find_first_of("\r\n") != std::string::npos) {
        continue;
      }
      const bool posix_only_argument =
          v.value.find_first_of("\"\r\n") != std::string::npos;
      cases.push_back({std::string("Config") + v.label + s.label + "IsRefused",
                       setup(s.source, v.value),
                       args(s.source, v.value),
                       1,
                       {},
                       {},
                       {},
                       kRefused,
                       s.source == kCommandLine && posix_only_argument
                           ? kPosixOnly
                           : v.platforms});
    }
  }
  return cases;
}

// The cases that exist on this platform.
std::vector<Case> AllCases() {
  std::vector<Case> all;
  for (auto* part :
       {&SupervisionCases, &InterruptCases, &ReleaseNameCases, &ConfigCases}) {
    for (Case& c : part()) {
      if (c.platforms == kBoth || !kWindows) all.push_back(std::move(c));
    }
  }
  return all;
}

class AgentTest : public Installation,
                  public testing::WithParamInterface<Case> {};

bool ErrorMatches(const std::string& expected, const std::string& err) {
  if (expected == kAnything) return true;
  return expected.empty() ? err.empty()
                          : err.find(expected) != std::string::npos;
}

// Whether the agent reports a worker that could not be started.
bool WorkerStartFailed(const Outcome& outcome) {
  for (const std::string* text : {&outcome.log, &outcome.out}) {
    for (int status : {-1, 9009}) {
      if (StartFailed(status) &&
          text->find(Failed(status)) != std::string::npos) {
        return true;
      }
    }
  }
  return false;
}

bool Matches(const Case& c, const Outcome& outcome) {
  return outcome.status == c.status && outcome.signal == c.signal &&
         MessagesOf(outcome.log, outcome) == c.log &&
         Lines(outcome.received) == c.received &&
         MessagesOf(outcome.out, outcome) == c.out &&
         ErrorMatches(c.err, outcome.err);
}

TEST_P(AgentTest, Runs) {
  const Case& c = GetParam();
  // A worker that never started: the case runs again, in a new
  // installation.
  Outcome outcome = RetryFailedStarts(
      c.name,
      [&] {
        NewInstallation();
        if (c.setup) c.setup(*this);
        return Run(c.args);
      },
      [&](const Outcome& result) {
        return !Matches(c, result) && WorkerStartFailed(result);
      });
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.signal, c.signal);
  EXPECT_EQ(MessagesOf(outcome.log, outcome), c.log);
  EXPECT_EQ(Lines(outcome.received), c.received);
  EXPECT_EQ(MessagesOf(outcome.out, outcome), c.out);
  EXPECT_TRUE(ErrorMatches(c.err, outcome.err))
      << "expected " << (c.err.empty() ? "nothing" : c.err)
      << " in: " << outcome.err;
  // Nothing ran that the installation and the caller did not ask for.
  EXPECT_FALSE(fs::exists("inst/pwned"));
}

INSTANTIATE_TEST_SUITE_P(Cases, AgentTest, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

// The help flags print the usage text whole, then the flags, and exit through
// the flags library: nothing runs, nothing is logged.
class HelpTest : public Installation,
                 public testing::WithParamInterface<std::string> {};

TEST_P(HelpTest, PrintsTheUsageTextAndRunsNothing) {
  const std::string args = GetParam();
  Release("r1");
  std::string usage = std::string(kProgramName) + ": " + kUsage + "\n";
  if (TextLineEnd() != "\n") {
    usage = std::regex_replace(usage, std::regex("\n"), TextLineEnd());
  }
  Outcome outcome = Run(args);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out.substr(0, usage.size()), usage);
  EXPECT_FALSE(fs::exists("inst/log/vt-agent.log"));
  EXPECT_FALSE(fs::exists("inst/runs.txt"));
  if (args != "-help") return;
  // --helpshort lists only the flags of a module named like the program,
  // and finds none; -help lists them all, under the source files that
  // define them, named as in their source trees: never a path of the
  // machine that built the agent. (The native build links Debian's own
  // gflags, which names the folder Debian built it in.)
  EXPECT_NE(outcome.out.find("  Flags from agent/vt-agent.cc:" + TextLineEnd() +
                             "    -config (Relative path to configuration "
                             "file.)"),
            std::string::npos)
      << outcome.out;
  const std::regex from("  Flags from ([^\r\n]*):");
  int files = 0;
  for (std::sregex_iterator it(outcome.out.begin(), outcome.out.end(), from),
       end;
       it != end; ++it, ++files) {
    const std::string file = (*it)[1];
    if (!kWindows) continue;
    EXPECT_TRUE(file[0] != '/' && file.find(':') == std::string::npos &&
                file.find('\\') == std::string::npos)
        << "an absolute path: " << file;
  }
  EXPECT_GE(files, 2);  // the agent's file and the library's own
}

INSTANTIATE_TEST_SUITE_P(Help, HelpTest,
                         testing::Values("-help", "--helpshort"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(
                               info.param.find_first_not_of('-'));
                         });

}  // namespace
