// Running a command line through the platform's command interpreter.
#ifndef VT_COMMON_PROCESS_H_
#define VT_COMMON_PROCESS_H_

#include <string>

// Runs `command_line` through the command interpreter (cmd.exe on Windows,
// /bin/sh on POSIX), waits for it and returns its exit status: on Windows
// the status as it stands, negative values included; on POSIX the exit code,
// 128 + N for death by signal N, as shells report it, and -1 when the
// interpreter could not be run.
int RunCommandLine(const std::string& command_line);

// Makes a write to a pipe that nobody reads fail with an error instead of
// ending the process (POSIX's SIGPIPE), for the rest of the run. The programs
// that RunCommandLine starts still begin with the default behaviour.
void IgnoreBrokenPipes();

// `value` made safe to stand between double quotes on the interpreter's
// command line, so that it reaches the program literally.
std::string EscapeInDoubleQuotes(const std::string& value);

#endif  // VT_COMMON_PROCESS_H_
