// Running a command line through the platform's command interpreter, and
// keeping what it starts from outliving the agent.
#ifndef VT_COMMON_PROCESS_H_
#define VT_COMMON_PROCESS_H_

#include <string>

// How a command line ended.
struct CommandResult {
  // Its exit status: on Windows as it stands, negative values included; on
  // POSIX the exit code, 128 + N for death by signal N, as shells report it,
  // and -1 when the interpreter could not be run.
  int status = -1;
  // Nonzero when the run was stopped while the command ran, so that the
  // caller must not go on, and ends with EndByInterrupt(interrupt) once its
  // last words are written:
  // - the command was interrupted from the terminal: on POSIX it died of
  //   SIGINT or SIGQUIT, and this is the signal; on Windows it ended with
  //   STATUS_CONTROL_C_EXIT (Ctrl+C or Ctrl+Break), and this is SIGINT;
  // - on POSIX, the caller was asked to stop (SIGTERM or SIGHUP): this is
  //   that signal, which went on to the command too.
  // A command that exits with 130 by itself is no interruption.
  int interrupt = 0;
};

// Readies the process to run commands, before any runs:
// - on Windows, puts it into a job object that ends every process it
//   starts, and theirs, when it ends, however it ends; and turns off the
//   error dialogs of crashing programs, for it and for what it starts;
// - on POSIX, lets SIGCHLD have its default action whatever the caller set,
//   and catches SIGTERM and SIGHUP (unless they were ignored, as nohup
//   does): the signal goes on to the running command, and
//   PendingInterrupt() reports it.
void PrepareToRunCommands();

// The stop signal (SIGTERM or SIGHUP) that arrived since the start, 0 if
// none did; always 0 on Windows.
int PendingInterrupt();

// Runs `command_line` through the command interpreter (cmd.exe on Windows,
// /bin/sh on POSIX) and waits for it.
//
// On POSIX the interpreter leads a process group of its own, which gets the
// terminal's foreground while it runs when the caller had it, so that the
// worker can read from the terminal and gets its Ctrl+C. While it runs the
// caller ignores SIGINT and SIGQUIT, as system() does. A stop signal is
// passed on to the whole group, and the call then waits until every
// process of it has ended.
//
// On Windows Ctrl+C and Ctrl+Break are left to the command while it runs:
// the caller learns of them from its status.
CommandResult RunCommandLine(const std::string& command_line);

// Ends the process as an interrupted program ends, once its last words are
// written: on POSIX by the signal `interrupt` of a CommandResult, with its
// default action, so that a shell sees 128 + N and stops its loop, as it
// does for any program interrupted from the terminal; on Windows with
// STATUS_CONTROL_C_EXIT.
[[noreturn]] void EndByInterrupt(int interrupt);

// Makes a write to a pipe that nobody reads fail with an error instead of
// ending the process (POSIX's SIGPIPE), for the rest of the run. The programs
// that RunCommandLine starts still begin with the default behaviour.
void IgnoreBrokenPipes();

// `value` made safe to stand between double quotes on the interpreter's
// command line, so that it reaches the program literally.
std::string EscapeInDoubleQuotes(const std::string& value);

#endif  // VT_COMMON_PROCESS_H_
