// The exe's resources as Windows reads them: its version information, as
// Explorer's Details and inventory tools show it, and its application
// manifest, as the loader applies it. The exe is the one of this build, or
// the one that VT_AGENT names (the 32-bit exe, read by the 64-bit tests).
#include <windows.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "agent/vt-agent.h"
#include "tests/test_util.h"

namespace {

std::string Exe() { return AgentBinary(VT_AGENT_BINARY); }

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

class VersionTest : public testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(Exe().c_str(), &ignored);
    ASSERT_NE(size, 0u) << Exe() << " has no version information";
    info_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(Exe().c_str(), 0, size, info_.data()));
  }

  // The string `name` of the language and code page that the resource
  // lists first, as Explorer picks it.
  std::string String(const std::string& name) {
    struct Translation {
      WORD language;
      WORD code_page;
    }* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(info_.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof *translation) {
      return "(no translation)";
    }
    char path[96];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s",
                  translation->language, translation->code_page, name.c_str());
    char* value = nullptr;
    if (!VerQueryValueA(info_.data(), path, reinterpret_cast<void**>(&value),
                        &size)) {
      return "(no " + name + ")";
    }
    return std::string(value, size > 0 ? size - 1 : 0);
  }

  std::vector<char> info_;
};

TEST_F(VersionTest, NumbersAreTheProjectVersion) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(info_.data(), "\\",
                             reinterpret_cast<void**>(&fixed), &size));
  ASSERT_GE(size, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = MAKELONG(VT_VERSION_MINOR, VT_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, VT_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);  // a release
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(VersionTest, StringsNameTheProgram) {
  const std::string product = FirstLine(kUsage);
  const struct {
    const char* name;
    std::string value;
  } strings[] = {
      {"FileVersion", VT_VERSION},          {"ProductVersion", VT_VERSION},
      {"FileDescription", product},         {"ProductName", product},
      {"OriginalFilename", "vt-agent.exe"}, {"InternalName", "vt-agent"},
      {"CompanyName", "Veltrane"},
  };
  for (const auto& s : strings) EXPECT_EQ(String(s.name), s.value) << s.name;
  EXPECT_NE(String("LegalCopyright").find("Copyright"), std::string::npos);
}

// The exe's resources of one type, by the numeric IDs they have.
std::vector<ULONG_PTR> ResourceIds(HMODULE module, LPCSTR type) {
  std::vector<ULONG_PTR> ids;
  EnumResourceNamesA(
      module, type,
      [](HMODULE, LPCSTR, LPSTR name, LONG_PTR param) -> BOOL {
        reinterpret_cast<std::vector<ULONG_PTR>*>(param)->push_back(
            IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&ids));
  return ids;
}

class ManifestTest : public testing::Test {
 protected:
  void SetUp() override {
    // As data: a 64-bit test may read the 32-bit exe.
    module_ = LoadLibraryExA(
        Exe().c_str(), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << Exe() << ": error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  std::string Manifest() {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(1), RT_MANIFEST);
    if (found == nullptr) return "";
    HGLOBAL loaded = LoadResource(module_, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes ? std::string(bytes, SizeofResource(module_, found)) : "";
  }

  HMODULE module_ = nullptr;
};

// Exactly one: a second one, from a toolchain's default, would make the
// link or the loader pick either.
TEST_F(ManifestTest, IsTheOnlyOneAndTheOneTheLoaderReads) {
  // CREATEPROCESS_MANIFEST_RESOURCE_ID
  EXPECT_EQ(ResourceIds(module_, RT_MANIFEST), std::vector<ULONG_PTR>{1});
}

// asInvoker: no elevation prompt, and no UAC virtualization that would send
// a standard user's writes to log\ into a VirtualStore of their own.
TEST_F(ManifestTest, RunsAsInvokerWithoutUiAccess) {
  const std::string manifest = Manifest();
  std::smatch level;
  ASSERT_TRUE(std::regex_search(
      manifest, level, std::regex(R"(<requestedExecutionLevel\s[^>]*>)")))
      << manifest;
  EXPECT_TRUE(
      std::regex_search(level.str(), std::regex(R"(level="asInvoker")")))
      << level.str();
  EXPECT_TRUE(std::regex_search(level.str(), std::regex(R"(uiAccess="false")")))
      << level.str();
}

TEST_F(ManifestTest, DeclaresWindows7To11) {
  const std::string manifest = Manifest();
  std::set<std::string> ids;
  const std::regex supported(R"re(<supportedOS\s+Id="(\{[^}]*\})")re");
  for (std::sregex_iterator it(manifest.begin(), manifest.end(), supported),
       end;
       it != end; ++it) {
    ids.insert((*it)[1]);
  }
  EXPECT_EQ(ids, (std::set<std::string>{
                     "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
                     "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
                     "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
                     "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10, 11
                 }));
}

// Nothing else that changes how the program behaves: no DPI awareness, no
// long paths, no code page (it stays an ANSI program), no dependencies.
TEST_F(ManifestTest, SaysNothingElse) {
  const std::string manifest = Manifest();
  std::set<std::string> elements;
  const std::regex element(R"(<([A-Za-z][\w:.]*))");
  for (std::sregex_iterator it(manifest.begin(), manifest.end(), element), end;
       it != end; ++it) {
    elements.insert((*it)[1]);
  }
  EXPECT_EQ(elements, (std::set<std::string>{
                          "assembly", "trustInfo", "security",
                          "requestedPrivileges", "requestedExecutionLevel",
                          "compatibility", "application", "supportedOS"}));
}

}  // namespace
