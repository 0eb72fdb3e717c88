#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include "common/file.h"

const char kPathSeparator = '/';

namespace {

// Whether `path` names a directory, following symbolic links as the Windows
// search follows junctions.
bool IsDirectoryPath(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::vector<FileRecord> ListDirectory(const std::string& pattern) {
  std::vector<FileRecord> records;
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
    // Windows wildcards ignore case.
    if (fnmatch(name_pattern.c_str(), entry->d_name, FNM_CASEFOLD | FNM_NOESCAPE) != 0) {
      continue;
    }
    FileRecord record;
    record.cFileName = entry->d_name;
    bool is_directory = entry->d_type == DT_DIR;
    // stat only where readdir does not tell, or for a link to follow.
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      is_directory = IsDirectoryPath(dir + entry->d_name);
    }
    record.dwFileAttributes = is_directory ? kFileAttributeDirectory : 0;
    records.push_back(std::move(record));
  }
  closedir(stream);
  return records;
}
