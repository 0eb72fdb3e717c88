// The real vt-agent binary in a scratch installation with real workers: its
// log, standard output and error, exit status, and what the workers received.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>

#include "common/file.h"
#include "common/process.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

const bool kWindows = kPathSeparator == '\\';
// Log lines, in the file or on standard output, end as text lines do.
const std::string kLineEnd = kWindows ? "\r\n" : "\n";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class Installation : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    fs::create_directories("inst/log");
    fs::copy_file(VT_AGENT_BINARY, "inst/vt-agent.exe");
  }


 public:
  // A release directory with the test worker and its plan (see worker.cc).
  void Release(const std::string& name, const std::string& plan = "") {
    fs::create_directories("inst/bin/" + name);
    fs::copy_file(VT_WORKER_BINARY, "inst/bin/" + name + "/worker.exe");
    if (!plan.empty()) WriteFile("inst/bin/" + name + "/plan.txt", plan);
  }


 protected:
  // Runs the agent in the installation with `args` as the interpreter sees
  // them.
  Outcome Run(const std::string& args) {
    fs::current_path("inst");
    Outcome outcome;
    outcome.status = RunCommandLine(Native("./vt-agent.exe") + " " + args +
                                    " > ../stdout.txt 2> ../stderr.txt");
    fs::current_path("..");
    outcome.out = ReadFile("stdout.txt");
    outcome.err = ReadFile("stderr.txt");
    return outcome;
  }
};

// The messages of `text`, checking that every line is a log line of the
// agent ("" lines of other writers are returned whole, prefixed with "| ").
std::vector<std::string> Messages(const std::string& text) {
  static const std::regex line(
      R"((\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\(vt-agent\.exe\) )?(.*))");
  std::vector<std::string> messages;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find(kLineEnd, start);
    if (end == std::string::npos) {
      messages.push_back("unterminated: " + text.substr(start));
      break;
    }
    std::smatch match;
    std::string one = text.substr(start, end - start);
    std::regex_match(one, match, line);
    messages.push_back(match[1].matched ? match[2].str() : "| " + one);
    start = end + kLineEnd.size();
  }
  return messages;
}

std::string Running(const std::string& release,
                    const std::string& config = "config.txt") {
  return "Running: " + Native("bin/" + release + "/worker.exe") +
         " -config=\"" + config + "\"";
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

const char kStart[] = "starting vt-agent.";
const char kClose[] = "closing vt-agent.";
const char kNone[] = "error: no worker.exe binary ran successfully.";
const char kSuccess[] = "worker.exe ran successfully.";
const char kUpdated[] = "worker.exe updated binaries.";
std::string Failed(int status) {
  return "worker.exe failed with return code: " + std::to_string(status) + ".";
}

struct Case {
  const char* name;
  std::function<void(Installation&)> setup;
  std::string args;
  int status;
  std::vector<std::string> log;       // the log file's messages
  std::vector<std::string> received;  // the worker runs, in order
  std::vector<std::string> out = {};  // standard output's messages
  std::string err = "";               // found in standard error
  bool posix_only = false;
};

// Standard error that the interpreter, not the agent, writes to.
const char kAnything[] = "*";

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SupervisionTest : public Installation,
                        public testing::WithParamInterface<Case> {};

TEST_P(SupervisionTest, Runs) {
  const Case& c = GetParam();
  if (c.posix_only && kWindows) GTEST_SKIP() << "no such case on Windows";
  if (c.setup) c.setup(*this);
  Outcome outcome = Run(c.args);
  EXPECT_EQ(outcome.status, c.status);
  // Only a regular file: the log may be a device that reads forever.
  const fs::path log = "inst/log/vt-agent.log";
  EXPECT_EQ(Messages(fs::is_regular_file(log) ? ReadFile(log) : ""), c.log);
  EXPECT_EQ(Lines(ReadFile("inst/runs.txt")), c.received);
  EXPECT_EQ(Messages(outcome.out), c.out);
  if (c.err.empty()) {
    EXPECT_EQ(outcome.err, "");
  } else if (c.err != kAnything) {
    EXPECT_NE(outcome.err.find(c.err), std::string::npos) << outcome.err;
  }
}

const Case kCases[] = {
    {"OneReleaseSucceeds",
     [](Installation& i) { i.Release("r1"); },
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
    {"StatusesAreTheWorkersOwn",
     [](Installation& i) {
       i.Release("r3", "exit=-1");
       i.Release("r2", "exit=2");
       i.Release("r1", "exit=42");
     },
     "",
     1,
     // A status is eight bits on POSIX: -1 reaches the agent as 255.
     {kStart, Running("r3"), Failed(kWindows ? -1 : 255), Running("r2"),
      Failed(2), Running("r1"), Failed(42), kNone, kClose},
     {Received("r3"), Received("r2"), Received("r1")}},
    {"OrderIsTextualNotNumeric",
     [](Installation& i) {
       i.Release("r9", "exit=4");
       i.Release("r10");
     },
     "",
     0,
     {kStart, Running("r9"), Failed(4), Running("r10"), kSuccess, kClose},
     {Received("r9"), Received("r10")}},
    {"UpdateRescansAndRunsTheNewRelease",
     [](Installation& i) {
       i.Release("r1", "install=r2 exit=1\nexit=7");
       i.Release("r0", "exit=5");
     },
     "",
     1,
     {kStart, Running("r1"), kUpdated, Running("r2"), Failed(7),
      Running("r1"), Failed(7), Running("r0"), Failed(5), kNone, kClose},
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
     [](Installation& i) {
       i.Release("r01", "install=+ exit=1\ninstall=+ exit=1\ninstall=+ "
                        "exit=1\nexit=0");
     },
     "",
     0,
     {kStart, Running("r01"), kUpdated, Running("r02"), kUpdated,
      Running("r03"), kUpdated, Running("r04"), kSuccess, kClose},
     {Received("r01"), Received("r02"), Received("r03"), Received("r04")}},
    {"EmptyBinRunsNothing",
     [](Installation&) { fs::create_directories("inst/bin"); },
     "",
     1,
     {kStart, kNone, kClose},
     {}},
    {"NoBinRunsNothing", nullptr, "", 1, {kStart, kNone, kClose}, {}},
    {"OnlyDirectoriesNamedRCount",
     [](Installation& i) {
       i.Release("R1");
       i.Release("x9", "exit=9");
       WriteFile("inst/bin/r9", "");
       fs::create_directories("inst/bin/r5");  // no worker.exe in it
     },
     "",
     0,
     {kStart, Running("r5"), Failed(kWindows ? 9009 : 127), Running("R1"),
      kSuccess, kClose},
     {Received("R1")},
     {},
     kAnything},
    {"ConfigWithBlanks",
     [](Installation& i) { i.Release("r1"); },
     "\"-config=my dir/my config.txt\"",
     0,
     {kStart, Running("r1", "my dir/my config.txt"), kSuccess, kClose},
     {Received("r1", "my dir/my config.txt")}},
    {"ConfigFromAFlagFile",
     [](Installation& i) {
       i.Release("r1");
       WriteFile("inst/flags", "-config=from file.txt\n");
     },
     "-flagfile=flags",
     0,
     {kStart, Running("r1", "from file.txt"), kSuccess, kClose},
     {Received("r1", "from file.txt")}},
    {"ConfigFromTheEnvironment",
     [](Installation& i) {
       i.Release("r1");
       static char env[] = "FLAGS_config=env.txt";
       putenv(env);
     },
     "-fromenv=config",
     0,
     {kStart, Running("r1", "env.txt"), kSuccess, kClose},
     {Received("r1", "env.txt")}},
    {"ArgumentsThatAreNotFlagsAreIgnored",
     [](Installation& i) { i.Release("r1"); },
     "extra words",
     0,
     {kStart, Running("r1"), kSuccess, kClose},
     {Received("r1")}},
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
    {"LogIsAppendedAndKeepsWhatTheWorkerWrote",
     [](Installation& i) {
       i.Release("r1", "log=worker-was-here");
       WriteFile("inst/log/vt-agent.log", "old line" + kLineEnd);
     },
     "",
     0,
     {"| old line", kStart, Running("r1"), "| worker-was-here", kSuccess,
      kClose},
     {Received("r1")}},
    {"LinesThatCannotBeWrittenGoToStandardOutput",
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
     true},
    {"WorkerOutputFollowsTheAgentsLinesOnStandardOutput",
     [](Installation& i) {
       i.Release("r2", "print=second exit=3");
       i.Release("r1", "print=fourth");
       fs::remove("inst/log");
     },
     "",
     0,
     {},
     {Received("r2"), Received("r1")},
     {kStart, Running("r2"), "| second", Failed(3), Running("r1"),
      "| fourth", kSuccess, kClose}},
    {"ConfigWithDoubleQuoteIsRefused",
     [](Installation& i) {
       i.Release("r1");
       WriteFile("inst/flags", "-config=a\" & echo x > pwned & \"\n");
     },
     "-flagfile=flags",
     1,
     {},
     {},
     {},
     "must not contain a double quote"},
    {"ConfigWithLineFeedIsRefused",
     [](Installation& i) {
       i.Release("r1");
       static char env[] = "FLAGS_config=a\nexit 0";
       putenv(env);
     },
     "-fromenv=config",
     1,
     {},
     {},
     {},
     "must not contain a double quote"},
    {"UnknownFlagRunsNothing",
     [](Installation& i) { i.Release("r1"); },
     "-no_such_flag",
     1,
     {},
     {},
     {},
     "no_such_flag"},
    {"MissingFlagFileRunsNothing",
     [](Installation& i) { i.Release("r1"); },
     "-flagfile=missing.flags",
     1,
     {},
     {},
     {},
     "missing.flags"},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, SupervisionTest, testing::ValuesIn(kCases),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// help and version print and exit through the flags library: nothing runs,
// nothing is logged.
TEST_F(Installation, HelpAndVersionRunNothing) {
  Release("r1");
  struct {
    const char* args;
    int status;
    const char* out;
  } const cases[] = {
      {"-help", 1, "Relative path to configuration file."},
      {"--helpshort", 1, "Veltrane Integration Agent"},
      {"-version", 0, "vt-agent"},
  };
  for (const auto& c : cases) {
    Outcome outcome = Run(c.args);
    EXPECT_EQ(outcome.status, c.status) << c.args;
    EXPECT_NE(outcome.out.find(c.out), std::string::npos)
        << c.args << ": " << outcome.out;
    EXPECT_FALSE(fs::exists("inst/log/vt-agent.log")) << c.args;
    EXPECT_FALSE(fs::exists("inst/runs.txt")) << c.args;
  }
  EXPECT_NE(Run("-help").out.find(
                "  * Upload files (via SFTP) for insertion into Quillmark."),
            std::string::npos);
}

}  // namespace
