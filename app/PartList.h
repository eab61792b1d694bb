// Rectangles that are drawn and sent one by one, joined where one rectangle costs more than the
// pixels a join adds.
#pragma once

#include <cstdint>

#include "app/DisplayGeometry.h"

// One more rectangle drawn and sent costs about as much as this many more pixels of one. Under
// Xvfb a shared-memory put costs client and server about 0.6 us whatever its size, and each
// pixel about 0.13-0.2 ns more (the server's copy; our stretch adds its own).
inline constexpr std::int64_t kPartCostPixels = 4096;

// Each rectangle costs a fixed amount (a request to the display server, a stretch call, the
// server's copy setup) and an amount per pixel. A rectangle added is joined to one whose union
// with it adds at most `joinPixels` pixels to the two (an overlap counts twice: it would be
// sent twice); the union is joined on in the same way. Past `maxParts` the two rectangles
// whose union adds least are joined, wherever they lie.
class PartList {
 public:
  static constexpr int kCapacity = 32;

  // `maxParts` is cut to 1..kCapacity.
  PartList(int maxParts, std::int64_t joinPixels);

  void Add(const RectXYWH& r);
  void Clear() { count_ = 0; }
  int Count() const { return count_; }
  const RectXYWH& operator[](int i) const { return part_[i]; }

  // The pixels the union of `a` and `b` adds to their two areas.
  static std::int64_t JoinCost(const RectXYWH& a, const RectXYWH& b);

 private:
  void RemoveAt(int i) { part_[i] = part_[--count_]; }

  RectXYWH part_[kCapacity + 1];  // one over, while the two to join are chosen
  int count_ = 0;
  int max_;
  std::int64_t join_;
};
