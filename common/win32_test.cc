// What only Windows has: cmd.exe's statuses, taken as they stand.
#include "common/process.h"
#include "tests/test_util.h"

namespace {

TEST(Win32ProcessTest, StatusesStandAsCmdReturnsThem) {
  EXPECT_EQ(RunCommandLineExpecting("exit -1", -1), -1);
  EXPECT_EQ(RunCommandLineExpecting("exit 256", 256), 256);
  EXPECT_EQ(RunCommandLineExpecting("no-such-command-here 2>NUL", 9009), 9009);
}

TEST(Win32ProcessTest, ValuesPassUnescaped) {
  for (const char* value : {"a b", "$x", "`x`", "a\\b", "%PATH%"}) {
    EXPECT_EQ(EscapeInDoubleQuotes(value), value);
  }
}

}  // namespace
