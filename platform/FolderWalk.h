// The walk over a folder tree that every search below the data folder uses (the script
// catalogue, the dialog's script count, the interval playlist), so that all follow one rule for
// depth and for symbolic links.
#pragma once

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <utility>

// Folders more than this many levels below the walk's start are not entered.
inline constexpr int kMaxFolderDepth = 64;

class FolderWalk {
 public:
  // An entry that is not a folder (links followed): its folder, ending in "/", and its name.
  struct Entry {
    const std::string& folder;
    const std::string& name;
    bool regular;  // a regular file (a link to one counts)
  };
  // Gets each entry; returns false to end the walk.
  using Visitor = std::function<bool(const Entry&)>;

  // Walks `start`. A symbolic link to a folder is followed only when the folder lies inside
  // `boundary` (compared by real path; `start` itself when empty), so a link to "/" or to
  // another user's files leads nowhere; no folder is entered twice, so link loops end.
  explicit FolderWalk(std::string start, std::string boundary = {});

  // Asked after each folder entry ("." and ".." of every folder included) and every 1024 other
  // entries; true ends the walk as timed out.
  void SetExpired(std::function<bool()> expired) { expired_ = std::move(expired); }

  // Walks depth first, the entries of each folder in name order (ASCII letters without regard
  // to case). Folders that cannot be read are skipped. 0 when the walk ended (at its end or by
  // the visitor), -1 when it ran out of time. A start that is no folder gives 0 at once.
  int Run(const Visitor& visit);

 private:
  // Walks one folder; false when the walk is to end.
  bool Walk(const std::string& folder, int depth, const Visitor& visit);
  bool Enter(const std::string& path, bool link);
  bool Expired();

  std::string start_;
  std::string boundary_;
  std::string boundaryReal_;
  std::function<bool()> expired_;
  std::set<std::pair<dev_t, ino_t>> entered_;
  long long files_ = 0;
  bool timedOut_ = false;
};
