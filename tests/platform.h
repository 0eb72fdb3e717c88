// What the tests need to do differently on each platform.
#ifndef VT_TESTS_PLATFORM_H_
#define VT_TESTS_PLATFORM_H_

#include <string>

// `arg` quoted so that the interpreter hands it to the program as one
// argument, unchanged (on Windows it must hold no double quote).
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
  int status = -1;  // its exit status, or 128 + N for death by signal N
  int signal = 0;   // the POSIX signal it died of; 0 when it exited
};

// Sends `signal` to every process of the caller's process group, as a
// terminal sends SIGINT for Ctrl+C to its foreground job, the caller
// included. Where there are no such groups (Windows), to the caller alone.
void SignalProcessGroup(int signal);

// Whether some process has the file at `path` open.
bool IsOpenInAnyProcess(const std::string& path);

// A program that the tests started and that runs on meanwhile.
struct Started {
  long id = -1;            // its process ID
  void* handle = nullptr;  // Windows: its process handle
};

// Starts `command_line` (a program and its arguments, quoted as for the
// interpreter; on POSIX any shell command, and one that execs the program
// reports the program's end) with standard output and error going to the
// files `out` and `err`, and standard input from `in` when given (a file or
// a named pipe), else empty; does not wait. On POSIX it leads a session and
// process group of its own, with no controlling terminal. On Windows the
// program is started directly, with those files as its standard handles: a
// 64-bit cmd.exe under Wine hands a 32-bit program its own C runtime's
// handle table, which the 32-bit runtime misreads, sending standard error
// to standard output.
Started StartRedirected(const std::string& command_line, const std::string& out,
                        const std::string& err, const std::string& in = "");

// Waits at most `seconds` for `program` to end and reports how it did; one
// that is still running then is killed, and reported as killed.
Ended WaitFor(Started& program, int seconds);

// Ends `program` at once, as Task Scheduler's End or taskkill /F does on
// Windows (TerminateProcess); SIGKILL on POSIX.
void Terminate(Started& program);

// Sends POSIX signal `signal` to `program`, or to its whole process group.
void SendSignal(const Started& program, int signal, bool whole_group);

// Whether the process `id` has ended, or ends within `seconds`.
bool EndsWithin(long id, int seconds);

// Ends the process `id`, if it still runs.
void Kill(long id);

// This process's ID, as EndsWithin takes it.
long ProcessId();

// Calls `handler` on SIGTERM and SIGHUP (POSIX; nothing on Windows).
void OnStopSignals(void (*handler)(int));

// What `program` writes into the FIFO at `path` until it ends (POSIX);
// reading it lets a program that opens it for writing go on.
std::string ReadFifo(const std::string& path, const Started& program);

// Whether the signal `signal` is caught by a handler in process `id`
// (POSIX; always true on Windows).
bool CatchesSignal(long id, int signal);

#endif  // VT_TESTS_PLATFORM_H_
