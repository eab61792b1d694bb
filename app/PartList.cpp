// Joining rectangles where a join costs less than a rectangle more.
#include "app/PartList.h"

#include <algorithm>

namespace {

std::int64_t Area(const RectXYWH& r) {
  return static_cast<std::int64_t>(r.width) * r.height;
}

}  // namespace

PartList::PartList(int maxParts, std::int64_t joinPixels)
    : max_(std::clamp(maxParts, 1, kCapacity)), join_(joinPixels) {}

std::int64_t PartList::JoinCost(const RectXYWH& a, const RectXYWH& b) {
  return Area(UnionOf(a, b)) - Area(a) - Area(b);
}

void PartList::Add(const RectXYWH& r) {
  if (r.width <= 0 || r.height <= 0) return;
  RectXYWH joined = r;
  for (int i = 0; i < count_;) {
    if (JoinCost(part_[i], joined) > join_) {
      ++i;
      continue;
    }
    // The union may now be worth joining to a part it was not worth joining before.
    joined = UnionOf(part_[i], joined);
    RemoveAt(i);
    i = 0;
  }
  part_[count_++] = joined;
  if (count_ <= max_) return;
  int a = 0, b = 1;
  std::int64_t least = INT64_MAX;
  for (int i = 0; i < count_; ++i)
    for (int j = i + 1; j < count_; ++j) {
      const std::int64_t cost = JoinCost(part_[i], part_[j]);
      if (cost < least) least = cost, a = i, b = j;
    }
  const RectXYWH both = UnionOf(part_[a], part_[b]);
  RemoveAt(b);  // b > a: the part moved into b's place is not a
  RemoveAt(a);
  Add(both);
}
