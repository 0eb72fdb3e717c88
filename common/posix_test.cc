// What only the POSIX port has: signals, symbolic links, sh's quoting.
#include <unistd.h>

#include <filesystem>

#include "common/file.h"
#include "common/process.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using PosixTest = ScratchDirTest;

TEST(PosixProcessTest, DecodesSignalsAndFailuresAsShellsDo) {
  EXPECT_EQ(RunCommandLine("kill -9 $$"), 128 + 9);
  EXPECT_EQ(RunCommandLine("kill -TERM $$"), 128 + 15);
  EXPECT_EQ(RunCommandLine("no-such-command-here 2>/dev/null"), 127);
  // A status is eight bits: 256 is 0 by the time sh reports it.
  EXPECT_EQ(RunCommandLine("exit 256"), 0);
}

TEST_F(PosixTest, EscapedValuesReachTheProgramLiterally) {
  const std::string values[] = {
      "config.txt", "my config.txt", "$HOME",  "`id`",    "$(id)",       "a\\b",
      "trailing\\", "\\$x",          "%PATH%", "a;b&c|d", "caf\xc3\xa9", "",
      "'single'"};
  for (const std::string& value : values) {
    std::string command =
        "printf %s \"" + EscapeInDoubleQuotes(value) + "\" > out";
    ASSERT_EQ(RunCommandLine(command), 0) << command;
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

}  // namespace
