// The interval playlist.
#include "app/IntervalList.h"

#include <utility>

#include "platform/FolderWalk.h"
#include "script/CDemoCtl.h"
#include "settings/CMainCtl.h"

int IntervalList::Build(const std::string& curPath) {
  files_.clear();
  // A data folder written with a trailing "/" would otherwise give "//Interval/" entries.
  std::string base = curPath;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  // Links may lead anywhere inside the data folder, where the pictures' names are looked up.
  FolderWalk walk(base + "/Interval/", base);
  walk.Run([&](const FolderWalk::Entry& e) {
    if (e.regular) AddFile(base, e.folder + e.name, e.name);
    return Count() < kMaxIntervalFiles;
  });
  Rewind();
  return Count();
}

void IntervalList::AddFile(const std::string& base, const std::string& path,
                           const std::string& name) {
  const int type = CMainCtl::FileTypeOf(name);
  if (type == 1) {
    Add(path);
  } else if (type == 2 || type == 3) {
    // Relative to the data folder, without a leading separator: the name goes into a built-in
    // script, whose file names are looked up below the data folder. A name the script cannot
    // hold is left out rather than shown as nothing.
    const std::string relative = path.substr(base.size() + 1);
    if (CDemoCtl::CanNamePicture(relative)) Add(relative);
  }
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
