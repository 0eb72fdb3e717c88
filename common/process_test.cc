#include "common/process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "tests/test_util.h"

namespace {

// `exit N` means the same to sh and cmd.exe.
TEST(RunCommandLineTest, ReturnsTheInterpretersExitStatus) {
  for (int status : {0, 1, 2, 3, 42, 255}) {
    EXPECT_EQ(RunCommandLineExpecting("exit " + std::to_string(status), status),
              status);
  }
}

#ifdef _WIN32

TEST(RunCommandLineTest, StatusesStandAsCmdReturnsThem) {
  EXPECT_EQ(RunCommandLineExpecting("exit -1", -1), -1);
  EXPECT_EQ(RunCommandLineExpecting("exit 256", 256), 256);
  EXPECT_EQ(RunCommandLineExpecting("no-such-command-here 2>NUL", 9009), 9009);
}

TEST(RunCommandLineTest, OnlyCtrlCsStatusIsAnInterruption) {
  const struct {
    const char* command;
    int status;
    int interrupt;
  } cases[] = {
      {"exit -1073741510", -1073741510, 2},  // STATUS_CONTROL_C_EXIT
      {"exit -1073741819", -1073741819, 0},  // an access violation
      {"exit 130", 130, 0},
  };
  for (const auto& c : cases) {
    const CommandResult result = RunCommandLine(c.command);
    EXPECT_EQ(result.status, c.status) << c.command;
    EXPECT_EQ(result.interrupt, c.interrupt) << c.command;
  }
}

TEST(EscapeInDoubleQuotesTest, ValuesPassUnescaped) {
  for (const char* value : {"a b", "$x", "`x`", "a\\b", "%PATH%"}) {
    EXPECT_EQ(EscapeInDoubleQuotes(value), value);
  }
}

// Wine passes the error mode on to no child, so it is checked here, in the
// process that set it; Windows hands it to every child.
TEST(PrepareToRunCommandsTest, TurnsOffCrashDialogsAndJoinsAKillingJob) {
  SetErrorMode(0);  // GoogleTest turns the dialogs off for itself
  PrepareToRunCommands();
  const UINT dialogs_off = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX;
  EXPECT_EQ(GetErrorMode() & dialogs_off, dialogs_off);
  BOOL in_job = FALSE;
  ASSERT_TRUE(IsProcessInJob(GetCurrentProcess(), nullptr, &in_job));
  EXPECT_TRUE(in_job);
}

#else

// Only a death by one of the two signals that system() holds off the caller
// is an interruption; the number alone never is.
TEST(RunCommandLineTest, DecodesSignalsAndFailuresAsShellsDo) {
  // A run in the background may have started with SIGINT and SIGQUIT
  // ignored, which the command would inherit.
  void (*on_int)(int) = std::signal(SIGINT, SIG_DFL);
  void (*on_quit)(int) = std::signal(SIGQUIT, SIG_DFL);
  const struct {
    const char* command;
    int status;
    int interrupt;
  } cases[] = {
      {"kill -9 $$", 128 + 9, 0},
      {"kill -TERM $$", 128 + 15, 0},
      {"kill -SEGV $$", 128 + 11, 0},
      {"kill -INT $$", 128 + 2, SIGINT},
      {"ulimit -c 0; kill -QUIT $$", 128 + 3, SIGQUIT},
      {"exit 130", 130, 0},
      {"exit 131", 131, 0},
      {"no-such-command-here 2>/dev/null", 127, 0},
      // A status is eight bits: 256 is 0 by the time sh reports it.
      {"exit 256", 0, 0},
  };
  for (const auto& c : cases) {
    const CommandResult result = RunCommandLine(c.command);
    EXPECT_EQ(result.status, c.status) << c.command;
    EXPECT_EQ(result.interrupt, c.interrupt) << c.command;
  }
  std::signal(SIGINT, on_int);
  std::signal(SIGQUIT, on_quit);
}

// A stop signal can then reach the interpreter and the worker without
// reaching whoever started the agent.
TEST(RunCommandLineTest, RunsTheInterpreterInAProcessGroupOfItsOwn) {
  // Field 5 of /proc/PID/stat is the process group.
  EXPECT_EQ(
      RunCommandLine("test \"$(cut -d' ' -f5 /proc/$$/stat)\" = $$").status, 0);
}

// What the agent ignores for itself, the command gets at its default; what
// the agent was given ignored, the command gets ignored too.
TEST(RunCommandLineTest, HandsTheCommandTheCallersSignalDispositions) {
  void (*on_pipe)(int) = std::signal(SIGPIPE, SIG_IGN);
  void (*on_int)(int) = std::signal(SIGINT, SIG_IGN);
  // The mask of /proc/PID/status: SIGINT is bit 1 (0x2), SIGPIPE bit 12.
  EXPECT_EQ(RunCommandLine("mask=$(sed -n 's/^SigIgn:\\t//p' /proc/$$/status); "
                           "[ $((0x$mask & 0x1002)) -eq 2 ]")
                .status,
            0);
  std::signal(SIGINT, on_int);
  std::signal(SIGPIPE, on_pipe);
}

// In a child of its own, so that the signals it catches are this test's
// only.
TEST(PrepareToRunCommandsTest, ReportsAStopSignalAndPassesItOn) {
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    PrepareToRunCommands();
    if (PendingInterrupt() != 0) _exit(10);
    std::raise(SIGTERM);
    if (PendingInterrupt() != SIGTERM) _exit(11);
    // Passed on at once to a command that starts afterwards.
    const CommandResult result = RunCommandLine("sleep 60");
    _exit(result.status == 128 + SIGTERM && result.interrupt == SIGTERM ? 0
                                                                        : 12);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A worker's orphans come to the agent, which must not keep them as zombies.
TEST(PrepareToRunCommandsTest, OrphansOfACommandAreReaped) {
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    PrepareToRunCommands();
    // The background sleep outlives its shell, and ends before the next
    // command.
    RunCommandLine("sleep 0.2 & exit 0");
    RunCommandLine("sleep 0.5");
    _exit(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The agent's caller sees a death by the signal, not an exit status, and
// even an agent that started with the signal ignored or blocked ends by it.
TEST(EndByInterruptTest, EndsByTheSignal) {
  for (int interrupt : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      const struct rlimit no_core = {0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      std::signal(interrupt, SIG_IGN);
      sigset_t blocked;
      sigemptyset(&blocked);
      sigaddset(&blocked, interrupt);
      sigprocmask(SIG_BLOCK, &blocked, nullptr);
      EndByInterrupt(interrupt);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), interrupt);
  }
}

using EscapeTest = ScratchDirTest;

TEST_F(EscapeTest, EscapedValuesReachTheProgramLiterally) {
  const std::string values[] = {
      "config.txt", "my config.txt", "$HOME",  "`id`",    "$(id)",       "a\\b",
      "trailing\\", "\\$x",          "%PATH%", "a;b&c|d", "caf\xc3\xa9", "",
      "'single'"};
  for (const std::string& value : values) {
    std::string command =
        "printf %s \"" + EscapeInDoubleQuotes(value) + "\" > out";
    ASSERT_EQ(RunCommandLine(command).status, 0) << command;
    EXPECT_EQ(ReadFile("out"), value) << command;
  }
}

#endif

}  // namespace
