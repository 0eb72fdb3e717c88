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

// Runs one candidate with the current -config value, the log closed while it
// runs; logs and returns its exit status. Sets `interrupt` to the
// CommandResult's: nonzero when the user interrupted the worker and the agent
// with it (Ctrl+C on POSIX), and the agent must stop.
int RunWorker(const std::string& path, int& interrupt);

// The whole program: parses the flags, supervises the workers, returns the
// exit status (0 when a worker succeeded, 1 when none did). After an
// interrupted worker it writes the closing lines and ends by the same
// signal instead of returning.
int AgentMain(int argc, char** argv);

#endif  // VT_AGENT_VT_AGENT_H_
