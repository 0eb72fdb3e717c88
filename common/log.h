// The agent log: one timestamped line per event, appended to a file that is
// open only between OpenLog and CloseLog, with standard output as fallback.
#ifndef VT_COMMON_LOG_H_
#define VT_COMMON_LOG_H_

#include <ctime>
#include <string>

// Records `name` for every later line and opens dir + separator +
// "vt-agent.log" for appending. A failure to open is silent: the lines of
// this open period go to standard output. The directory is never created.
void OpenLog(const std::string& name, const std::string& dir);

// Writes one line: the local time, "(", the recorded name, ") ", `message`.
// A line that cannot be written to the file goes to standard output, and so
// does every later line until the next OpenLog.
void Log(const std::string& message);

// Closes the file and forgets the name.
void CloseLog();

// The line that Log writes for `message` at local time `when`, line feed
// included.
std::string FormatLogLine(const std::tm& when, const std::string& name,
                          const std::string& message);

#endif  // VT_COMMON_LOG_H_
