// The temporary folder of the tests.
#include "tests/support/TempFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& base) {
  for (const std::string& under : {base, std::string("/tmp")}) {
    std::string name = under + "/ox-test-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) continue;
    path_ = name;
    return;
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  if (fs::remove_all(path_, ec) != static_cast<std::uintmax_t>(-1) && !ec) return;
  // A folder without write or search permission keeps its entries: give them back, then retry.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ec);
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const {
  const fs::path p = fs::path(path_) / name;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return out ? p.string() : std::string();
}
