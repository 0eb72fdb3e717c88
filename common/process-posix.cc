#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "common/process.h"

int RunCommandLine(const std::string& command_line) {
  // Whatever the agent wrote to standard output must precede the child's own
  // output there.
  std::fflush(nullptr);
  int status = std::system(command_line.c_str());
  if (status == -1) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::string EscapeInDoubleQuotes(const std::string& value) {
  // Between double quotes sh still expands $ and ` and treats \ as an escape.
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\\' || c == '$' || c == '`') escaped += '\\';
    escaped += c;
  }
  return escaped;
}
