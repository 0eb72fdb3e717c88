// Flags: the -config value from each of its sources, the values that are
// refused, flag files that cannot be read as written, and the flags that end
// the agent before it starts (help, version, errors).
#include <filesystem>
#include <regex>

#include "tests/e2e.h"

namespace fs = std::filesystem;

namespace {

void OneRelease(Installation& i) { i.Release("r1"); }

const char kRefused[] = "vt-agent.exe: -config must not ";

std::vector<Case> EarlyEndCases() {
  return {
      {.name = "UnknownFlagRunsNothing",
       .setup = OneRelease,
       .args = "-no_such_flag",
       .status = 1,
       .err = "no_such_flag"},
      {.name = "VersionRunsNothing",
       .setup = OneRelease,
       .args = "-version",
       .status = 0,
       .out = {"| vt-agent.exe"}},
      {.name = "MissingFlagFileRunsNothing",
       .setup = OneRelease,
       .args = "-flagfile=missing.flags",
       .status = 1,
       .err = "missing.flags"},
  };
}

VT_E2E_CASES(Flags, EarlyEndCases());

// The config value reaches the worker unchanged from each of the flag's
// sources; a value that could break out of its quotes is refused.
std::vector<Case> ConfigCases() {
  struct Value {
    const char* label;
    std::string value;
    // As the Running line shows it on POSIX, escaped for sh; Windows shows
    // the value as it stands.
    std::string shown_on_posix;
    Platforms platforms = kBoth;
  };
  const Value values[] = {
      {"Blanks", "my dir/my config.txt", "my dir/my config.txt"},
      {"Dollar", "$HOME/x$(id)", "\\$HOME/x\\$(id)"},
      {"Backquote", "`id`.txt", "\\`id\\`.txt"},
      {"Backslash", "dir\\config.txt", "dir\\\\config.txt"},
      {"Percent", "100%.txt", "100%.txt"},
      {"NonAscii", "conf\xc3\xa9.txt", "conf\xc3\xa9.txt"},
      // An empty variable is no variable on Windows.
      {"Empty", "", "", kPosixOnly},
      {"Long", std::string(4000, 'c'), std::string(4000, 'c')},
      // With a release name of 255 bytes, a command line of 8160.
      {"Longest", std::string(7879, 'c'), std::string(7879, 'c')},
  };
  const Value refused[] = {
      {"DoubleQuote", "a\" & echo pwned > pwned & \"", ""},
      {"LineFeed", "a\nexit 0", "", kPosixOnly},
      {"CarriageReturn", "a\rb", ""},
      // cmd.exe would refuse the command line with status 1, which reads as
      // "updated binaries": the agent would rescan forever.
      {"TooLong", std::string(7880, 'c'), ""},
      // A Windows program reads the backslash and the closing quote as an
      // escaped quote: it would receive conf\vt".
      {"TrailingBackslash", "conf\\vt\\", ""},
  };
  enum Source { kCommandLine, kFlagFile, kEnvironment };
  const struct {
    const char* label;
    Source source;
  } sources[] = {{"OnCommandLine", kCommandLine},
                 {"InFlagFile", kFlagFile},
                 {"InEnvironment", kEnvironment}};

  auto setup = [](Source source, const std::string& value) {
    return [source, value](Installation& i) {
      i.Release("r1");
      if (source == kFlagFile) WriteFile("inst/flags", "-config=" + value);
      if (source == kEnvironment) SetEnvironment("FLAGS_config", value);
    };
  };
  auto args = [](Source source, const std::string& value) {
    switch (source) {
      case kCommandLine:
        return QuoteArgument("-config=" + value);
      case kFlagFile:
        return std::string("-flagfile=flags");
      case kEnvironment:
        return std::string("-fromenv=config");
    }
    return std::string();
  };

  std::vector<Case> cases;
  for (const auto& s : sources) {
    for (const Value& v : values) {
      cases.push_back(
          {.name = std::string(v.label) + s.label,
           .platforms = v.platforms,
           .setup = setup(s.source, v.value),
           .args = args(s.source, v.value),
           .status = 0,
           .log = {kStart, Running("r1", kWindows ? v.value : v.shown_on_posix),
                   kSuccess, kClose},
           .received = {Received("r1", v.value)}});
    }
    for (const Value& v : refused) {
      // A flag file cannot hold a line break, nor a Windows command line a
      // line break or a double quote.
      if (s.source == kFlagFile &&
          v.value.find_first_of("\r\n") != std::string::npos) {
        continue;
      }
      const bool posix_only_argument =
          v.value.find_first_of("\"\r\n") != std::string::npos;
      cases.push_back(
          {.name = std::string(v.label) + s.label + "IsRefused",
           .platforms = s.source == kCommandLine && posix_only_argument
                            ? kPosixOnly
                            : v.platforms,
           .setup = setup(s.source, v.value),
           .args = args(s.source, v.value),
           .status = 1,
           .err = kRefused});
    }
  }
  return cases;
}

VT_E2E_CASES(Config, ConfigCases());

// -flagfile=flags.txt holding `text`, and `more.txt` holding `more` when
// given.
std::function<void(Installation&)> FlagFile(const std::string& text,
                                            const std::string& more = "") {
  return [text, more](Installation& i) {
    i.Release("r1");
    WriteFile("inst/flags.txt", text);
    if (!more.empty()) WriteFile("inst/more.txt", more);
  };
}

// "-config=school.cfg" and a line feed as Windows PowerShell 5.1's `>` and
// Out-File write it: UTF-16 LE with a byte-order mark.
std::string Utf16(const std::string& ascii) {
  std::string text = "\xff\xfe";
  for (char c : ascii) {
    text += c;
    text += '\0';
  }
  return text;
}

// A flag file works as the flags library reads it, or is refused before
// anything runs: never is the default quietly used instead of what the
// administrator wrote.
std::vector<Case> FlagFileCases() {
  const Messages school = {kStart, Running("r1", "school.cfg"), kSuccess,
                           kClose};
  const Messages school_received = {Received("r1", "school.cfg")};
  auto works = [&](const char* name, const std::string& text,
                   const std::string& more = "", Platforms platforms = kBoth) {
    return Case{.name = name,
                .platforms = platforms,
                .setup = FlagFile(text, more),
                .args = "-flagfile=flags.txt",
                .status = 0,
                .log = school,
                .received = school_received};
  };
  auto refused = [](const char* name, const std::string& text,
                    const std::string& why, const std::string& more = "",
                    Platforms platforms = kBoth) {
    return Case{.name = name,
                .platforms = platforms,
                .setup = FlagFile(text, more),
                .args = "-flagfile=flags.txt",
                .status = 1,
                .err = why};
  };
  return {
      works("LfLineEnds",
            "# the school's configuration\n\n-config=school.cfg\n"),
      works("CrLfLineEnds",
            "# the school's configuration\r\n\r\n-config=school.cfg\r\n"),
      works("CrLfThenLfLineEnds", "# comment\r\n-config=school.cfg\n"),
      works("TwoDashesAndNoLineEnd", "--config=school.cfg"),
      works("Nested", "-flagfile=more.txt\n", "-config=school.cfg\n"),
      // -undefok lets an unknown name pass, as on the command line.
      works("UnknownFlagNamedByUndefok",
            "-undefok=colour\n-colour=blue\n-config=school.cfg\n"),
      // Flags for another program, by name, are that program's.
      works("SectionForAnotherProgram",
            "other.exe\n-colour=blue\nvt-agent.exe\n-config=school.cfg\n"),
      // Read in text mode on Windows, such a file has LF line ends only.
      works("LfThenCrLfLineEndsOnWindows", "# comment\n-config=school.cfg\r\n",
            "", kWindowsOnly),

      refused("Utf16WithByteOrderMark", Utf16("-config=school.cfg\r\n"),
              "vt-agent.exe: flag file flags.txt: is UTF-16"),
      refused("Utf16WithoutByteOrderMark",
              Utf16("-config=school.cfg\r\n").substr(2),
              "vt-agent.exe: flag file flags.txt: holds NUL bytes"),
      refused("Utf8WithByteOrderMark", "\xef\xbb\xbf-config=school.cfg\r\n",
              "vt-agent.exe: flag file flags.txt: starts with a UTF-8 "
              "byte-order mark"),
      refused("MisspeltFlag", "# comment\n-confg=school.cfg\n",
              "vt-agent.exe: flag file flags.txt: line 2: no flag is named "
              "'confg'"),
      refused("MisspeltFlagInNestedFile", "-flagfile=more.txt\n",
              "vt-agent.exe: flag file more.txt: line 1: no flag is named "
              "'confg'",
              "-confg=school.cfg\n"),
      refused("FlagWithoutValue", "-config\n",
              "vt-agent.exe: flag file flags.txt: line 1: -config has no "
              "value"),
      refused("LfThenCrLfLineEnds", "# comment\n-config=school.cfg\r\n",
              "vt-agent.exe: flag file flags.txt: line 1 ends in LF and a "
              "later line in CR LF",
              "", kPosixOnly),
  };
}

VT_E2E_CASES(FlagFile, FlagFileCases());

// The help flags print the usage text whole, then the flags, and exit through
// the flags library: nothing runs, nothing is logged.
class HelpTest : public Installation,
                 public testing::WithParamInterface<std::string> {};

TEST_P(HelpTest, PrintsTheUsageTextAndRunsNothing) {
  const std::string args = GetParam();
  Release("r1");
  std::string usage =
      "vt-agent.exe: Veltrane Integration Agent\n"
      "\n"
      "  * Extract student information from an ODBC data source (optional).\n"
      "  * Construct CSV files from extracted data (optional).\n"
      "  * Upload files (via SFTP) for insertion into Quillmark.\n"
      "\n"
      "See https://docs.veltrane.example/v4/vt_agent.py for full "
      "documentation.\n"
      "\n"
      "> vt-agent.exe [-config=config.txt]\n"
      "\n"
      "vt-agent returns 0 on success and non-zero on failure. On Windows, the "
      "return\n"
      "code can be tested with:\n"
      "\n"
      "> IF %ERRORLEVEL% NEQ 0 echo failure\n"
      "\n";
  usage = std::regex_replace(usage, std::regex("\n"), TextLineEnd());
  Outcome outcome = Run(args);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out.substr(0, usage.size()), usage);
  EXPECT_FALSE(fs::exists("inst/log/vt-agent.log"));
  EXPECT_FALSE(fs::exists("inst/runs.txt"));
  if (args != "-help") return;
  // --helpshort lists only the flags of a module named like the program,
  // and finds none; -help lists them all, under the source files that
  // define them, named as in their source trees: never a path of the
  // machine that built the agent. (The native build links Debian's own
  // gflags, which names the folder Debian built it in.)
  EXPECT_NE(outcome.out.find("  Flags from agent/vt-agent.cc:" + TextLineEnd() +
                             "    -config (Relative path to configuration "
                             "file.)"),
            std::string::npos)
      << outcome.out;
  const std::regex from("  Flags from ([^\r\n]*):");
  int files = 0;
  for (std::sregex_iterator it(outcome.out.begin(), outcome.out.end(), from),
       end;
       it != end; ++it, ++files) {
    const std::string file = (*it)[1];
    if (!kWindows) continue;
    EXPECT_TRUE(file[0] != '/' && file.find(':') == std::string::npos &&
                file.find('\\') == std::string::npos)
        << "an absolute path: " << file;
  }
  EXPECT_GE(files, 2);  // the agent's file and the library's own
}

INSTANTIATE_TEST_SUITE_P(Help, HelpTest,
                         testing::Values("-help", "--helpshort"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(
                               info.param.find_first_not_of('-'));
                         });

}  // namespace
