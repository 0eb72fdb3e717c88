#include <signal.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "common/process.h"

CommandResult RunCommandLine(const std::string& command_line) {
  // Whatever the agent wrote to standard output must precede the child's own
  // output there.
  std::fflush(nullptr);
  // An ignored signal stays ignored through exec: the worker gets the default
  // back, and must, or its own writes to a closed pipe would go on unnoticed.
  // The agent writes nothing while it waits.
  void (*previous)(int) = std::signal(SIGPIPE, SIG_DFL);
  int status = std::system(command_line.c_str());
  std::signal(SIGPIPE, previous);
  if (status == -1) return {-1, 0};
  if (WIFEXITED(status)) return {WEXITSTATUS(status), 0};
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    // Ctrl+C (or Ctrl+\) reaches the whole foreground process group, but
    // system() ignores both signals in the caller while it waits: the
    // command died and its caller, meant to stop too, did not.
    const bool interrupted = signal == SIGINT || signal == SIGQUIT;
    return {128 + signal, interrupted ? signal : 0};
  }
  return {-1, 0};
}

void EndByInterrupt(int interrupt) {
  std::fflush(nullptr);
  // The default action, whatever the agent inherited: a shell learns that
  // its child was interrupted only from a death by the signal.
  std::signal(interrupt, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, interrupt);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  std::raise(interrupt);
  std::_Exit(128 + interrupt);  // not reached
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
