#include "common/file.h"

#include <algorithm>
#include <filesystem>

#ifndef _WIN32
#include <dirent.h>

#include "entry_type.h"
#endif

#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using FileTest = ScratchDirTest;

std::vector<std::string> Names(const FileRecords& records) {
  std::vector<std::string> names;
  for (const FileRecord& record : records) names.push_back(record.cFileName);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(FileTest, ListsEntriesMatchingTheWildcardWithoutRegardToCase) {
  fs::create_directories("bin/r1");
  fs::create_directories("bin/R2");
  fs::create_directories("bin/x3");
  fs::create_directories("bin/release");
  WriteFile("bin/r3.txt", "");
  WriteFile("bin/notes", "");

  EXPECT_EQ(Names(ListDirectory(Native("bin/r*"))),
            (std::vector<std::string>{"R2", "r1", "r3.txt", "release"}));
  EXPECT_EQ(Names(ListSubdirectories(Native("bin/r*"))),
            (std::vector<std::string>{"R2", "r1", "release"}));
  EXPECT_EQ(Names(ListDirectory(Native("bin/r?"))),
            (std::vector<std::string>{"R2", "r1"}));
}

TEST_F(FileTest, WildcardsAreWindowsWildcards) {
  for (const char* name : {"r1", "R22", "r1a1", "x1", "[r]1", "r"}) {
    fs::create_directories(std::string("d/") + name);
  }
  const struct {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"r*", {"R22", "r", "r1", "r1a1"}},
      {"R?", {"r1"}},
      {"*1", {"[r]1", "r1", "r1a1", "x1"}},
      {"r*1", {"r1", "r1a1"}},
      {"r*a*", {"r1a1"}},
      {"[r]*", {"[r]1"}},  // brackets are plain characters
      {"r1a1", {"r1a1"}},
      {"q*", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Names(ListDirectory(Native(std::string("d/") + c.pattern))),
              c.names)
        << c.pattern;
  }
}

TEST_F(FileTest, MarksDirectoriesOnly) {
  fs::create_directories("bin/r1");
  WriteFile("bin/r2", "");
  FileRecords records = ListDirectory(Native("bin/r*"));
  ASSERT_EQ(records.size(), 2u);
  for (const FileRecord& record : records) {
    bool is_dir = (record.dwFileAttributes & kFileAttributeDirectory) != 0;
    EXPECT_EQ(is_dir, std::string(record.cFileName) == "r1")
        << record.cFileName;
  }
}

TEST_F(FileTest, NothingMatchingOrNoDirectoryGivesAnEmptyList) {
  EXPECT_TRUE(ListDirectory(Native("bin/r*")).empty());
  fs::create_directories("bin");
  EXPECT_TRUE(ListDirectory(Native("bin/r*")).empty());
  WriteFile("bin/a", "");
  EXPECT_TRUE(ListSubdirectories(Native("bin/r*")).empty());
}

TEST_F(FileTest, PatternWithoutDirectorySearchesTheWorkingDirectory) {
  fs::create_directories("r1");
  EXPECT_EQ(Names(ListSubdirectories("r*")), (std::vector<std::string>{"r1"}));
}

#ifndef _WIN32

TEST_F(FileTest, SymbolicLinksToDirectoriesCountAsDirectories) {
  fs::create_directories("real/r0");
  fs::create_directories("bin");
  WriteFile("bin/file", "");
  fs::create_directory_symlink("../real/r0", "bin/r1");  // to a directory
  fs::create_symlink("file", "bin/r2");                  // to a file
  fs::create_symlink("missing", "bin/r3");               // dangling
  FileRecords dirs = ListSubdirectories("bin/r*");
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_EQ(dirs[0].cFileName, "r1");
}

// Some filesystems (XFS without ftype, some network and FUSE ones) report
// every type as unknown; their releases must not vanish.
TEST_F(FileTest, EntryTypesThatReaddirDoesNotTellAreLookedUp) {
  fs::create_directories("d/dir");
  WriteFile("d/file", "");
  fs::create_directory_symlink("dir", "d/to-dir");
  fs::create_symlink("file", "d/to-file");
  const struct {
    const char* name;
    unsigned char type;
    bool directory;
  } cases[] = {
      {"dir", DT_DIR, true},          {"file", DT_REG, false},
      {"dir", DT_UNKNOWN, true},      {"file", DT_UNKNOWN, false},
      {"missing", DT_UNKNOWN, false}, {"to-dir", DT_LNK, true},
      {"to-file", DT_LNK, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsDirectoryEntry("d/", c.name, c.type), c.directory)
        << c.name << " of type " << int{c.type};
  }
  fs::current_path("d");
  EXPECT_TRUE(IsDirectoryEntry("", "dir", DT_UNKNOWN));
}

#endif

}  // namespace
