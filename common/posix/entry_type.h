// How the POSIX listing tells a directory from the rest, apart so that it can
// be shown entry types that this machine's filesystems may never report.
#ifndef VT_COMMON_POSIX_ENTRY_TYPE_H_
#define VT_COMMON_POSIX_ENTRY_TYPE_H_

#include <string>

// Whether the entry `name` of the directory `dir` (empty for the working
// directory, else ending with '/') is a directory, given the type that
// readdir reported for it (DT_DIR, DT_UNKNOWN, ...). Some filesystems report
// no types at all (DT_UNKNOWN), and a symbolic link (DT_LNK) counts when it
// leads to a directory, as a junction does on Windows.
bool IsDirectoryEntry(const std::string& dir, const std::string& name,
                      unsigned char type);

#endif  // VT_COMMON_POSIX_ENTRY_TYPE_H_
