// Helpers shared by the tests: a scratch directory that is the working
// directory for the length of a test, and small file utilities.
#ifndef VT_TESTS_TEST_UTIL_H_
#define VT_TESTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// A fresh directory of this run's own, made the working directory while the
// test runs and removed afterwards unless the test failed.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path dir_;

 private:
  std::filesystem::path previous_;
};

// How lines end in files written in text mode: CR LF on Windows.
std::string TextLineEnd();

// `path` with every '/' replaced by the platform's separator.
std::string Native(std::string path);

// Whether `status` may mean that the interpreter or the program it runs
// never started. Wine's CreateProcess now and then fails with an internal
// error, about once in a thousand starts here and in a plain batch loop too:
// cmd then says it cannot recognize the command (9009), and system() returns
// -1. Never on POSIX.
bool StartFailed(int status);

// Says on standard error that `what` runs again after a failed start.
void NoteRetry(const std::string& what);

// Calls `attempt` up to three times, while `start_failed` says of its result
// that something never started. Each new try is noted, so that a run shows
// how often it happened.
template <typename Attempt, typename Predicate>
auto RetryFailedStarts(const std::string& what, Attempt attempt,
                       Predicate start_failed) {
  auto result = attempt();
  for (int retry = 0; retry < 2 && start_failed(result); ++retry) {
    NoteRetry(what);
    result = attempt();
  }
  return result;
}

// RunCommandLine, tried again while it returns a status that StartFailed and
// that is not `expected`.
int RunCommandLineExpecting(const std::string& command_line, int expected);

// The agent under test: the one that VT_AGENT names (the 32-bit exe, run by
// the 64-bit tests), or else `built`, the one of this build.
std::string AgentBinary(const std::string& built);

void WriteFile(const std::filesystem::path& path, const std::string& text);
// The file's bytes, untranslated; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

#endif  // VT_TESTS_TEST_UTIL_H_
