#include "common/process.h"

#include "tests/test_util.h"

namespace {

// `exit N` means the same to sh and cmd.exe.
TEST(RunCommandLineTest, ReturnsTheInterpretersExitStatus) {
  for (int status : {0, 1, 2, 3, 42, 255}) {
    EXPECT_EQ(RunCommandLineExpecting("exit " + std::to_string(status), status),
              status);
  }
}

}  // namespace
