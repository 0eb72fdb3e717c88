#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "tests/platform.h"

std::string QuoteArgument(const std::string& arg) {
  // Backslashes before the closing quote would escape it: doubled, they
  // stand for themselves.
  const std::string::size_type end = arg.find_last_not_of('\\') + 1;
  return '"' + arg + std::string(arg.size() - end, '\\') + '"';
}

void SetEnvironment(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

std::string Unprivileged(const std::string&) { return ""; }

namespace {

HANDLE OpenForChild(const std::string& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Started StartRedirected(const std::string& command_line, const std::string& out,
                        const std::string& err, const std::string& in) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput =
      OpenForChild(in.empty() ? "NUL" : in, GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = OpenForChild(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = OpenForChild(err, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  std::string line = command_line;  // CreateProcessA may write to it
  Started started;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    started = {static_cast<long>(process.dwProcessId), process.hProcess};
  }
  for (HANDLE handle :
       {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return started;
}

Ended WaitFor(Started& program, int seconds) {
  if (program.handle == nullptr) return {-1, 0};
  HANDLE process = static_cast<HANDLE>(program.handle);
  if (WaitForSingleObject(process, seconds * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
  }
  DWORD code = 0;
  int status = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
  CloseHandle(process);
  program.handle = nullptr;
  return {status, 0};
}

void Terminate(Started& program) {
  if (program.handle != nullptr) {
    TerminateProcess(static_cast<HANDLE>(program.handle), 1);
  }
}

void SendSignal(const Started&, int, bool) {}

bool EndsWithin(long id, int seconds) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) return true;  // gone
  const bool ended =
      WaitForSingleObject(process, seconds * 1000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

void Kill(long id) {
  HANDLE process =
      OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id));
  if (process == nullptr) return;
  TerminateProcess(process, 1);
  CloseHandle(process);
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

void OnStopSignals(void (*)(int)) {}

std::string ReadFifo(const std::string&, const Started&) { return ""; }

bool CatchesSignal(long, int) { return true; }

void SignalProcessGroup(int signal) { std::raise(signal); }

bool IsOpenInAnyProcess(const std::string& path) {
  // Nobody else may have it open for an open that shares nothing to succeed.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }
  CloseHandle(file);
  return false;
}
