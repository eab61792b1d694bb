// The interval playlist.
#include "app/IntervalList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <utility>

#include "settings/CMainCtl.h"

namespace {

using DirId = std::pair<dev_t, ino_t>;

class IntervalScan {
 public:
  IntervalScan(IntervalList* list, const std::string& curPath) : list_(list), curPath_(curPath) {}

  void Walk(const std::string& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    if (!visited_.insert({st.st_dev, st.st_ino}).second) return;  // a link back into the tree
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
      if (list_->Count() >= kMaxIntervalFiles) break;
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = folder + name;
      if (stat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        Walk(path + "/");
      } else if (S_ISREG(st.st_mode)) {
        AddFile(path, name);
      }
    }
    closedir(dir);
  }

 private:
  void AddFile(const std::string& path, const std::string& name) {
    const int type = CMainCtl::FileTypeOf(name);
    if (type == 1) {
      list_->Add(path);
    } else if (type == 2 || type == 3) {
      // Relative to the data folder, without a leading separator: the name goes into a built-in
      // script, whose file names are looked up below the data folder.
      list_->Add(path.substr(curPath_.size() + 1));
    }
  }

  IntervalList* list_;
  const std::string& curPath_;
  std::set<DirId> visited_;
};

}  // namespace

int IntervalList::Build(const std::string& curPath) {
  files_.clear();
  // A data folder written with a trailing "/" would otherwise give "//Interval/" entries.
  std::string base = curPath;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  IntervalScan scan(this, base);
  scan.Walk(base + "/Interval/");
  Rewind();
  return Count();
}

void IntervalList::Shuffle(const std::function<int()>& random) {
  const int n = Count();
  for (int i = 0; i < n; ++i) std::swap(files_[i], files_[random() % n]);
}

void IntervalList::Rewind() {
  Index = 0;
  Turn = Count() > 0 ? 1 : 0;
}

void IntervalList::Advance() {
  Index += 1;
  if (Index >= Count()) Index = 0;
}

void IntervalList::Remove(int i) {
  if (i < 0 || i >= Count()) return;
  files_.erase(files_.begin() + i);
}

bool IntervalList::Add(const std::string& entry) {
  if (Count() >= kMaxIntervalFiles) return false;
  files_.push_back(entry);
  return true;
}
