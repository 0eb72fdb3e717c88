#include "common/file.h"

const char kPathSeparator = '\\';

FileRecords ListDirectory(const std::string& pattern) {
  FileRecords records;
  WIN32_FIND_DATAA record;
  HANDLE search = FindFirstFileA(pattern.c_str(), &record);
  if (search == INVALID_HANDLE_VALUE) return records;
  // Any failure of FindNextFileA ends the listing; what was found stands.
  do {
    records.push_back(record);
  } while (FindNextFileA(search, &record));
  FindClose(search);
  return records;
}
