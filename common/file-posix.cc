#include <dirent.h>
#include <sys/stat.h>

#include "common/file.h"
#include "entry_type.h"

const char kPathSeparator = '/';

namespace {

// The Windows wildcard: * matches any run of bytes, ? any one byte, and
// letters match without regard to case. There are no character classes and
// no escapes.
bool WildcardMatch(const char* pattern, const char* name) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  const char* star = nullptr;  // the last * seen, to retry after
  const char* retry = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      retry = name;
    } else if (*pattern != '\0' &&
               (*pattern == '?' || fold(*pattern) == fold(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      // Let the last * take one byte more.
      pattern = star + 1;
      name = ++retry;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

}  // namespace

bool IsDirectoryEntry(const std::string& dir, const std::string& name,
                      unsigned char type) {
  if (type != DT_UNKNOWN && type != DT_LNK) return type == DT_DIR;
  // Where readdir does not tell, or for a link to follow: stat follows links.
  struct stat info;
  return stat((dir + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

FileRecords ListDirectory(const std::string& pattern) {
  FileRecords records;
  std::string::size_type slash = pattern.rfind('/');
  std::string dir =
      slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  std::string name_pattern =
      slash == std::string::npos ? pattern : pattern.substr(slash + 1);

  DIR* stream = opendir(dir.empty() ? "." : dir.c_str());
  if (stream == nullptr) return records;
  // A read error ends the listing as the end of the directory does: what was
  // found stands.
  while (const struct dirent* entry = readdir(stream)) {
    if (!WildcardMatch(name_pattern.c_str(), entry->d_name)) continue;
    FileRecord record;
    record.cFileName = entry->d_name;
    record.dwFileAttributes =
        IsDirectoryEntry(dir, record.cFileName, entry->d_type)
            ? kFileAttributeDirectory
            : 0;
    records.push_back(std::move(record));
  }
  closedir(stream);
  return records;
}
