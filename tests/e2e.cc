#include "tests/e2e.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "common/process.h"

namespace fs = std::filesystem;

const char kStart[] = "starting vt-agent.";
const char kClose[] = "closing vt-agent.";
const char kNone[] = "error: no worker.exe binary ran successfully.";
const char kSuccess[] = "worker.exe ran successfully.";
const char kUpdated[] = "worker.exe updated binaries.";
const char kAnything[] = "*";

namespace {

// Far from UTC, so that a stamp in UTC, or in this machine's own zone, shows.
const char kZone[] = "VTT-13";  // 13 hours ahead of UTC, no daylight saving
const int kZoneOffset = 13 * 3600;

// How long one run of the agent may take, and a worker to start: a 32-bit
// start may take a minute where i386 programs run under emulation.
const int kRunSeconds = 600;
// How soon a worker must end once the agent has.
const int kWorkerEndSeconds = 15;

// The local time in kZone at `when`, as a log line stamps it.
std::string ZoneStamp(std::time_t when) {
  when += kZoneOffset;
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", std::gmtime(&when));
  return stamp;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool OutputMatches(const Messages& expected, const std::string& out,
                   const Outcome& run) {
  return expected == Messages{kAnything} || MessagesOf(out, run) == expected;
}

bool ErrorMatches(const std::string& expected, const std::string& err) {
  if (expected == kAnything) return true;
  return expected.empty() ? err.empty()
                          : err.find(expected) != std::string::npos;
}

// Waits until `done` holds or `program` has ended; whether `done` held.
template <typename Predicate>
bool WaitUntil(Predicate done, const Started& program) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
  while (!done()) {
    if (EndsWithin(program.id, 0) ||
        std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

void Installation::Release(const std::string& name, const std::string& plan) {
  fs::create_directories("inst/bin/" + name);
  fs::copy_file(VT_WORKER_BINARY, "inst/bin/" + name + "/worker.exe");
  if (!plan.empty()) WriteFile("inst/bin/" + name + "/plan.txt", plan);
}

void Installation::RunUnprivileged() { wrapper_ += Unprivileged("inst"); }

void Installation::LimitFileSize(int blocks) {
  shell_ += "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; ";
}

void Installation::OutputThroughPipe() { output_ = kPipe; }

void Installation::OutputToClosedPipe() { output_ = kClosedPipe; }

void Installation::RunAtTerminal(const std::string& typed) {
  at_terminal_ = true;
  typed_ = typed;
}

void Installation::LogIsAFifo() {
  fifo_log_ = true;
  RunCommandLine("mkfifo inst/log/vt-agent.log");
}

void Installation::ParentIgnoresSigchld() {
  wrapper_ += "env --ignore-signal=CHLD ";
}

void Installation::SetUp() {
  ScratchDirTest::SetUp();
  if (const char* zone = std::getenv("TZ")) zone_ = zone;
  SetEnvironment("TZ", kZone);
  NewInstallation();
}

void Installation::TearDown() {
  SetEnvironment("FLAGS_config", "");
  SetEnvironment("TZ", zone_);
  ScratchDirTest::TearDown();
}

void Installation::NewInstallation() {
  fs::remove_all("inst");
  SetEnvironment("FLAGS_config", "");
  shell_.clear();
  wrapper_.clear();
  output_ = kFile;
  at_terminal_ = false;
  typed_.clear();
  fifo_log_ = false;
  fs::create_directories("inst/log");
  fs::copy_file(AgentBinary(VT_AGENT_BINARY), "inst/vt-agent.exe");
}

Outcome Installation::Run(const std::string& args, Action action) {
  // The agent never started (it exits 0 or 1), so nothing has changed: it
  // may start again in the same installation.
  return RetryFailedStarts(
      args, [&] { return RunOnce(args, action); },
      [](const Outcome& outcome) { return StartFailed(outcome.status); });
}

Ended Installation::RunAndAct(const std::string& command_line, Action action,
                              std::string& fifo_log) {
  // Typed keys reach the terminal through a FIFO that stays open until the
  // agent has ended: at its end of input, script(1) would end the session.
  std::ofstream keys;
  std::string in;
  if (at_terminal_) {
    RunCommandLine("mkfifo ../typed");
    in = "../typed";
  }
  Started agent =
      StartRedirected(command_line, "../stdout.txt", "../stderr.txt", in);
  if (at_terminal_) {
    keys.open("../typed", std::ios::binary);
    keys << typed_ << std::flush;
  }
  auto worker_sleeps = [] { return fs::exists("worker.pid"); };
  switch (action) {
    case Action::kNone:
      break;
    case Action::kTerminate:
      if (WaitUntil(worker_sleeps, agent)) Terminate(agent);
      break;
    case Action::kSigterm:
    case Action::kSighup:
    case Action::kSigtermToGroup:
      if (WaitUntil(worker_sleeps, agent)) {
        SendSignal(agent, action == Action::kSighup ? kSighup : kSigterm,
                   action == Action::kSigtermToGroup);
      }
      break;
    case Action::kSigtermBeforeTheFirstWorker:
      if (WaitUntil([&] { return CatchesSignal(agent.id, kSigterm); }, agent)) {
        SendSignal(agent, kSigterm, false);
      }
      break;
    case Action::kCtrlC:
      if (WaitUntil(worker_sleeps, agent)) keys << '\x03' << std::flush;
      break;
  }
  if (fifo_log_) {
    // The agent opens its log only once a reader has: it waits until now.
    fifo_log = ReadFifo("log/vt-agent.log", agent);
  }
  return WaitFor(agent, kRunSeconds);
}

Outcome Installation::RunOnce(const std::string& args, Action action) {
  fs::current_path("inst");
  std::string agent = wrapper_ + Native("./vt-agent.exe") + " " + args;
  if (at_terminal_) {
    agent = "script -qefc " +
            QuoteArgument("sh -c " + QuoteArgument(agent + "; echo after $? >> "
                                                           "runs.txt")) +
            " /dev/null";
  }
  Outcome outcome;
  for (const char* file :
       {"../stdout.txt", "../status", "../gone", "../typed"}) {
    fs::remove(file);
  }
  outcome.earliest = ZoneStamp(std::time(nullptr));
  std::string fifo_log;
  if (output_ == kFile) {
    // The shell becomes the agent, so that its end is the agent's own.
    const Ended ended =
        RunAndAct(shell_ + (kWindows ? "" : "exec ") + agent, action, fifo_log);
    outcome.status = ended.status;
    outcome.signal = ended.signal;
  } else {
    // A closed pipe: its reader closes its end, then lets the agent start.
    const bool closed = output_ == kClosedPipe;
    RunCommandLine(
        std::string("{ ") +
        (closed ? "until [ -e ../gone ]; do sleep 0.01; done; " : "") + shell_ +
        agent + " 2> ../stderr.txt; echo $? > ../status; } | " +
        (closed ? "{ exec 0<&-; : > ../gone; }" : "cat > ../stdout.txt"));
    outcome.status = std::stoi("0" + ReadFile("../status"));
  }
  outcome.latest = ZoneStamp(std::time(nullptr));
  fs::current_path("..");
  // A terminal's screen echoes what was typed.
  if (!at_terminal_) outcome.out = ReadFile("stdout.txt");
  outcome.err = ReadFile("stderr.txt");
  // Only a regular file: the log may be a device that reads forever.
  const fs::path log = "inst/log/vt-agent.log";
  if (fs::is_regular_file(log)) outcome.log = ReadFile(log);
  if (fifo_log_) outcome.log = fifo_log;
  outcome.received = ReadFile("inst/runs.txt");
  // No worker may run on once the agent has ended, however it ended.
  const std::string pid = ReadFile("inst/worker.pid");
  if (!pid.empty()) {
    const long id = std::stol(pid);
    outcome.worker_outlived_the_agent = !EndsWithin(id, kWorkerEndSeconds);
    if (outcome.worker_outlived_the_agent) Kill(id);
  }
  return outcome;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> OnThisPlatform(std::vector<Case> table) {
  std::vector<Case> cases;
  for (Case& c : table) {
    if (c.platforms == kBoth || (c.platforms == kWindowsOnly) == kWindows) {
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

Messages MessagesOf(const std::string& text, const Outcome& run) {
  // Matched on the prefix alone: std::regex recurses per character, and
  // lines may be long.
  static const std::regex prefix(
      R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\(vt-agent\.exe\) )");
  static const std::size_t kPrefixSize = 34;
  static const std::size_t kStampSize = 19;
  Messages messages;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find(TextLineEnd(), start);
    if (end == std::string::npos) {
      messages.push_back("unterminated: " + text.substr(start));
      break;
    }
    std::string one = text.substr(start, end - start);
    start = end + TextLineEnd().size();
    if (!std::regex_match(one.substr(0, kPrefixSize), prefix)) {
      messages.push_back("| " + one);
      continue;
    }
    // The stamps sort as the times do.
    const std::string stamp = one.substr(0, kStampSize);
    const bool in_time = run.earliest <= stamp && stamp <= run.latest;
    messages.push_back(
        (in_time ? "" : "stamped " + stamp + ", not " + run.earliest + ": ") +
        one.substr(kPrefixSize));
  }
  return messages;
}

std::string Running(const std::string& release, const std::string& shown) {
  return "Running: " + Native("bin/" + release + "/worker.exe") +
         " -config=\"" + shown + "\"";
}

std::string Received(const std::string& release, const std::string& config) {
  return Native("bin/" + release + "/worker.exe") + "\t-config=" + config;
}

std::string Failed(int status) {
  return "worker.exe failed with return code: " + std::to_string(status) + ".";
}

namespace {

// Whether the agent reports a worker that could not be started.
bool WorkerStartFailed(const Outcome& outcome) {
  for (const std::string* text : {&outcome.log, &outcome.out}) {
    for (int status : {-1, 9009}) {
      if (StartFailed(status) &&
          text->find(Failed(status)) != std::string::npos) {
        return true;
      }
    }
  }
  return false;
}

bool Matches(const Case& c, const Outcome& outcome) {
  return outcome.status == c.status && outcome.signal == c.signal &&
         MessagesOf(outcome.log, outcome) == c.log &&
         Lines(outcome.received) == c.received &&
         OutputMatches(c.out, outcome.out, outcome) &&
         ErrorMatches(c.err, outcome.err) && !outcome.worker_outlived_the_agent;
}

}  // namespace

TEST_P(AgentTest, Runs) {
  const Case& c = GetParam();
  // A worker that never started: the case runs again, in a new
  // installation.
  Outcome outcome = RetryFailedStarts(
      c.name,
      [&] {
        NewInstallation();
        if (c.setup) c.setup(*this);
        return Run(c.args, c.action);
      },
      [&](const Outcome& result) {
        return !Matches(c, result) && WorkerStartFailed(result);
      });
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.signal, c.signal);
  EXPECT_EQ(MessagesOf(outcome.log, outcome), c.log);
  EXPECT_EQ(Lines(outcome.received), c.received);
  if (!OutputMatches(c.out, outcome.out, outcome)) {
    EXPECT_EQ(MessagesOf(outcome.out, outcome), c.out);
  }
  EXPECT_TRUE(ErrorMatches(c.err, outcome.err))
      << "expected " << (c.err.empty() ? "nothing" : c.err)
      << " in: " << outcome.err;
  EXPECT_FALSE(outcome.worker_outlived_the_agent)
      << "a worker was still running " << kWorkerEndSeconds
      << " seconds after the agent had ended";
  // Nothing ran that the installation and the caller did not ask for.
  EXPECT_FALSE(fs::exists("inst/pwned"));
}
