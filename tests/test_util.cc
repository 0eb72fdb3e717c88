#include "tests/test_util.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "common/file.h"
#include "common/process.h"

namespace fs = std::filesystem;

void ScratchDirTest::SetUp() {
  previous_ = fs::current_path();
  const testing::TestInfo* info =
      testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  // A name no other run has taken: runs at once on one machine must not
  // share directories.
  const fs::path root = fs::temp_directory_path() / "vt-agent-tests";
  fs::create_directories(root);
  for (unsigned n = std::random_device()();; ++n) {
    dir_ = root / (name + "." + std::to_string(n % 1000000));
    if (fs::create_directory(dir_)) break;
  }
  fs::current_path(dir_);
}

void ScratchDirTest::TearDown() {
  fs::current_path(previous_);
  std::error_code ignored;
  if (!HasFailure()) fs::remove_all(dir_, ignored);
}

std::string TextLineEnd() {
#ifdef _WIN32
  return "\r\n";
#else
  return "\n";
#endif
}

std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/', kPathSeparator);
  return path;
}

bool StartFailed(int status) {
#ifdef _WIN32
  return status == -1 || status == 9009;
#else
  (void)status;
  return false;
#endif
}

void NoteRetry(const std::string& what) {
  std::cerr << "start failed, running again: " << what << std::endl;
}

int RunCommandLineExpecting(const std::string& command_line, int expected) {
  return RetryFailedStarts(
      command_line, [&] { return RunCommandLine(command_line).status; },
      [&](int status) { return status != expected && StartFailed(status); });
}

std::string AgentBinary(const std::string& built) {
  const char* agent = std::getenv("VT_AGENT");
  return agent != nullptr && *agent != '\0' ? agent : built;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
