#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "common/process.h"
#include "tests/platform.h"

std::string QuoteArgument(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void SetEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

std::string Unprivileged(const std::string& dir) {
  // Permissions mean nothing to root: drop to nobody.
  if (geteuid() != 0) return "";
  RunCommandLine("chown -R 65534:65534 " + QuoteArgument(dir));
  return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}

void SignalProcessGroup(int signal) { kill(0, signal); }

bool IsOpenInAnyProcess(const std::string& path) {
  struct stat file;
  if (stat(path.c_str(), &file) != 0) return false;
  // /proc/PID/fd/N leads to each open file of each process that we may look
  // at; stat follows the link. Processes come and go meanwhile.
  auto names = [](const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* stream = opendir(dir.c_str())) {
      while (const struct dirent* entry = readdir(stream)) {
        names.push_back(entry->d_name);
      }
      closedir(stream);
    }
    return names;
  };
  for (const std::string& pid : names("/proc")) {
    const std::string fds = "/proc/" + pid + "/fd/";
    for (const std::string& fd : names(fds)) {
      struct stat open;
      if (stat((fds + fd).c_str(), &open) == 0 && open.st_dev == file.st_dev &&
          open.st_ino == file.st_ino) {
        return true;
      }
    }
  }
  return false;
}

Started StartRedirected(const std::string& command_line, const std::string& out,
                        const std::string& err, const std::string& in) {
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    const struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) {
      std::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int input = open(in.empty() ? "/dev/null" : in.c_str(), O_RDONLY);
    const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(input, 0);
    dup2(output, 1);
    dup2(error, 2);
    execl("/bin/sh", "sh", "-c", command_line.c_str(), nullptr);
    _exit(127);
  }
  return {static_cast<long>(child), nullptr};
}

Ended WaitFor(Started& program, int seconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  const pid_t pid = static_cast<pid_t>(program.id);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) return {WEXITSTATUS(status), 0};
  if (WIFSIGNALED(status)) return {128 + WTERMSIG(status), WTERMSIG(status)};
  return {-1, 0};
}

void Terminate(Started& program) {
  kill(static_cast<pid_t>(program.id), SIGKILL);
}

void SendSignal(const Started& program, int signal, bool whole_group) {
  const pid_t pid = static_cast<pid_t>(program.id);
  kill(whole_group ? -pid : pid, signal);
}

namespace {

// The state letter of /proc/ID/stat: R, S, Z and so on; 0 when there is no
// such process.
char ProcessState(long id) {
  std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  // The name, in parentheses, may hold blanks.
  const std::string::size_type name_end = line.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= line.size()
             ? 0
             : line[name_end + 2];
}

}  // namespace

bool EndsWithin(long id, int seconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  // A zombie has ended; whoever inherited it may not reap it at once.
  for (char state; (state = ProcessState(id)) != 0 && state != 'Z';) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void Kill(long id) { kill(static_cast<pid_t>(id), SIGKILL); }

long ProcessId() { return static_cast<long>(getpid()); }

void OnStopSignals(void (*handler)(int)) {
  std::signal(SIGTERM, handler);
  std::signal(SIGHUP, handler);
}

std::string ReadFifo(const std::string& path, const Started& program) {
  // Not blocking: a program that never opens the FIFO must not hang the
  // test. Until the program has opened it, and after it has closed it,
  // there is no writer, and a read finds the end.
  const int fifo = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  std::string text;
  if (fifo == -1) return text;
  for (;;) {
    char buffer[4096];
    const ssize_t n = read(fifo, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 && EndsWithin(program.id, 0)) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  close(fifo);
  return text;
}

bool CatchesSignal(long id, int signal) {
  std::ifstream status("/proc/" + std::to_string(id) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long caught =
        std::stoull(line.substr(line.find_first_not_of(" \t", 7)), nullptr, 16);
    return (caught >> (signal - 1)) & 1;
  }
  return false;
}
