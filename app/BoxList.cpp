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

namespace {

struct Interval {
  int left;
  int right;
};

// The x intervals of the rectangles (cut to `box`) that hold all rows [top, bottom), sorted and
// merged.
int BandIntervals(const RectLTRB& box, const RectLTRB* r, int n, int top, int bottom,
                  Interval* out) {
  int count = 0;
  for (int i = 0; i < n; ++i) {
    if (r[i].top > top || r[i].bottom < bottom) continue;
    const int left = std::max(r[i].left, box.left), right = std::min(r[i].right, box.right);
    if (left < right) out[count++] = {left, right};
  }
  std::sort(out, out + count, [](const Interval& a, const Interval& b) { return a.left < b.left; });
  int merged = 0;
  for (int i = 0; i < count; ++i) {
    if (merged > 0 && out[i].left <= out[merged - 1].right) {
      out[merged - 1].right = std::max(out[merged - 1].right, out[i].right);
    } else {
      out[merged++] = out[i];
    }
  }
  return merged;
}

}  // namespace

void ForEachSpan(const RectLTRB& box, const RectLTRB* cover, int coverCount, const RectLTRB* holes,
                 int holeCount, const std::function<void(const RectLTRB&)>& span) {
  if (EmptyRect(box)) return;
  coverCount = std::clamp(coverCount, 0, kMaxSpanRects);
  holeCount = std::clamp(holeCount, 0, kMaxSpanRects);
  // Every edge of a rectangle within the box starts a band: inside one, each rectangle holds
  // all its rows or none.
  int edges[2 + 4 * kMaxSpanRects];
  int n = 0;
  edges[n++] = box.top;
  edges[n++] = box.bottom;
  const auto addEdges = [&](const RectLTRB* r, int count) {
    for (int i = 0; i < count; ++i) {
      if (EmptyRect(r[i])) continue;
      if (r[i].top > box.top && r[i].top < box.bottom) edges[n++] = r[i].top;
      if (r[i].bottom > box.top && r[i].bottom < box.bottom) edges[n++] = r[i].bottom;
    }
  };
  addEdges(cover, coverCount);
  addEdges(holes, holeCount);
  std::sort(edges, edges + n);
  n = static_cast<int>(std::unique(edges, edges + n) - edges);
  Interval in[kMaxSpanRects], out[kMaxSpanRects];
  for (int b = 0; b + 1 < n; ++b) {
    const int top = edges[b], bottom = edges[b + 1];
    const int inCount = BandIntervals(box, cover, coverCount, top, bottom, in);
    const int outCount = BandIntervals(box, holes, holeCount, top, bottom, out);
    int h = 0;
    for (int i = 0; i < inCount; ++i) {
      int left = in[i].left;
      const int right = in[i].right;
      while (h < outCount && out[h].right <= left) ++h;
      for (int k = h; k < outCount && out[k].left < right; ++k) {
        if (out[k].left > left) span({left, top, out[k].left, bottom});
        left = std::max(left, out[k].right);
      }
      if (left < right) span({left, top, right, bottom});
    }
  }
}
