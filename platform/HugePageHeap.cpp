// Starting the program again with glibc's heap in transparent huge pages.
#include "platform/HugePageHeap.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

constexpr std::string_view kHugeTlb = "glibc.malloc.hugetlb";
constexpr std::size_t kMaxTunables = 4096;

// Whether the colon-separated list `tunables` has an entry for `name`.
bool SetsTunable(std::string_view tunables, std::string_view name) {
  while (!tunables.empty()) {
    const std::size_t colon = tunables.find(':');
    const std::string_view entry = tunables.substr(0, colon);
    if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
      return true;
    if (colon == std::string_view::npos) break;
    tunables.remove_prefix(colon + 1);
  }
  return false;
}

}  // namespace

std::string TunablesWithHugePageHeap(const char* current) {
  const std::string_view now = current != nullptr ? current : "";
  if (SetsTunable(now, kHugeTlb) || now.size() > kMaxTunables) return {};
  std::string value(now);
  if (!value.empty()) value += ':';
  value.append(kHugeTlb).append("=1");
  return value;
}

bool HugePagesOffered(const char* enabledFile) {
  std::ifstream in(enabledFile);
  std::string line;
  if (!std::getline(in, line)) return false;
  return line.find("[always]") != std::string::npos || line.find("[madvise]") != std::string::npos;
}

void RestartWithHugePageHeap(const std::string& program, char** argv) {
#if defined(__GLIBC__) && defined(__linux__)
  if (program.empty() || argv == nullptr || argv[0] == nullptr ||
      std::getenv(kHugePageRestartMark) != nullptr)
    return;
  const char* before = std::getenv("GLIBC_TUNABLES");
  const std::string value = TunablesWithHugePageHeap(before);
  if (value.empty() || !HugePagesOffered()) return;
  const bool hadTunables = before != nullptr;
  const std::string kept = hadTunables ? before : "";
  if (::setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) return;
  if (::setenv(kHugePageRestartMark, "1", 1) == 0) ::execv(program.c_str(), argv);
  // Not started again (the file is gone or cannot be run): on as before.
  ::unsetenv(kHugePageRestartMark);
  if (hadTunables) {
    ::setenv("GLIBC_TUNABLES", kept.c_str(), 1);
  } else {
    ::unsetenv("GLIBC_TUNABLES");
  }
#else
  (void)program;
  (void)argv;
#endif
}
