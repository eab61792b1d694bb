// Resolves file names written in scripts ("\" separators, CP932 bytes, often upper-cased) to
// existing paths, matching each component without regard to case when the exact name is absent.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A script name as a UTF-8 relative path: CP932 decoded, then "\" read as "/".
std::string ScriptNameToUtf8(std::string_view name);

class NameResolver {
 public:
  // The existing path that `name` names below the folder `base`, or "" when there is none.
  // An empty name resolves to `base` itself when it exists. `name` may be CP932 (as in scripts) or
  // UTF-8 (as read from the file system); both readings are tried.
  std::string Resolve(const std::string& base, std::string_view name);

  // Forgets the cached folder listings (folders are listed once until this is called).
  void ClearCache() { listings_.clear(); }

 private:
  std::string ResolveRelative(const std::string& base, const std::string& rel);
  const std::vector<std::string>& Listing(const std::string& folder);

  static constexpr size_t kMaxCachedFolders = 256;
  std::unordered_map<std::string, std::vector<std::string>> listings_;
};
