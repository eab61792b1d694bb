// The interval playlist: pictures and movies of the data folder's Interval/ tree, shuffled once,
// shown between scripts in turn with the opening logo.
#pragma once

#include <functional>
#include <string>
#include <vector>

inline constexpr int kMaxIntervalFiles = 256;

class IntervalList {
 public:
  // Scans `curPath` + "/Interval/" depth first (FolderWalk: links only to folders inside the
  // data folder): movies with their full path, pictures with the path relative to `curPath`
  // (beginning with "Interval/"), except names a built-in script cannot hold. Stops at 256
  // entries; folders that cannot be read are skipped. Replaces the list; returns the count.
  int Build(const std::string& curPath);
  // Swaps entry i with entry random() % count for every i. `random` gives values >= 0.
  void Shuffle(const std::function<int()>& random);
  // Index 0; the first StartIntro shows an interval item when there is one.
  void Rewind();

  int Count() const { return static_cast<int>(files_.size()); }
  const std::string& At(int i) const { return files_[i]; }
  const std::string& Current() const { return files_[Index]; }
  // Moves Index on by one, back to 0 at the end.
  void Advance();
  // Drops entry i; later entries move down by one.
  void Remove(int i);
  // Adds an entry (the scan, and tests); false when the list is full.
  bool Add(const std::string& entry);

  int Index = 0;  // IntervalIndex
  int Turn = 0;   // IntervalTurn: 1 when the next StartIntro shows an interval item

 private:
  void AddFile(const std::string& base, const std::string& path, const std::string& name);

  std::vector<std::string> files_;
};
