// What only the POSIX port has: signals, symbolic links, sh's quoting, entry
// types and file size limits.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "common/file.h"
#include "common/log.h"
#include "common/process.h"
#include "entry_type.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using PosixTest = ScratchDirTest;

TEST(PosixProcessTest, DecodesSignalsAndFailuresAsShellsDo) {
  // A run in the background may have started with SIGINT and SIGQUIT
  // ignored, and system() hands the command what the caller has.
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
      // Only a death by one of the two signals that system() holds off the
      // caller is an interruption; the number alone never is.
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

// The agent's caller sees a death by the signal, not an exit status, and
// even an agent that started with the signal ignored or blocked ends by it.
TEST(PosixProcessTest, EndByInterruptEndsByTheSignal) {
  for (int interrupt : {SIGINT, SIGQUIT}) {
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

TEST_F(PosixTest, EscapedValuesReachTheProgramLiterally) {
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

TEST_F(PosixTest, SymbolicLinksToDirectoriesCountAsDirectories) {
  fs::create_directories("real/r0");
  fs::create_directories("bin");
  WriteFile("bin/file", "");
  fs::create_directory_symlink("../real/r0", "bin/r1");  // to a directory
  fs::create_symlink("file", "bin/r2");                  // to a file
  fs::create_symlink("missing", "bin/r3");               // dangling
  FileRecords dirs = ListSubdirectories("bin/r*");
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_EQ(dirs[0].cFileName, "r1");
}

// A line that fails part way (the disk filled) goes to standard output whole.
// Nothing of it may stay behind to reach the file later, once there is room
// again: the file would get the line's start twice.
TEST_F(PosixTest, ALineThatFailsPartWayIsNotWrittenAgainOnceThereIsRoom) {
  fs::create_directories("log");
  WriteFile("log/vt-agent.log", std::string(500, 'x'));
  struct rlimit room;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &room), 0);
  struct rlimit full = room;
  full.rlim_cur = 512;  // room for 12 bytes of the line
  void (*on_limit)(int) = std::signal(SIGXFSZ, SIG_IGN);
  testing::internal::CaptureStdout();  // written once there is room again
  OpenLog("vt-agent.exe", "log");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  Log("starting vt-agent.");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &room), 0);
  CloseLog();
  std::signal(SIGXFSZ, on_limit);
  EXPECT_EQ(ReadFile("log/vt-agent.log").size(), 512u);
  EXPECT_NE(testing::internal::GetCapturedStdout().find(
                "(vt-agent.exe) starting vt-agent.\n"),
            std::string::npos);
}

// Some filesystems (XFS without ftype, some network and FUSE ones) report
// every type as unknown; their releases must not vanish.
TEST_F(PosixTest, EntryTypesThatReaddirDoesNotTellAreLookedUp) {
  fs::create_directories("d/dir");
  WriteFile("d/file", "");
  fs::create_directory_symlink("dir", "d/to-dir");
  fs::create_symlink("file", "d/to-file");
  const struct {
    const char* name;
    unsigned char type;
    bool directory;
  } cases[] = {
      {"dir", DT_DIR, true},          {"file", DT_REG, false},
      {"dir", DT_UNKNOWN, true},      {"file", DT_UNKNOWN, false},
      {"missing", DT_UNKNOWN, false}, {"to-dir", DT_LNK, true},
      {"to-file", DT_LNK, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsDirectoryEntry("d/", c.name, c.type), c.directory)
        << c.name << " of type " << int{c.type};
  }
  fs::current_path("d");
  EXPECT_TRUE(IsDirectoryEntry("", "dir", DT_UNKNOWN));
}

}  // namespace
