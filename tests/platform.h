// What the tests need to do differently on each platform.
#ifndef VT_TESTS_PLATFORM_H_
#define VT_TESTS_PLATFORM_H_

#include <string>

// `arg` quoted so that the interpreter hands it to the program as one
// argument, unchanged (it holds no double quote).
std::string QuoteArgument(const std::string& arg);

// Sets (or, with an empty value on Windows, removes) an environment variable
// for this process and the programs it starts.
void SetEnvironment(const std::string& name, const std::string& value);

// A command prefix that runs the rest of the command line as an
// unprivileged user, and gives that user `dir`; empty where the tests do not
// run with privileges.
std::string Unprivileged(const std::string& dir);

// How a program that the tests ran ended.
struct Ended {
  int status = -1;  // as RunCommandLine reports it
  int signal = 0;   // the POSIX signal it died of; 0 when it exited
};

// Runs `command_line` (a program and its arguments, quoted as for the
// interpreter; on POSIX any shell command) with standard output and error
// going to the files `out` and `err`. On POSIX the shell's own end is
// reported: one that execs the program reports the program's. On Windows
// the program is started directly, with those files as its standard
// handles: a 64-bit cmd.exe under Wine hands a 32-bit program its own C
// runtime's handle table, which the 32-bit runtime misreads, sending
// standard error to standard output.
Ended RunRedirected(const std::string& command_line, const std::string& out,
                    const std::string& err);

// A command prefix that runs the rest of the command line as the leader of
// a session and process group of its own, as a terminal runs a job in the
// foreground, with SIGINT and SIGQUIT at their defaults and no core files;
// empty where there are no such groups (Windows).
std::string OwnSession();

// Sends `signal` to every process of the caller's process group, as a
// terminal sends SIGINT for Ctrl+C to its foreground job, the caller
// included (run it under OwnSession). Where there are no such groups
// (Windows), to the caller alone.
void SignalProcessGroup(int signal);

// Whether some process has the file at `path` open.
bool IsOpenInAnyProcess(const std::string& path);

#endif  // VT_TESTS_PLATFORM_H_
