#include "common/log.h"

#include <cstdio>
#include <fstream>
#include <memory>

#include "common/file.h"

namespace {

struct LogState {
  std::string name;
  std::ofstream stream;
};

// Present between OpenLog and CloseLog.
std::unique_ptr<LogState> g_log;

}  // namespace

void OpenLog(const std::string& name, const std::string& dir) {
  g_log = std::make_unique<LogState>();
  g_log->name = name;
  // Unbuffered, so a line that fails to reach the file leaves nothing behind
  // that a later flush or the close could still write.
  g_log->stream.rdbuf()->pubsetbuf(nullptr, 0);
  // Text mode: lines end with CR LF on Windows.
  g_log->stream.open(dir + kPathSeparator + "vt-agent.log", std::ios::app);
}

void Log(const std::string& message) {
  std::time_t now = std::time(nullptr);
  std::tm when{};
  if (const std::tm* local = std::localtime(&now)) when = *local;
  std::string line =
      FormatLogLine(when, g_log ? g_log->name : std::string(), message);

  if (g_log && g_log->stream.is_open() && g_log->stream.good()) {
    g_log->stream.write(line.data(), static_cast<std::streamsize>(line.size()));
    g_log->stream.flush();
    if (g_log->stream.good()) return;
    // The file failed (disk full, I/O error). The stream keeps its error
    // state, so this line and the rest of the period go to standard output
    // rather than being lost.
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void CloseLog() { g_log.reset(); }

std::string FormatLogLine(const std::tm& when, const std::string& name,
                          const std::string& message) {
  char stamp[32];
  std::size_t length =
      std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &when);
  std::string line(stamp, length);
  line += '(';
  line += name;
  line += ") ";
  line += message;
  line += '\n';
  return line;
}
