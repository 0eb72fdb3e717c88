#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "common/process.h"

namespace {

// While a command runs, Ctrl+C and Ctrl+Break are its own: it may have
// cleaning up to do (a half-done install in bin\, say), which the job
// would cut short if the agent died of the keypress. Its status tells.
BOOL WINAPI LeaveToCommand(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

void PrepareToRunCommands() {
  // A crashing worker, or one that misses a DLL, ends with its status
  // instead of waiting on a dialog that nobody may see. Inherited by every
  // process started from here.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Task Scheduler's End, its time limit and taskkill /F end the agent
  // alone; the job ends cmd.exe and the worker with it, whenever its last
  // handle closes: the agent's own, never closed, never inherited (system()
  // lets cmd.exe inherit every inheritable handle). A program may still
  // leave it on purpose (CREATE_BREAKAWAY_FROM_JOB), never unasked.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  // Where the agent cannot be put in a job (Windows 7, already in one),
  // it runs as before.
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                               sizeof limits) ||
      !AssignProcessToJobObject(job, GetCurrentProcess())) {
    CloseHandle(job);
  }
}

int PendingInterrupt() { return 0; }

CommandResult RunCommandLine(const std::string& command_line) {
  // Whatever the agent wrote to standard output must precede the child's own
  // output there.
  std::fflush(nullptr);
  SetConsoleCtrlHandler(LeaveToCommand, TRUE);
  const int status = std::system(command_line.c_str());
  SetConsoleCtrlHandler(LeaveToCommand, FALSE);
  // A worker that Ctrl+C ended hands its status on through cmd.exe.
  const bool interrupted =
      static_cast<DWORD>(status) == static_cast<DWORD>(STATUS_CONTROL_C_EXIT);
  return {status, interrupted ? SIGINT : 0};
}

// The status of a program that Ctrl+C ended.
void EndByInterrupt(int) {
  std::fflush(nullptr);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

// A write to a closed pipe fails with an error on Windows anyway.
void IgnoreBrokenPipes() {}

// cmd.exe takes everything between double quotes as it stands.
std::string EscapeInDoubleQuotes(const std::string& value) { return value; }
