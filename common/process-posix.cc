#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "common/process.h"

extern char** environ;

namespace {

// The stop signal that arrived, 0 until one does.
volatile std::sig_atomic_t g_stop = 0;
// The process group of the running command, 0 while none runs.
volatile std::sig_atomic_t g_command_group = 0;
// Whether the last interruption came from the terminal while the command
// held its foreground: the keypress then reached the command's group alone,
// not the agent's.
bool g_interrupted_in_foreground = false;

void PassOnStop(int signal) {
  const int saved_errno = errno;
  g_stop = signal;
  const pid_t group = g_command_group;
  if (group > 0) kill(-group, signal);
  errno = saved_errno;
}

// One of the standard descriptors when it is the controlling terminal and
// the agent's process group is its foreground group; -1 otherwise (no
// terminal, or the agent runs in the background).
int ForegroundTerminal() {
  const pid_t group = getpgrp();
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (tcgetpgrp(fd) == group) return fd;
  }
  return -1;
}

void TakeTerminalBack(int terminal) {
  // The agent is in the background now: tcsetpgrp would stop it with
  // SIGTTOU unless that is blocked.
  sigset_t ttou, previous;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  sigprocmask(SIG_BLOCK, &ttou, &previous);
  tcsetpgrp(terminal, getpgrp());
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Starts `sh -c command_line` with what the agent was given: the signal
// mask `mask`, and SIGINT and SIGQUIT ignored only if they were. SIGPIPE,
// which the agent ignores for itself, gets its default back: an ignored
// signal stays ignored through exec, and a worker's writes to a closed pipe
// would go on unnoticed. The interpreter leads a process group of its own,
// which a stop signal can reach whole without reaching the agent's caller;
// with `terminal` (-1: none) it takes the terminal's foreground, as a shell
// hands it to a job, so that the worker can read from it and its Ctrl+C
// reaches the worker. Returns the interpreter's process ID, or -1.
pid_t StartInterpreter(const std::string& command_line, const sigset_t& mask,
                       bool int_ignored, bool quit_ignored, int terminal) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (!int_ignored) sigaddset(&defaults, SIGINT);
  if (!quit_ignored) sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETPGROUP);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (terminal != -1) {
    posix_spawn_file_actions_addtcsetpgrp_np(&actions, terminal);
  }
  char sh[] = "sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, const_cast<char*>(command_line.c_str()), nullptr};
  pid_t child = -1;
  const bool started =
      posix_spawn(&child, "/bin/sh", &actions, &attributes, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return started ? child : -1;
}

// Waits until no process of `group` is left. Its interpreter has ended, but
// a worker handling the stop signal may still be finishing; orphaned, it
// was handed to the agent (the child subreaper), which reaps it here.
void WaitForGroup(pid_t group) {
  while (waitpid(-group, nullptr, 0) > 0 || errno == EINTR) {
  }
}

CommandResult Decode(int wait_status) {
  if (WIFEXITED(wait_status)) return {WEXITSTATUS(wait_status), 0};
  if (WIFSIGNALED(wait_status)) {
    const int signal = WTERMSIG(wait_status);
    // Ctrl+C (or Ctrl+\) reaches the whole foreground process group, which
    // the interpreter died of; the agent, ignoring both while it waits, did
    // not, and must end too.
    const bool interrupted = signal == SIGINT || signal == SIGQUIT;
    return {128 + signal, interrupted ? signal : 0};
  }
  return {-1, 0};
}

}  // namespace

void PrepareToRunCommands() {
  // Ignored, SIGCHLD has the children reaped unseen: no status to wait for.
  std::signal(SIGCHLD, SIG_DFL);
  // Orphans of a command come to the agent rather than to init, so that it
  // can wait for a worker whose interpreter died first.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  struct sigaction stop = {};
  stop.sa_handler = PassOnStop;
  sigemptyset(&stop.sa_mask);
  sigaddset(&stop.sa_mask, SIGTERM);
  sigaddset(&stop.sa_mask, SIGHUP);
  stop.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGHUP}) {
    struct sigaction given;
    // What the caller ignores (nohup: SIGHUP) stays ignored, the command's
    // too.
    if (sigaction(signal, nullptr, &given) == 0 &&
        given.sa_handler != SIG_IGN) {
      sigaction(signal, &stop, nullptr);
    }
  }
}

int PendingInterrupt() { return g_stop; }

CommandResult RunCommandLine(const std::string& command_line) {
  // Whatever the agent wrote to standard output must precede the child's own
  // output there.
  std::fflush(nullptr);

  // system()'s discipline: while the command runs, Ctrl+C and Ctrl+\ are
  // its own, and SIGCHLD reaches no handler.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction caller_int, caller_quit;
  sigaction(SIGINT, &ignore, &caller_int);
  sigaction(SIGQUIT, &ignore, &caller_quit);
  // Stop signals wait until the command's group exists to receive them.
  sigset_t held, caller_mask;
  sigemptyset(&held);
  sigaddset(&held, SIGCHLD);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, SIGHUP);
  sigprocmask(SIG_BLOCK, &held, &caller_mask);
  const int stop_before = g_stop;

  const int terminal = ForegroundTerminal();
  const pid_t child = StartInterpreter(
      command_line, caller_mask, caller_int.sa_handler == SIG_IGN,
      caller_quit.sa_handler == SIG_IGN, terminal);

  CommandResult result;
  if (child != -1) {
    g_command_group = child;
    if (stop_before != 0) kill(-child, stop_before);
    // Stop signals that came meanwhile are passed on from here.
    sigset_t waiting = caller_mask;
    sigaddset(&waiting, SIGCHLD);
    sigprocmask(SIG_SETMASK, &waiting, nullptr);
    int wait_status = 0;
    pid_t waited;
    while ((waited = waitpid(child, &wait_status, 0)) == -1 && errno == EINTR) {
    }
    sigprocmask(SIG_BLOCK, &held, nullptr);
    g_command_group = 0;
    if (waited == child) result = Decode(wait_status);
    if (g_stop != 0) {
      WaitForGroup(child);
      result.interrupt = g_stop;
    }
    // Orphans of the command that have ended since they came to the agent.
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }
  g_interrupted_in_foreground =
      terminal != -1 && result.interrupt != 0 && g_stop == 0;
  if (terminal != -1) TakeTerminalBack(terminal);
  sigprocmask(SIG_SETMASK, &caller_mask, nullptr);
  sigaction(SIGINT, &caller_int, nullptr);
  sigaction(SIGQUIT, &caller_quit, nullptr);
  return result;
}

void EndByInterrupt(int interrupt) {
  std::fflush(nullptr);
  // The default action, whatever the agent inherited: a shell learns that
  // its child was interrupted only from a death by the signal.
  std::signal(interrupt, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, interrupt);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  if (g_interrupted_in_foreground) {
    // The terminal sent Ctrl+C to the command's group alone, which held the
    // foreground; without it, the signal would have reached the agent's
    // whole group, a shell script that runs the agent included. It does
    // now, the agent with it.
    kill(0, interrupt);
  } else {
    std::raise(interrupt);
  }
  std::_Exit(128 + interrupt);  // not reached
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

std::string EscapeInDoubleQuotes(const std::string& value) {
  // Between double quotes sh still expands $ and ` and treats \ as an escape.
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\\' || c == '$' || c == '`') escaped += '\\';
    escaped += c;
  }
  return escaped;
}
