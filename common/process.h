// Running a command line through the platform's command interpreter.
#ifndef VT_COMMON_PROCESS_H_
#define VT_COMMON_PROCESS_H_

#include <string>

// How a command line ended.
struct CommandResult {
  // Its exit status: on Windows as it stands, negative values included; on
  // POSIX the exit code, 128 + N for death by signal N, as shells report it,
  // and -1 when the interpreter could not be run.
  int status = -1;
  // Nonzero when the command was interrupted from the terminal, so that the
  // caller, interrupted along with it, has still to end (EndByInterrupt).
  // On POSIX: the command died of SIGINT or SIGQUIT, the two signals that
  // system() holds off its caller while it waits; this is the signal. Never
  // on Windows, where Ctrl+C ends every process of the console, the caller
  // included. A command that exits with 130 by itself is no interruption.
  int interrupt = 0;
};

// Runs `command_line` through the command interpreter (cmd.exe on Windows,
// /bin/sh on POSIX) and waits for it.
CommandResult RunCommandLine(const std::string& command_line);

// Ends the process as an interrupted program ends, once its last words are
// written: on POSIX by the signal `interrupt` of a CommandResult, with its
// default action, so that a shell sees 128 + N and stops its loop, as it
// does for any program interrupted from the terminal.
[[noreturn]] void EndByInterrupt(int interrupt);

// Makes a write to a pipe that nobody reads fail with an error instead of
// ending the process (POSIX's SIGPIPE), for the rest of the run. The programs
// that RunCommandLine starts still begin with the default behaviour.
void IgnoreBrokenPipes();

// `value` made safe to stand between double quotes on the interpreter's
// command line, so that it reaches the program literally.
std::string EscapeInDoubleQuotes(const std::string& value);

#endif  // VT_COMMON_PROCESS_H_
