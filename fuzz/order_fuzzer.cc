// Checks the candidate order against the plain reference: the Windows paths
// (backslash separators) sorted ascending by byte, then reversed.
//
// The input is a list of directory names separated by NUL bytes; a name
// never holds a NUL or a '/', and a directory appears once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "agent/vt-agent.h"
#include "common/file.h"

namespace {

std::string NameOf(const std::string& path, std::size_t prefix) {
  return path.substr(prefix, path.size() - prefix - sizeof "/worker.exe" + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::set<std::string> names;
  std::string name;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\0') {
      if (!name.empty()) names.insert(name);
      name.clear();
    } else if (data[i] != '/') {
      name += static_cast<char>(data[i]);
    }
  }

  CandidateList ours;
  std::vector<std::string> reference;
  for (const std::string& n : names) {
    ours.push_back(kBinDir + n + kPathSeparator + "worker.exe");
    reference.push_back("bin\\" + n + "\\worker.exe");
  }
  OrderCandidates(ours);
  std::sort(reference.begin(), reference.end());
  std::reverse(reference.begin(), reference.end());

  for (std::size_t i = 0; i < ours.size(); ++i) {
    if (NameOf(ours[i], kBinDir.size()) != NameOf(reference[i], 4)) {
      std::abort();
    }
  }
  return 0;
}
