// vt-agent: runs the newest installed release of the worker, falls back to
// older ones when it fails, and rescans when a worker updated the binaries.
#ifndef VT_AGENT_VT_AGENT_H_
#define VT_AGENT_VT_AGENT_H_

#include <string>
#include <vector>

// The name that every log line carries, on every platform.
extern const char kProgramName[];
// Directories relative to the working directory, ending with a separator.
extern const std::string kLogDir;
extern const std::string kBinDir;
extern const char kUsage[];

// Worker paths, the one to run first at the front.
using CandidateList = std::vector<std::string>;

// Appends bin/<dir>/worker.exe for every directory under bin/ whose name
// begins with r or R, then orders the whole list: descending by the bytes
// of the path, the separator weighed as a backslash (so the order is the
// same on every platform, and textual, never numeric).
void FindWorkers(CandidateList& list);

// Whether path `a` sorts before path `b` in the ascending order that
// FindWorkers reverses.
bool PathLess(const std::string& a, const std::string& b);

// Puts `list` in FindWorkers' order: descending by PathLess.
void OrderCandidates(CandidateList& list);

// The interpreter command line that runs the worker at `path` with the
// configuration path `config`.
std::string WorkerCommandLine(const std::string& path,
                              const std::string& config);

// How one worker run ended, and what it means to the supervision loop.
struct WorkerRun {
  enum Verdict {
    kSucceeded,  // status 0: the agent is done
    kUpdated,    // status 1: the worker updated the binaries; scan again
    kFailed,     // any other status: try the next older release
  };
  int status = -1;  // as the interpreter returned it
  Verdict verdict = kFailed;
  // Nonzero when the agent was stopped while the worker ran (Ctrl+C; on
  // POSIX also SIGTERM or SIGHUP): no further release runs, and the agent
  // ends with EndByInterrupt(interrupt) once its closing lines are written.
  int interrupt = 0;
};

// What a worker's exit status means; the one place that decides it.
WorkerRun::Verdict VerdictOf(int status);

// Runs one candidate with the current -config value, the log closed while it
// runs, and logs how it ended.
WorkerRun RunWorker(const std::string& path);

// The whole program: parses the flags, supervises the workers, returns the
// exit status (0 when a worker succeeded, 1 when none did). When the run
// was stopped (Ctrl+C, a stop signal) it writes the closing lines and ends
// as an interrupted program instead of returning.
int AgentMain(int argc, char** argv);

#endif  // VT_AGENT_VT_AGENT_H_
