// The log and standard output: where the lines go when the log cannot be
// written, what the worker may do to the log meanwhile, and the order of the
// agent's lines and the worker's output.
#include <filesystem>

#include "tests/e2e.h"

namespace fs = std::filesystem;

namespace {

// "2026/12/09 14:03:27(vt-agent.exe) starting vt-agent.\n" is 53 bytes: with
// this line and its line feed, the agent's first line fills a 512-byte
// block exactly.
const std::string kFill(512 - 1 - 53, 'x');

std::vector<Case> LogCases() {
  return {
      {.name = "WithoutLogDirectoryLinesGoToStandardOutput",
       .setup =
           [](Installation& i) {
             i.Release("r1", "exit=6");
             fs::remove("inst/log");
           },
       .status = 1,
       .received = {Received("r1")},
       .out = {kStart, Running("r1"), Failed(6), kNone, kClose}},
      {.name = "LogDirectoryReadOnly",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             i.RunUnprivileged();
             fs::permissions("inst/log",
                             fs::perms::owner_read | fs::perms::owner_exec);
           },
       .status = 0,
       .received = {Received("r1")},
       .out = {kStart, Running("r1"), kSuccess, kClose}},
      {.name = "LogFileReadOnly",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             WriteFile("inst/log/vt-agent.log", "old line" + TextLineEnd());
             i.RunUnprivileged();
             fs::permissions("inst/log/vt-agent.log", fs::perms::owner_read);
           },
       .status = 0,
       .log = {"| old line"},
       .received = {Received("r1")},
       .out = {kStart, Running("r1"), kSuccess, kClose}},
      {.name = "LogFileIsADirectory",
       .setup =
           [](Installation& i) {
             i.Release("r1");
             fs::create_directories("inst/log/vt-agent.log");
           },
       .status = 0,
       .received = {Received("r1")},
       .out = {kStart, Running("r1"), kSuccess, kClose}},
      {.name = "DiskFullAtTheFirstLine",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             fs::create_symlink("/dev/full", "inst/log/vt-agent.log");
           },
       .status = 0,
       .received = {Received("r1")},
       .out = {kStart, Running("r1"), kSuccess, kClose}},
      {.name = "DiskFullInTheMiddleOfARun",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             // Room for exactly the first line.
             WriteFile("inst/log/vt-agent.log", kFill + "\n");
             i.LimitFileSize(1);
           },
       .status = 0,
       .log = {"| " + kFill, kStart},
       .received = {Received("r1")},
       .out = {Running("r1"), kSuccess, kClose}},
      {.name = "IsAppendedAndKeepsWhatTheWorkerWrote",
       .setup =
           [](Installation& i) {
             i.Release("r1", "log=worker-was-here");
             WriteFile("inst/log/vt-agent.log", "old line" + TextLineEnd());
           },
       .status = 0,
       .log = {"| old line", kStart, Running("r1"), "| worker-was-here",
               kSuccess, kClose},
       .received = {Received("r1")}},
      {.name = "IsClosedWhileTheWorkerRuns",
       .setup = [](Installation& i) { i.Release("r1", "if-log-open=9"); },
       .status = 0,
       .log = {kStart, Running("r1"), kSuccess, kClose},
       .received = {Received("r1")}},
      {.name = "WorkerRotatesTheLogAndTheAgentStartsANewOne",
       .setup =
           [](Installation& i) {
             i.Release("r1", "rotate=old.log log=rotated");
           },
       .status = 0,
       .log = {"| rotated", kSuccess, kClose},
       .received = {Received("r1")}},
      {.name = "LogDirectoryMadeDuringTheRunIsUsedFromThenOn",
       .setup =
           [](Installation& i) {
             i.Release("r2", "mkdir=log exit=3");
             i.Release("r1");
             fs::remove("inst/log");
           },
       .status = 0,
       .log = {Failed(3), Running("r1"), kSuccess, kClose},
       .received = {Received("r2"), Received("r1")},
       .out = {kStart, Running("r2")}},
  };
}

VT_E2E_CASES(Log, LogCases());

std::vector<Case> StandardOutputCases() {
  return {
      {.name = "IsAClosedPipe",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             // Killed by SIGPIPE, as a worker must be free to be.
             i.Release("r2", "print=nobody-reads-this");
             i.Release("r1");
             fs::remove("inst/log");
             i.OutputToClosedPipe();
           },
       .status = 0,
       .received = {Received("r2"), Received("r1")}},
      {.name = "WorkerOutputFollowsTheAgentsLinesInAFile",
       .setup =
           [](Installation& i) {
             i.Release("r2", "print=second exit=3");
             i.Release("r1", "print=fourth");
             fs::remove("inst/log");
           },
       .status = 0,
       .received = {Received("r2"), Received("r1")},
       .out = {kStart, Running("r2"), "| second", Failed(3), Running("r1"),
               "| fourth", kSuccess, kClose}},
      {.name = "WorkerOutputFollowsTheAgentsLinesInAPipe",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r2", "print=second exit=3");
             i.Release("r1", "print=fourth");
             fs::remove("inst/log");
             i.OutputThroughPipe();
           },
       .status = 0,
       .received = {Received("r2"), Received("r1")},
       .out = {kStart, Running("r2"), "| second", Failed(3), Running("r1"),
               "| fourth", kSuccess, kClose}},
  };
}

VT_E2E_CASES(StandardOutput, StandardOutputCases());

}  // namespace
