#include "agent/vt-agent.h"

#include <filesystem>

#include "common/file.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using FindWorkersTest = ScratchDirTest;

std::string Worker(const std::string& release) {
  return Native("bin/" + release + "/worker.exe");
}

TEST_F(FindWorkersTest, OrdersReleasesTextuallyNewestFirst) {
  struct Case {
    std::vector<std::string> dirs;
    std::vector<std::string> order;
  };
  std::vector<Case> cases = {
      {{"r1", "r2"}, {"r2", "r1"}},
      {{"r9", "r10"}, {"r9", "r10"}},
      {{"r100", "r99"}, {"r99", "r100"}},
      {{"r1", "r10"}, {"r1", "r10"}},  // the separator sorts above digits
      {{"r10", "r1a"}, {"r1a", "r10"}},
      {{"r2", "rb"}, {"rb", "r2"}},
      {{"r1", "R2"}, {"r1", "R2"}},  // capitals sort below small letters
      {{"r0009", "r0010"}, {"r0010", "r0009"}},
      {{"r1", "r1.5", "r1-1"}, {"r1", "r1.5", "r1-1"}},
      {{"r1_", "r1"}, {"r1_", "r1"}},  // '_' (0x5F) sorts above the separator
      {{"r1[", "r1"}, {"r1", "r1["}},  // '[' (0x5B) sorts below it
      {{}, {}},
  };
  if (kPathSeparator != '\\') {
    // A backslash of a name's own (POSIX only) weighs as itself, the
    // separator still as a backslash, and the order is still descending.
    cases.push_back({{"r1", "r10", "r\\x"}, {"r\\x", "r1", "r10"}});
    cases.push_back({{"r1\\", "r1"}, {"r1", "r1\\"}});
  }
  for (const Case& c : cases) {
    fs::remove_all("bin");
    fs::create_directories("bin");
    for (const std::string& dir : c.dirs) fs::create_directories("bin/" + dir);
    std::vector<std::string> expected;
    for (const std::string& dir : c.order) expected.push_back(Worker(dir));
    CandidateList list;
    FindWorkers(list);
    EXPECT_EQ(list, expected) << "dirs: " << testing::PrintToString(c.dirs);
  }
}

TEST_F(FindWorkersTest, KeepsOnlyDirectoriesBeginningWithR) {
  fs::create_directories("bin/r1");
  fs::create_directories("bin/r2");
  fs::create_directories("bin/x9");
  WriteFile("bin/r3.txt", "");
  CandidateList list;
  FindWorkers(list);
  EXPECT_EQ(list, (CandidateList{Worker("r2"), Worker("r1")}));
}

TEST_F(FindWorkersTest, AppendsToTheCallersListAndOrdersAll) {
  fs::create_directories("bin/r1");
  CandidateList list{Worker("r5")};
  FindWorkers(list);
  EXPECT_EQ(list, (CandidateList{Worker("r5"), Worker("r1")}));
}

TEST_F(FindWorkersTest, NoBinDirectoryGivesNoCandidates) {
  CandidateList list;
  FindWorkers(list);
  EXPECT_TRUE(list.empty());
}

TEST(PathLessTest, ComparesBytesAsUnsigned) {
  EXPECT_TRUE(PathLess("bin/ra", "bin/r\xe9"));
  EXPECT_FALSE(PathLess("bin/r\xe9", "bin/ra"));
  EXPECT_TRUE(PathLess("bin/r", "bin/r1"));  // a prefix sorts first
  EXPECT_FALSE(PathLess("bin/r1", "bin/r1"));
}

TEST(WorkerCommandLineTest, QuotesTheConfigurationPathOnly) {
  EXPECT_EQ(WorkerCommandLine(Worker("r12"), "config.txt"),
            Native("bin/r12/worker.exe") + " -config=\"config.txt\"");
  EXPECT_EQ(WorkerCommandLine(Worker("r 1"), "my config.txt"),
            Native("bin/r 1/worker.exe") + " -config=\"my config.txt\"");
}

TEST(UsageTest, IsTheFourteenLinesOfTheUsageText) {
  EXPECT_EQ(kUsage,
            std::string("Veltrane Integration Agent\n"
                        "\n"
                        "  * Extract student information from an ODBC data "
                        "source (optional).\n"
                        "  * Construct CSV files from extracted data "
                        "(optional).\n"
                        "  * Upload files (via SFTP) for insertion into "
                        "Quillmark.\n"
                        "\n"
                        "See https://docs.veltrane.example/v4/vt_agent.py for "
                        "full documentation.\n"
                        "\n"
                        "> vt-agent.exe [-config=config.txt]\n"
                        "\n"
                        "vt-agent returns 0 on success and non-zero on "
                        "failure. On Windows, the return\n"
                        "code can be tested with:\n"
                        "\n"
                        "> IF %ERRORLEVEL% NEQ 0 echo failure\n"));
}

}  // namespace
