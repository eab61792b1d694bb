// A few boxes that never overlap: where a frame's layers draw, or where the stage may differ from
// the frame last shown. Sprites far apart keep boxes of their own, so what lies between them is
// neither drawn again nor compared.
#pragma once

#include <cstdint>
#include <functional>

#include "app/DisplayGeometry.h"

// At most this many boxes are kept; one more joins the two whose union adds least.
inline constexpr int kMaxBoxes = 16;
// Boxes whose union adds at most this many pixels to the two are joined: a box more costs a
// background draw, a level pass and a compare of its own, each a call and a loop set up per row.
inline constexpr std::int64_t kBoxJoinPixels = 1024;

inline bool EmptyRect(const RectLTRB& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

inline std::int64_t RectPixels(const RectLTRB& r) {
  return EmptyRect(r) ? 0 : std::int64_t{r.right - r.left} * (r.bottom - r.top);
}

// The smallest rectangle holding both (an empty one holds nothing).
RectLTRB UnionOf(const RectLTRB& a, const RectLTRB& b);

class BoxList {
 public:
  BoxList() = default;
  explicit BoxList(const RectLTRB& r) { Add(r); }

  // Adds `r` (nothing when it is empty): every pixel of it then lies in a box.
  void Add(const RectLTRB& r);
  void Add(const BoxList& other);
  void Clear() { count_ = 0; }

  bool Empty() const { return count_ == 0; }
  int Count() const { return count_; }
  const RectLTRB& operator[](int i) const { return box_[i]; }
  const RectLTRB* begin() const { return box_; }
  const RectLTRB* end() const { return box_ + count_; }
  // The pixels of all boxes (they do not overlap).
  std::int64_t Pixels() const;

 private:
  void RemoveAt(int i) { box_[i] = box_[--count_]; }
  void JoinCheapestPair();

  RectLTRB box_[kMaxBoxes + 1];  // one over, while the two to join are chosen
  int count_ = 0;
};

// The pixels of `box` that lie in some rectangle of `cover` and in none of `holes`, given to
// `span` as rectangles apart from each other: a band of rows at a time, left to right. At most
// kMaxSpanRects rectangles of each list are read (a hole left out only gives more pixels).
inline constexpr int kMaxSpanRects = 48;
void ForEachSpan(const RectLTRB& box, const RectLTRB* cover, int coverCount, const RectLTRB* holes,
                 int holeCount, const std::function<void(const RectLTRB&)>& span);
