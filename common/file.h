// Directory listing: the platform's wildcard search over one directory.
#ifndef VT_COMMON_FILE_H_
#define VT_COMMON_FILE_H_

#include <deque>
#include <string>

#include "file_record.h"  // FileRecord: the platform's own entry record

// The platform's path separator: '\' on Windows, '/' on POSIX.
extern const char kPathSeparator;

// A listing. A deque grows without moving what it holds, so a large
// directory costs its records once, not the copies of a growing array.
using FileRecords = std::deque<FileRecord>;

// The attribute bit that marks a directory in FileRecord::dwFileAttributes.
constexpr unsigned long kFileAttributeDirectory = 0x10;

// Every entry that the wildcard search reports for `pattern` (a directory,
// a separator, then a name pattern with * and ?, matched without regard to
// case), in the order the search reports them. Empty when nothing matches or
// the directory cannot be read.
FileRecords ListDirectory(const std::string& pattern);

// Those entries of ListDirectory(pattern) that are directories, in order.
FileRecords ListSubdirectories(const std::string& pattern);

#endif  // VT_COMMON_FILE_H_
