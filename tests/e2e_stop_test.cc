// Stopping the agent: Ctrl+C, stop signals, and the agent's process ended
// from outside. The run ends at once with the closing lines where the agent
// can write them, and no worker runs on without it.
#include "tests/e2e.h"

namespace {

// r2 does as `plan` says; r1, older, would succeed.
std::function<void(Installation&)> NewestDoes(const std::string& plan) {
  return [plan](Installation& i) {
    i.Release("r2", plan);
    i.Release("r1");
  };
}

// The status of a Windows program that Ctrl+C ended (STATUS_CONTROL_C_EXIT).
const int kControlCExit = -1073741510;

std::vector<Case> InterruptCases() {
  std::vector<Case> cases;
  // Ctrl+C in a terminal sends SIGINT (Ctrl+\: SIGQUIT) to the whole
  // foreground job; the worker's interrupt= does the same to its own group.
  const struct {
    const char* label;
    int signal;
  } keys[] = {{"CtrlC", kSigint}, {"CtrlBackslash", kSigquit}};
  for (const auto& key : keys) {
    cases.push_back(
        {.name = std::string(key.label) + "StopsTheAgent",
         .platforms = kPosixOnly,
         .setup = NewestDoes("interrupt=" + std::to_string(key.signal)),
         .status = 128 + key.signal,
         .signal = key.signal,
         .log = {kStart, Running("r2"), Failed(128 + key.signal), kNone,
                 kClose},
         .received = {Received("r2")}});
  }
  cases.push_back({.name = "CtrlCAfterAnUpdateStopsTheAgent",
                   .platforms = kPosixOnly,
                   .setup =
                       [](Installation& i) {
                         i.Release("r1", "install=r2 exit=1\ninterrupt=2");
                         i.Release("r0");
                       },
                   .status = 128 + kSigint,
                   .signal = kSigint,
                   .log = {kStart, Running("r1"), kUpdated, Running("r2"),
                           Failed(128 + kSigint), kNone, kClose},
                   .received = {Received("r1"), Received("r2")}});
  // Not interruptions: the next release runs.
  cases.push_back({.name = "WorkerKilledBySigtermIsAFailure",
                   .platforms = kPosixOnly,
                   .setup = NewestDoes("kill=15"),
                   .status = 0,
                   .log = {kStart, Running("r2"), Failed(128 + kSigterm),
                           Running("r1"), kSuccess, kClose},
                   .received = {Received("r2"), Received("r1")},
                   .err = kAnything});  // sh says "Terminated"
  cases.push_back({.name = "WorkerExiting130IsAFailure",
                   .platforms = kPosixOnly,
                   .setup = NewestDoes("exit=130"),
                   .status = 0,
                   .log = {kStart, Running("r2"), Failed(130), Running("r1"),
                           kSuccess, kClose},
                   .received = {Received("r2"), Received("r1")}});
  // On Windows Ctrl+C reaches every process of the console; the agent
  // leaves it to the worker and learns of it from the worker's status.
  cases.push_back(
      {.name = "WorkerEndedByCtrlCStopsTheAgent",
       .platforms = kWindowsOnly,
       .setup = NewestDoes("exit=" + std::to_string(kControlCExit)),
       .status = kControlCExit,
       .log = {kStart, Running("r2"), Failed(kControlCExit), kNone, kClose},
       .received = {Received("r2")}});
  return cases;
}

VT_E2E_CASES(Interrupt, InterruptCases());

// The agent is stopped while a worker sleeps (or, below, before any worker
// starts). The harness checks every case for a worker left running.
std::vector<Case> StopCases() {
  const Messages stopped_by_sigterm = {kStart, Running("r2"),
                                       Failed(128 + kSigterm), kNone, kClose};
  std::vector<Case> cases = {
      // Task Scheduler's End, its time limit, taskkill /F: the agent cannot
      // write another line, but its worker ends with it.
      {.name = "TerminatedAgentTakesItsWorkerAlong",
       .platforms = kWindowsOnly,
       .setup = NewestDoes("sleep=120"),
       .action = Action::kTerminate,
       .status = 1,
       .log = {kStart, Running("r2")},
       .received = {Received("r2")}},
      // Its interpreter dies of the signal at once; the agent waits for the
      // worker itself to finish.
      {.name = "WorkerCleansUpBeforeTheAgentEnds",
       .platforms = kPosixOnly,
       .setup = NewestDoes("trap sleep=120"),
       .action = Action::kSigterm,
       .status = 128 + kSigterm,
       .signal = kSigterm,
       .log = stopped_by_sigterm,
       .received = {Received("r2"), "stopped by 15"}},
      {.name = "SigtermBeforeTheFirstWorkerRunsNone",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             i.LogIsAFifo();
           },
       .action = Action::kSigtermBeforeTheFirstWorker,
       .status = 128 + kSigterm,
       .signal = kSigterm,
       .log = {kStart, kNone, kClose}},
  };
  // kill, a hangup, a service manager's stop: the worker gets the signal,
  // and the agent ends by it.
  const struct {
    const char* name;
    Action action;
    int signal;
  } stops[] = {
      {"SigtermStopsTheWorkerAndTheAgent", Action::kSigterm, kSigterm},
      {"SighupStopsTheWorkerAndTheAgent", Action::kSighup, kSighup},
      {"SigtermToTheProcessGroupStopsTheWorkerAndTheAgent",
       Action::kSigtermToGroup, kSigterm},
  };
  for (const auto& stop : stops) {
    cases.push_back({.name = stop.name,
                     .platforms = kPosixOnly,
                     .setup = NewestDoes("sleep=120"),
                     .action = stop.action,
                     .status = 128 + stop.signal,
                     .signal = stop.signal,
                     .log = {kStart, Running("r2"), Failed(128 + stop.signal),
                             kNone, kClose},
                     .received = {Received("r2")}});
  }
  return cases;
}

VT_E2E_CASES(Stop, StopCases());

// At a terminal the worker has the terminal as it would without the agent;
// the agent runs from a shell script that then appends "after STATUS".
std::vector<Case> TerminalCases() {
  return {
      {.name = "WorkerReadsFromIt",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1", "read-line");
             i.RunAtTerminal("hello\n");
           },
       .status = 0,
       .log = {kStart, Running("r1"), kSuccess, kClose},
       .received = {Received("r1"), "read hello", "after 0"}},
      // The keypress reaches the worker's group, which has the terminal; the
      // agent passes it on to its own group, so that the script stops too,
      // as it would have without the agent taking the terminal.
      {.name = "CtrlCStopsTheWorkerTheAgentAndTheScript",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             NewestDoes("sleep=120")(i);
             i.RunAtTerminal();
           },
       .action = Action::kCtrlC,
       .status = 128 + kSigint,
       .log = {kStart, Running("r2"), Failed(128 + kSigint), kNone, kClose},
       .received = {Received("r2")}},
  };
}

VT_E2E_CASES(Terminal, TerminalCases());

}  // namespace
