// The POSIX stand-in for the Windows search record: the fields the agent
// reads, under the same names, so that callers read them alike everywhere.
#ifndef VT_COMMON_POSIX_FILE_RECORD_H_
#define VT_COMMON_POSIX_FILE_RECORD_H_

#include <string>

struct FileRecord {
  unsigned long dwFileAttributes = 0;  // kFileAttributeDirectory or 0
  std::string cFileName;
};

#endif  // VT_COMMON_POSIX_FILE_RECORD_H_
