#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
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

Ended RunRedirected(const std::string& command_line, const std::string& out,
                    const std::string& err) {
  // Decoded here, not by the code under test.
  const int status = std::system(
      (command_line + " > " + QuoteArgument(out) + " 2> " + QuoteArgument(err))
          .c_str());
  if (status != -1 && WIFEXITED(status)) return {WEXITSTATUS(status), 0};
  if (status != -1 && WIFSIGNALED(status)) {
    return {128 + WTERMSIG(status), WTERMSIG(status)};
  }
  return {-1, 0};
}

std::string OwnSession() {
  // A run in the background may have started with both ignored, which every
  // program started from here would inherit.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGQUIT, SIG_DFL);
  return "prlimit --core=0 setsid ";
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
