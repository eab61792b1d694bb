// The one folder walk: depth-limited, loop-safe, links kept inside a boundary.
#include "platform/FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr long long kCheckEveryEntries = 1024;  // a huge flat folder still honours the budget

struct Listed {
  std::string name;
  unsigned char type;
};

unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Names compared without regard to ASCII case, then as bytes: a stable order whatever order the
// file system lists them in.
bool NameBefore(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = UpperAscii(a[i]), y = UpperAscii(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// The entries are read first and the folder closed, so a deep tree holds no descriptors.
std::vector<Listed> List(const std::string& folder) {
  std::vector<Listed> entries;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return entries;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") entries.push_back({name, e->d_type});
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const Listed& a, const Listed& b) { return NameBefore(a.name, b.name); });
  return entries;
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string r = real;
  std::free(real);
  return r;
}

bool Inside(const std::string& real, const std::string& boundary) {
  if (real.empty() || boundary.empty()) return false;
  if (boundary == "/") return true;
  return real.compare(0, boundary.size(), boundary) == 0 &&
         (real.size() == boundary.size() || real[boundary.size()] == '/');
}

}  // namespace

FolderWalk::FolderWalk(std::string start, std::string boundary)
    : start_(std::move(start)), boundary_(std::move(boundary)) {
  if (start_.empty() || start_.back() != '/') start_ += '/';
  if (boundary_.empty()) boundary_ = start_;
}

int FolderWalk::Run(const Visitor& visit) {
  entered_.clear();
  files_ = 0;
  timedOut_ = false;
  boundaryReal_ = RealPath(boundary_);
  struct stat st;
  if (::stat(start_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  entered_.insert({st.st_dev, st.st_ino});
  Walk(start_, 0, visit);
  return timedOut_ ? -1 : 0;
}

bool FolderWalk::Walk(const std::string& folder, int depth, const Visitor& visit) {
  // Every folder lists "." and ".." too; like any folder entry, each is followed by a look at
  // the clock, so even a folder of a few files spends some of the budget.
  for (int dots = 0; dots < 2; ++dots) {
    if (Expired()) return false;
  }
  for (const Listed& e : List(folder)) {
    const std::string path = folder + e.name;
    bool link = e.type == DT_LNK;
    bool isFolder = e.type == DT_DIR;
    bool regular = e.type == DT_REG;
    if (e.type != DT_DIR && e.type != DT_REG) {
      // Links and entries of unknown type: what they are, and what a link leads to.
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) continue;
      link = S_ISLNK(st.st_mode);
      if (link && ::stat(path.c_str(), &st) != 0) st.st_mode = 0;  // a dangling link
      isFolder = S_ISDIR(st.st_mode);
      regular = S_ISREG(st.st_mode);
    }
    if (isFolder) {
      if (depth < kMaxFolderDepth && Enter(path, link) && !Walk(path + "/", depth + 1, visit)) {
        return false;
      }
      if (Expired()) return false;
      continue;
    }
    if (++files_ % kCheckEveryEntries == 0 && Expired()) return false;
    if (!visit(Entry{folder, e.name, regular})) return false;
  }
  return true;
}

// True when the folder at `path` is to be walked: not entered before, and for a link, inside
// the boundary.
bool FolderWalk::Enter(const std::string& path, bool link) {
  if (link && !Inside(RealPath(path), boundaryReal_)) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return entered_.insert({st.st_dev, st.st_ino}).second;
}

bool FolderWalk::Expired() {
  if (!timedOut_ && expired_ && expired_()) timedOut_ = true;
  return timedOut_;
}
