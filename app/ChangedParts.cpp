// Comparing a frame with the one shown, band by band, into parts that keep far-apart changes
// apart.
#include "app/ChangedParts.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/PartList.h"
#include "render/PixelOps.h"

namespace {

constexpr int kMaxBlocks = kMaxChangeColumns / kChangeBlock;
constexpr int kMaskWords = (kMaxBlocks + 63) / 64;
static_assert(kChangeBlock == 16, "a block's changed pixels are kept in 16 bits");

// What the rows of one band changed. A block is dirty when some row changed a pixel in it. The
// changed pixels of a block are gathered only while it lies at the edge of a run of dirty blocks
// (both neighbours dirty, it never lies at an edge again): only edge blocks bound a piece, and a
// row that changes everywhere then costs its two end blocks, not a test of every block.
class BandScan {
 public:
  // The band's columns begin at column `left` of the frame (a block's first); `split` when the
  // frame is narrow enough to be split across columns.
  BandScan(int width, int left, int top, int rows, bool split)
      : width_(width), left_(left), top_(top), rows_(rows), split_(split) {}

  // Row `r` of the band: `before` and `now` differ between first and end (first < end).
  void Row(int r, const std::uint32_t* before, const std::uint32_t* now, int first, int end) {
    first_[r] = first;
    end_[r] = end;
    if (split_) TestBlocks(before, now, first, end);
  }
  void Unchanged(int r) { first_[r] = end_[r] = 0; }

  // The band's changed pieces, handed to `parts`.
  void AddPieces(PartList& parts) const {
    if (!split_) {
      AddPiece(parts, 0, width_);
      return;
    }
    int left = -1, right = -1;  // the piece being gathered, in blocks
    for (int w = 0; w < kMaskWords; ++w) {
      for (std::uint64_t d = dirty_[w]; d != 0; d &= d - 1) {
        const int b = w * 64 + std::countr_zero(d);
        if (left >= 0 && b - right - 1 < kChangeGapBlocks) {
          right = b;
          continue;
        }
        if (left >= 0) AddBlocks(parts, left, right);
        left = right = b;
      }
    }
    if (left >= 0) AddBlocks(parts, left, right);
  }

 private:
  void TestBlocks(const std::uint32_t* before, const std::uint32_t* now, int first, int end) {
    const int b0 = first / kChangeBlock, b1 = (end - 1) / kChangeBlock;
    for (int w = b0 / 64; w <= b1 / 64; ++w) {
      const std::uint64_t d = dirty_[w];
      const std::uint64_t leftDirty = d << 1 | (w > 0 ? dirty_[w - 1] >> 63 : 0);
      const std::uint64_t rightDirty = d >> 1 | (w + 1 < kMaskWords ? dirty_[w + 1] << 63 : 0);
      std::uint64_t todo = ~(d & leftDirty & rightDirty) & InRange(w, b0, b1);
      for (; todo != 0; todo &= todo - 1) {
        const int b = w * 64 + std::countr_zero(todo);
        const int x = b * kChangeBlock;
        const std::uint32_t m =
            DifferingPixels(before + x, now + x, std::min(kChangeBlock, width_ - x));
        if (m == 0) continue;
        dirty_[w] |= std::uint64_t{1} << (b % 64);
        pixels_[b] = static_cast<std::uint16_t>(pixels_[b] | m);
      }
    }
  }

  // The bits of word w that stand for blocks b0..b1.
  static std::uint64_t InRange(int w, int b0, int b1) {
    const int lo = std::max(b0 - w * 64, 0), hi = std::min(b1 - w * 64, 63);
    if (lo > hi) return 0;
    const std::uint64_t upTo = hi == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (hi + 1)) - 1;
    return upTo & ~((std::uint64_t{1} << lo) - 1);
  }

  // Blocks left..right, from the first changed pixel of the one to the last of the other.
  void AddBlocks(PartList& parts, int left, int right) const {
    const int x0 = left * kChangeBlock + std::countr_zero(static_cast<unsigned>(pixels_[left]));
    const int x1 = right * kChangeBlock + std::bit_width(static_cast<unsigned>(pixels_[right]));
    AddPiece(parts, x0, x1);
  }

  // Columns x0..x1-1 over the rows whose changes reach into them.
  void AddPiece(PartList& parts, int x0, int x1) const {
    int top = -1, bottom = 0, l = x1, r = x0;
    for (int i = 0; i < rows_; ++i) {
      if (first_[i] >= end_[i] || first_[i] >= x1 || end_[i] <= x0) continue;
      if (top < 0) top = i;
      bottom = i + 1;
      l = std::min(l, std::max(first_[i], x0));
      r = std::max(r, std::min(end_[i], x1));
    }
    if (top >= 0) parts.Add({left_ + l, top_ + top, r - l, bottom - top});
  }

  int width_, left_, top_, rows_;
  bool split_;
  int first_[kChangeBandRows] = {}, end_[kChangeBandRows] = {};
  std::uint64_t dirty_[kMaskWords] = {};
  std::uint16_t pixels_[kMaxBlocks] = {};
};

// The parts of `now` within `area` (cut to now) against `before`'s part at (x, y), with kCopy
// copying each changed row's span into `before` once it is compared. The area is widened to
// whole bands and blocks, so that where nothing changed outside it the parts are those of the
// whole frame.
template <bool kCopy, typename Frame>
int Compare(Frame& before, int x, int y, const Bitmap32& now, RectXYWH area, RectXYWH* out,
            std::int64_t joinPixels) {
  if (now.Empty() || x < 0 || y < 0 || x > before.width - now.width ||
      y > before.height - now.height)
    return 0;
  const int left = std::max(area.x, 0) / kChangeBlock * kChangeBlock;
  const int right = std::min(area.x + area.width, now.width);
  const int first = std::max(area.y, 0) / kChangeBandRows * kChangeBandRows;
  const int last = std::min(area.y + area.height, now.height);
  if (right <= left || last <= first) return 0;
  PartList parts(kMaxChangedParts, joinPixels);
  const int width = right - left;
  for (int top = first; top < last; top += kChangeBandRows) {
    const int rows = std::min(kChangeBandRows, last - top);
    BandScan band(width, left, top, rows, now.width <= kMaxChangeColumns);
    bool changed = false;
    for (int i = 0; i < rows; ++i) {
      auto* p = before.Row(y + top + i) + x + left;
      const std::uint32_t* q = now.Row(top + i) + left;
      if (std::memcmp(p, q, static_cast<std::size_t>(width) * sizeof *q) == 0) {
        band.Unchanged(i);
        continue;
      }
      const int first = FirstDifference(p, q, 0, width);
      const int end = LastDifferenceEnd(p, q, first, width);
      band.Row(i, p, q, first, end);
      if constexpr (kCopy) std::copy(q + first, q + end, p + first);
      changed = true;
    }
    if (changed) band.AddPieces(parts);
  }
  for (int i = 0; i < parts.Count(); ++i) out[i] = parts[i];
  return parts.Count();
}

}  // namespace

int ChangedParts(const Bitmap32& before, const Bitmap32& now, RectXYWH* parts,
                 std::int64_t joinPixels) {
  if (before.width != now.width || before.height != now.height) return 0;
  return ChangedParts(before, 0, 0, now, parts, joinPixels);
}

int ChangedParts(const Bitmap32& before, int x, int y, const Bitmap32& now, RectXYWH* parts,
                 std::int64_t joinPixels) {
  return Compare<false>(before, x, y, now, {0, 0, now.width, now.height}, parts, joinPixels);
}

int CopyChangedParts(Bitmap32& before, int x, int y, const Bitmap32& now, RectXYWH* parts,
                     std::int64_t joinPixels) {
  return Compare<true>(before, x, y, now, {0, 0, now.width, now.height}, parts, joinPixels);
}

int CopyChangedParts(Bitmap32& before, int x, int y, const Bitmap32& now, const RectXYWH& area,
                     RectXYWH* parts, std::int64_t joinPixels) {
  return Compare<true>(before, x, y, now, area, parts, joinPixels);
}
