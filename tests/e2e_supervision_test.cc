// Supervision: the newest release runs first, older ones when it fails, a
// fresh scan when a worker updated the binaries, and the exit status.
#include "tests/e2e.h"

namespace {

// A single release r1 with the given plan (by default: it succeeds).
std::function<void(Installation&)> OneRelease(const std::string& plan = "") {
  return [plan](Installation& i) { i.Release("r1", plan); };
}

std::vector<Case> SupervisionCases() {
  return {
      // What the agent is for.
      {.name = "OneReleaseSucceeds",
       .setup = OneRelease(),
       .status = 0,
       .log = {kStart, Running("r1"), kSuccess, kClose},
       .received = {Received("r1")}},
      {.name = "NewestFailsOlderSucceeds",
       .setup =
           [](Installation& i) {
             i.Release("r1");
             i.Release("r2", "exit=3");
           },
       .status = 0,
       .log = {kStart, Running("r2"), Failed(3), Running("r1"), kSuccess,
               kClose},
       .received = {Received("r2"), Received("r1")}},
      {.name = "AllFail",
       .setup =
           [](Installation& i) {
             i.Release("r1", "exit=2");
             i.Release("r2", "exit=255");
           },
       .status = 1,
       .log = {kStart, Running("r2"), Failed(255), Running("r1"), Failed(2),
               kNone, kClose},
       .received = {Received("r2"), Received("r1")}},
      {.name = "OrderIsTextualNotNumeric",
       .setup =
           [](Installation& i) {
             i.Release("r9", "exit=4");
             i.Release("r10");
           },
       .status = 0,
       .log = {kStart, Running("r9"), Failed(4), Running("r10"), kSuccess,
               kClose},
       .received = {Received("r9"), Received("r10")}},
      {.name = "ArgumentsThatAreNotFlagsAreIgnored",
       .setup = OneRelease(),
       .args = "extra words",
       .status = 0,
       .log = {kStart, Running("r1"), kSuccess, kClose},
       .received = {Received("r1")}},

      // The worker's statuses.
      {.name = "StatusesAreTheWorkersOwn",
       .setup =
           [](Installation& i) {
             i.Release("r3", "exit=-1");
             i.Release("r2", "exit=1000");
             i.Release("r1", "exit=42");
           },
       .status = 1,
       // A status is eight bits on POSIX: -1 arrives as 255, 1000 as 232.
       .log = {kStart, Running("r3"), Failed(kWindows ? -1 : 255),
               Running("r2"), Failed(kWindows ? 1000 : 232), Running("r1"),
               Failed(42), kNone, kClose},
       .received = {Received("r3"), Received("r2"), Received("r1")}},
      {.name = "Status256IsZeroOnPosix",
       .platforms = kPosixOnly,
       .setup = OneRelease("exit=256"),
       .status = 0,
       .log = {kStart, Running("r1"), kSuccess, kClose},
       .received = {Received("r1")}},
      {.name = "Status256IsAFailureOnWindows",
       .platforms = kWindowsOnly,
       .setup = OneRelease("exit=256"),
       .status = 1,
       .log = {kStart, Running("r1"), Failed(256), kNone, kClose},
       .received = {Received("r1")}},
      {.name = "WorkerKilledBySignal",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r2", "kill=9");
             i.Release("r1", "kill=15");
           },
       .status = 1,
       .log = {kStart, Running("r2"), Failed(128 + 9), Running("r1"),
               Failed(128 + 15), kNone, kClose},
       .received = {Received("r2"), Received("r1")},
       .err = kAnything},
      // A crash is a failed candidate. (On Windows no dialog waits for a
      // click first; Wine passes the error mode that spares it on to no
      // child, and runs its debugger instead, which writes to standard
      // output.)
      {.name = "CrashingWorkerIsAFailure",
       .platforms = kWindowsOnly,
       .setup =
           [](Installation& i) {
             i.Release("r2", "crash");
             i.Release("r1");
           },
       .status = 0,
       .log = {kStart, Running("r2"), Failed(-1073741819), Running("r1"),
               kSuccess, kClose},
       .received = {Received("r2"), Received("r1")},
       .out = {kAnything},
       .err = kAnything},
      // With SIGCHLD ignored, system() finds no status to collect: -1.
      {.name = "ParentIgnoringSigchldChangesNothing",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r2");
             i.Release("r1");
             i.ParentIgnoresSigchld();
           },
       .status = 0,
       .log = {kStart, Running("r2"), kSuccess, kClose},
       .received = {Received("r2")}},

      // Updates.
      {.name = "UpdateRescansRunsTheNewReleaseThenFallsBack",
       .setup =
           [](Installation& i) {
             i.Release("r1", "install=r2 exit=1\nexit=7");
             i.Release("r0");
           },
       .status = 0,
       .log = {kStart, Running("r1"), kUpdated, Running("r2"), Failed(7),
               Running("r1"), Failed(7), Running("r0"), kSuccess, kClose},
       .received = {Received("r1"), Received("r2"), Received("r1"),
                    Received("r0")}},
      {.name = "UpdateWithoutNewReleaseStartsOverAtTheNewest",
       .setup =
           [](Installation& i) {
             i.Release("r2", "exit=1\nexit=0");
             i.Release("r1");
           },
       .status = 0,
       .log = {kStart, Running("r2"), kUpdated, Running("r2"), kSuccess,
               kClose},
       .received = {Received("r2"), Received("r2")}},
      {.name = "FollowsAChainOfUpdates",
       .setup = OneRelease(
           "install=+ exit=1\ninstall=+ exit=1\ninstall=+ exit=1\nexit=0"),
       .status = 0,
       .log = {kStart, Running("r1"), kUpdated, Running("r2"), kUpdated,
               Running("r3"), kUpdated, Running("r4"), kSuccess, kClose},
       .received = {Received("r1"), Received("r2"), Received("r3"),
                    Received("r4")}},
      {.name = "ReleaseRemovedBetweenScansIsNotRun",
       .setup =
           [](Installation& i) {
             i.Release("r3", "remove=r2 exit=1\nexit=4");
             i.Release("r2");
             i.Release("r1");
           },
       .status = 0,
       .log = {kStart, Running("r3"), kUpdated, Running("r3"), Failed(4),
               Running("r1"), kSuccess, kClose},
       .received = {Received("r3"), Received("r3"), Received("r1")}},
  };
}

VT_E2E_CASES(Supervision, SupervisionCases());

}  // namespace
