// Script name resolution with a per-folder listing cache.
#include "platform/NameResolver.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/AsciiCase.h"
#include "platform/Cp932.h"

namespace {

// Something can be opened under that name: a link counts by what it leads to, so a dangling link
// or a loop of links is a missing file.
bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string Join(const std::string& base, std::string_view name) {
  std::string out = base;
  if (out.empty() || out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string BackslashToSlash(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

std::string ScriptNameToUtf8(std::string_view name) {
  // Decode first: a CP932 trail byte may be 0x5C, which is no separator.
  return BackslashToSlash(Cp932ToUtf8(name));
}

std::string NameResolver::Resolve(const std::string& base, std::string_view name) {
  if (name.empty()) return Exists(base) ? base : std::string();
  std::string cp932 = ScriptNameToUtf8(name);
  std::string found = ResolveRelative(base, cp932);
  if (!found.empty()) return found;
  if (IsValidUtf8(name)) {
    std::string utf8 = BackslashToSlash(std::string(name));
    if (utf8 != cp932) return ResolveRelative(base, utf8);
  }
  return {};
}

std::string NameResolver::ResolveRelative(const std::string& base, const std::string& rel) {
  bool absolute = !rel.empty() && rel[0] == '/';
  std::string exact = absolute ? rel : Join(base, rel);
  if (Exists(exact)) return exact;

  std::string cur = absolute ? std::string("/") : base;
  size_t pos = 0;
  while (pos <= rel.size()) {
    size_t end = rel.find('/', pos);
    if (end == std::string::npos) end = rel.size();
    std::string_view comp(rel.data() + pos, end - pos);
    pos = end + 1;
    if (comp.empty() || comp == ".") continue;
    std::string next = Join(cur, comp);
    if (comp == ".." || Exists(next)) {
      cur = std::move(next);
      continue;
    }
    const std::vector<std::string>& names = Listing(cur);
    auto it = std::find_if(names.begin(), names.end(),
                           [&](const std::string& n) { return EqualsNoCase(n, comp); });
    if (it == names.end()) return {};
    cur = Join(cur, *it);
  }
  return Exists(cur) ? cur : std::string();
}

const std::vector<std::string>& NameResolver::Listing(const std::string& folder) {
  auto it = listings_.find(folder);
  if (it != listings_.end()) return it->second;
  if (listings_.size() >= kMaxCachedFolders) listings_.clear();
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.empty() ? "/" : folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n != "." && n != "..") names.emplace_back(n);
    }
    ::closedir(d);
  }
  // Sorted, so that of several names differing only in case the same one always wins.
  std::sort(names.begin(), names.end());
  return listings_.emplace(folder, std::move(names)).first->second;
}
