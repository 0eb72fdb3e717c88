#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "common/process.h"

int RunCommandLine(const std::string& command_line) {
  // Whatever the agent wrote to standard output must precede the child's own
  // output there.
  std::fflush(nullptr);
  // An ignored signal stays ignored through exec: the worker gets the default
  // back, and must, or its own writes to a closed pipe would go on unnoticed.
  // The agent writes nothing while it waits.
  void (*previous)(int) = std::signal(SIGPIPE, SIG_DFL);
  int status = std::system(command_line.c_str());
  std::signal(SIGPIPE, previous);
  if (status == -1) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

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
