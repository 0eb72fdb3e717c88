#include <unistd.h>

#include <cstdlib>

#include "common/process.h"
#include "tests/platform.h"

std::string QuoteArgument(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void SetEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

std::string Unprivileged(const std::string& dir) {
  // Permissions mean nothing to root: drop to nobody.
  if (geteuid() != 0) return "";
  RunCommandLine("chown -R 65534:65534 " + QuoteArgument(dir));
  return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}
