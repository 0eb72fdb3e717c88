#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "common/process.h"

CommandResult RunCommandLine(const std::string& command_line) {
  // Whatever the agent wrote to standard output must precede the child's own
  // output there.
  std::fflush(nullptr);
  // Ctrl+C ends the agent along with the worker: no interruption to pass on.
  return {std::system(command_line.c_str()), 0};
}

// Never called, as no command is reported interrupted; should it be, the
// agent ends as the console's Ctrl+C ends a program.
void EndByInterrupt(int) {
  std::fflush(nullptr);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

// A write to a closed pipe fails with an error on Windows anyway.
void IgnoreBrokenPipes() {}

// cmd.exe takes everything between double quotes as it stands.
std::string EscapeInDoubleQuotes(const std::string& value) { return value; }
