// Boxes kept apart unless they overlap, lie close, or are too many.
#include "app/BoxList.h"

#include <algorithm>

namespace {

bool Overlap(const RectLTRB& a, const RectLTRB& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// The pixels the union of two boxes that do not overlap adds to them.
std::int64_t JoinCost(const RectLTRB& a, const RectLTRB& b) {
  return RectPixels(UnionOf(a, b)) - RectPixels(a) - RectPixels(b);
}

}  // namespace

RectLTRB UnionOf(const RectLTRB& a, const RectLTRB& b) {
  if (EmptyRect(a)) return b;
  if (EmptyRect(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

void BoxList::Add(const RectLTRB& r) {
  if (EmptyRect(r)) return;
  RectLTRB joined = r;
  for (int i = 0; i < count_;) {
    if (!Overlap(box_[i], joined) && JoinCost(box_[i], joined) > kBoxJoinPixels) {
      ++i;
      continue;
    }
    // The union may now overlap or lie close to a box it did not before.
    joined = UnionOf(box_[i], joined);
    RemoveAt(i);
    i = 0;
  }
  box_[count_++] = joined;
  if (count_ > kMaxBoxes) JoinCheapestPair();
}

void BoxList::Add(const BoxList& other) {
  for (const RectLTRB& r : other) Add(r);
}

void BoxList::JoinCheapestPair() {
  int a = 0, b = 1;
  std::int64_t least = INT64_MAX;
  for (int i = 0; i < count_; ++i) {
    for (int j = i + 1; j < count_; ++j) {
      const std::int64_t cost = JoinCost(box_[i], box_[j]);
      if (cost < least) least = cost, a = i, b = j;
    }
  }
  const RectLTRB both = UnionOf(box_[a], box_[b]);
  RemoveAt(b);  // b > a: the box moved into b's place is not a
  RemoveAt(a);
  Add(both);  // joined on with whatever it now overlaps
}

std::int64_t BoxList::Pixels() const {
  std::int64_t n = 0;
  for (const RectLTRB& r : *this) n += RectPixels(r);
  return n;
}
