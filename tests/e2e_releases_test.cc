// Releases and bin/: what counts as a release, what a broken bin/ or release
// does, and names that the interpreter reads as command text.
#include <cstdio>
#include <filesystem>

#include "tests/e2e.h"

namespace fs = std::filesystem;

namespace {

// Sorts above every r000000..r099999.
const char kNewest[] = "r100000";

std::vector<Case> BinCases() {
  const Messages nothing_runs = {kStart, kNone, kClose};
  return {
      {.name = "NoBinRunsNothing", .status = 1, .log = nothing_runs},
      {.name = "EmptyBinRunsNothing",
       .setup = [](Installation&) { fs::create_directories("inst/bin"); },
       .status = 1,
       .log = nothing_runs},
      {.name = "BinIsAFile",
       .setup = [](Installation&) { WriteFile("inst/bin", ""); },
       .status = 1,
       .log = nothing_runs},
      {.name = "BinHoldsOnlyFilesNamedR",
       .setup =
           [](Installation&) {
             fs::create_directories("inst/bin");
             WriteFile("inst/bin/r1", "");
             WriteFile("inst/bin/r2.exe", "");
           },
       .status = 1,
       .log = nothing_runs},
      {.name = "BinUnreadable",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             i.RunUnprivileged();
             fs::permissions("inst/bin", fs::perms::none);
           },
       .status = 1,
       .log = nothing_runs},
      {.name = "OnlyDirectoriesNamedRCountAndCaseIsIgnored",
       .setup =
           [](Installation& i) {
             i.Release("R1");
             i.Release("x9", "exit=9");
             WriteFile("inst/bin/r9", "");
             fs::create_directories("inst/bin/r5");  // no worker.exe in it
           },
       .status = 0,
       .log = {kStart, Running("r5"), Failed(kNotFound), Running("R1"),
               kSuccess, kClose},
       .received = {Received("R1")},
       .err = kAnything},
      {.name = "WorkerNotExecutable",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1");
             fs::permissions("inst/bin/r1/worker.exe",
                             fs::perms::owner_read | fs::perms::owner_write);
           },
       .status = 1,
       .log = {kStart, Running("r1"), Failed(126), kNone, kClose},
       .err = kAnything},
      {.name = "SymbolicLinkToAReleaseCounts",
       .platforms = kPosixOnly,
       .setup =
           [](Installation& i) {
             i.Release("r1", "exit=3");
             fs::create_directories("inst/releases");
             fs::rename("inst/bin/r1", "inst/releases/r1");
             fs::create_directory_symlink("../releases/r1", "inst/bin/r7");
           },
       .status = 1,
       .log = {kStart, Running("r7"), Failed(3), kNone, kClose},
       .received = {Received("r7")}},
      {.name = "ManyReleases",
       .setup =
           [](Installation& i) {
             // 100,000 on POSIX. Wine makes each new directory cost as much
             // as the directory already holds, so it gets fewer.
             const int count = kWindows ? 5000 : 100000;
             char name[16];
             fs::create_directories("inst/bin");
             for (int n = 0; n < count; ++n) {
               std::snprintf(name, sizeof name, "r%06d", n);
               fs::create_directory(std::string("inst/bin/") + name);
             }
             i.Release(kNewest);
           },
       .status = 0,
       .log = {kStart, Running(kNewest), kSuccess, kClose},
       .received = {Received(kNewest)}},
  };
}

VT_E2E_CASES(Bin, BinCases());

// The release's name reaches the interpreter unquoted: a name that it splits
// or expands is a failed candidate, nothing worse.
std::vector<Case> ReleaseNameCases() {
  struct Name {
    const char* label;
    std::string name;
    bool runs;  // whether the interpreter runs the worker as named
    Platforms platforms;
  };
  const Name names[] = {
      {"Blank", "r 1", false, kBoth},
      {"Ampersand", "r&x", false, kBoth},
      {"Semicolon", "r;x", false, kPosixOnly},
      {"Bar", "r|x", false, kPosixOnly},  // no such file name on Windows
      {"Dollar", "r$x", false, kPosixOnly},
      {"Backquote", "r`x`", false, kPosixOnly},
      {"Percent", "r%x", true, kBoth},
      {"HighBytes", "r\xc3\xa9\xff", true, kPosixOnly},
      {"Longest", "r" + std::string(254, 'a'), true, kPosixOnly},
  };
  std::vector<Case> cases;
  for (const Name& n : names) {
    const std::string name = n.name;
    cases.push_back(
        {.name = n.label,
         .platforms = n.platforms,
         .setup = [name](Installation& i) { i.Release(name); },
         .status = n.runs ? 0 : 1,
         .log = n.runs ? Messages{kStart, Running(name), kSuccess, kClose}
                       : Messages{kStart, Running(name), Failed(kNotFound),
                                  kNone, kClose},
         .received = n.runs ? Messages{Received(name)} : Messages{},
         .err = n.runs ? "" : kAnything});
  }
  return cases;
}

VT_E2E_CASES(ReleaseName, ReleaseNameCases());

}  // namespace
