#include <windows.h>

#include <csignal>
#include <cstdlib>

#include "tests/platform.h"

std::string QuoteArgument(const std::string& arg) { return '"' + arg + '"'; }

void SetEnvironment(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

std::string Unprivileged(const std::string&) { return ""; }

Ended RunRedirected(const std::string& command_line, const std::string& out,
                    const std::string& err) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto open = [&](const std::string& path, DWORD access, DWORD creation) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  std::string line = command_line;  // CreateProcessA may write to it
  int status = -1;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) {
      status = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE handle :
       {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return {status, 0};
}

std::string OwnSession() { return ""; }

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
