#include "common/log.h"

#include <cstdio>
#include <filesystem>
#include <regex>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "common/file.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using LogTest = ScratchDirTest;

const std::string kLogFile = Native("log/vt-agent.log");
const std::string kLogDir = Native("log/");

TEST(FormatLogLineTest, IsTimeNameAndMessageWithNothingBetween) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 5;
  when.tm_hour = 7;
  when.tm_min = 4;
  when.tm_sec = 9;
  EXPECT_EQ(FormatLogLine(when, "vt-agent.exe", "starting vt-agent."),
            "2026/01/05 07:04:09(vt-agent.exe) starting vt-agent.\n");
  when.tm_hour = 23;
  EXPECT_EQ(FormatLogLine(when, "n", ""), "2026/01/05 23:04:09(n) \n");
}

TEST_F(LogTest, AppendsTimestampedLinesAcrossOpenPeriods) {
  fs::create_directories("log");
  WriteFile(kLogFile, "earlier line" + TextLineEnd());

  OpenLog("vt-agent.exe", kLogDir);
  Log("starting vt-agent.");
  // Lines are in the file as soon as Log returns.
  EXPECT_NE(ReadFile(kLogFile).find("starting"), std::string::npos);
  CloseLog();
  std::FILE* other = std::fopen(kLogFile.c_str(), "ab");
  std::fputs(("from elsewhere" + TextLineEnd()).c_str(), other);
  std::fclose(other);
  OpenLog("vt-agent.exe", kLogDir);
  Log("closing vt-agent.");
  CloseLog();

  const std::string stamp = R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)";
  EXPECT_TRUE(std::regex_match(
      ReadFile(kLogFile),
      std::regex("earlier line" + TextLineEnd() + stamp +
                 R"(\(vt-agent\.exe\) starting vt-agent\.)" + TextLineEnd() +
                 "from elsewhere" + TextLineEnd() + stamp +
                 R"(\(vt-agent\.exe\) closing vt-agent\.)" + TextLineEnd())))
      << ReadFile(kLogFile);
}

TEST_F(LogTest, WithoutTheDirectoryLinesGoToStandardOutputAndNothingIsMade) {
  testing::internal::CaptureStdout();
  OpenLog("vt-agent.exe", kLogDir);
  Log("starting vt-agent.");
  Log("closing vt-agent.");
  CloseLog();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_search(
      out, std::regex(R"(\(vt-agent\.exe\) starting vt-agent\.)")));
  EXPECT_TRUE(std::regex_search(
      out, std::regex(R"(\(vt-agent\.exe\) closing vt-agent\.)")));
  EXPECT_FALSE(fs::exists("log"));
}

TEST_F(LogTest, ALogPathThatIsADirectoryFallsBackToStandardOutput) {
  fs::create_directories(kLogFile);
  testing::internal::CaptureStdout();
  OpenLog("vt-agent.exe", kLogDir);
  Log("starting vt-agent.");
  CloseLog();
  EXPECT_NE(testing::internal::GetCapturedStdout().find("starting vt-agent."),
            std::string::npos);
}

#ifndef _WIN32

// A line that fails part way (the disk filled) goes to standard output whole.
// Nothing of it may stay behind to reach the file later, once there is room
// again: the file would get the line's start twice.
TEST_F(LogTest, ALineThatFailsPartWayIsNotWrittenAgainOnceThereIsRoom) {
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

#endif

}  // namespace
