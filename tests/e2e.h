// The end-to-end fixture: the real vt-agent binary in a scratch installation
// with real workers (tests/worker.cc), and what came of its run: its log,
// standard output and error, exit status, and what the workers received.
//
// Each e2e_*_test.cc file holds the cases of one topic as a table of Case
// rows, and instantiates the one test, AgentTest.Runs, with them under the
// topic's name.
#ifndef VT_TESTS_E2E_H_
#define VT_TESTS_E2E_H_

#include <functional>
#include <string>
#include <vector>

#include "tests/platform.h"
#include "tests/test_util.h"

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

using Messages = std::vector<std::string>;

// What came of one run of the agent.
struct Outcome {
  int status = -1;
  int signal = 0;  // the signal that ended the agent (POSIX), 0 if it exited
  std::string out;
  std::string err;
  std::string log;       // the log file, when it is a regular file or a FIFO
  std::string received;  // runs.txt: what the workers received
  // Whether a worker that slept (plan sleep=) was still running a few
  // seconds after the agent had ended.
  bool worker_outlived_the_agent = false;
  // The local time just before and just after the run, as log lines stamp
  // it.
  std::string earliest;
  std::string latest;
};

// What the test does to the agent while it runs, once a worker sleeps (its
// plan's sleep=), unless said otherwise.
enum class Action {
  kNone,
  // Ends the agent's process at once: TerminateProcess on Windows, as Task
  // Scheduler's End and taskkill /F do.
  kTerminate,
  // POSIX: SIGTERM or SIGHUP to the agent alone, as kill does.
  kSigterm,
  kSighup,
  // POSIX: SIGTERM to the agent's process group, as a service manager's
  // stop does.
  kSigtermToGroup,
  // POSIX: SIGTERM as soon as the agent catches it, before the first worker
  // starts. Its log must be a FIFO (LogIsAFifo), on which the agent waits
  // until the test reads it.
  kSigtermBeforeTheFirstWorker,
  // POSIX, with RunAtTerminal: Ctrl+C typed at the terminal.
  kCtrlC,
};

// A scratch installation: the agent, an empty log/, and whatever a case adds.
class Installation : public ScratchDirTest {
 public:
  // A release directory with the test worker and its plan (see worker.cc).
  void Release(const std::string& name, const std::string& plan = "");

  // The agent and its workers run as an unprivileged user that owns the
  // installation (permissions mean nothing to root).
  void RunUnprivileged();

  // No file the agent or a worker writes may grow past `blocks` 512-byte
  // blocks; a write beyond fails as on a full disk.
  void LimitFileSize(int blocks);

  // The agent's standard output goes into a pipe rather than a file.
  void OutputThroughPipe();

  // The agent's standard output is a pipe whose reader has gone.
  void OutputToClosedPipe();

  // POSIX: the agent runs at a terminal of its own (a pseudo-terminal that
  // script(1) makes), from a shell script that then appends "after STATUS"
  // to runs.txt, as an administrator's wrapper script would; `typed` is
  // typed at the terminal as it starts. Its screen is not compared.
  void RunAtTerminal(const std::string& typed = "");

  // POSIX: log/vt-agent.log is a FIFO, which the test reads.
  void LogIsAFifo();

  // The agent's parent ignores SIGCHLD, as some daemons do; the agent
  // inherits that.
  void ParentIgnoresSigchld();

  // Runs the agent in the installation with `args` as the interpreter sees
  // them, doing `action` meanwhile.
  Outcome Run(const std::string& args, Action action = Action::kNone);

  // An installation with the agent and an empty log/, and nothing else.
  void NewInstallation();

 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  Outcome RunOnce(const std::string& args, Action action);
  // Starts the agent, does `action` and waits for the agent's end.
  Ended RunAndAct(const std::string& command_line, Action action,
                  std::string& fifo_log);

  enum Output { kFile, kPipe, kClosedPipe };

  std::string shell_;    // commands for the shell before the agent's
  std::string wrapper_;  // words in front of the agent's own command
  Output output_ = kFile;
  bool at_terminal_ = false;
  std::string typed_;
  bool fifo_log_ = false;
  std::string zone_;  // TZ as the test found it
};

enum Platforms { kBoth, kPosixOnly, kWindowsOnly };

// One run of the agent and what must come of it.
struct Case {
  std::string name;
  Platforms platforms = kBoth;
  // Adds to the installation (releases, faults); nothing by default.
  std::function<void(Installation&)> setup = nullptr;
  std::string args = "";
  Action action = Action::kNone;

  int status = -1;    // the agent's exit status
  int signal = 0;     // the signal the agent ends by (POSIX), 0 when it exits
  Messages log = {};  // the log file's messages (MessagesOf)
  Messages received = {};  // the lines of runs.txt (Received, and others)
  // Standard output's messages; {kAnything}: not looked at.
  Messages out = {};
  // Found in standard error; empty: nothing may be there; kAnything: not
  // looked at (the interpreter's own complaints).
  std::string err = "";
};

void PrintTo(const Case& c, std::ostream* os);

// The cases of `table` that exist on this platform.
std::vector<Case> OnThisPlatform(std::vector<Case> table);

class AgentTest : public Installation,
                  public testing::WithParamInterface<Case> {};

// Instantiates AgentTest.Runs with `cases` as TOPIC/AgentTest.Runs/NAME.
#define VT_E2E_CASES(topic, cases)                                        \
  INSTANTIATE_TEST_SUITE_P(topic, AgentTest,                              \
                           testing::ValuesIn(OnThisPlatform(cases)),      \
                           [](const testing::TestParamInfo<Case>& info) { \
                             return info.param.name;                      \
                           })

// The messages of the agent's lines in `text` (a log or standard output),
// checking that each is stamped with the local time of the run; lines of
// other writers are returned whole, behind "| ", and a last line without
// its line end behind "unterminated: ".
Messages MessagesOf(const std::string& text, const Outcome& run);

// The log line for running the worker of `release` with -config="config";
// `shown` is the value as the line shows it, when that differs.
std::string Running(const std::string& release,
                    const std::string& shown = "config.txt");

// One line of runs.txt: what the worker of `release` received, as its argv.
std::string Received(const std::string& release,
                     const std::string& config = "config.txt");

std::string Failed(int status);

// The agent's messages.
extern const char kStart[];
extern const char kClose[];
extern const char kNone[];
extern const char kSuccess[];
extern const char kUpdated[];

// Standard error that the interpreter, not the agent, writes to.
extern const char kAnything[];

// POSIX's signal numbers, which Windows lacks: Ctrl+C's, Ctrl+\'s, kill's
// default, a hangup's.
constexpr int kSigint = 2;
constexpr int kSigquit = 3;
constexpr int kSigterm = 15;
constexpr int kSighup = 1;

// The interpreter's status for a command it cannot find or run.
constexpr int kNotFound = kWindows ? 9009 : 127;

#endif  // VT_TESTS_E2E_H_
