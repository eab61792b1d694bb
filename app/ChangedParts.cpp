// Comparing a frame with the one shown, band by band, into parts that keep far-apart changes
// apart.
#include "app/ChangedParts.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "app/PartList.h"
#include "render/PixelOps.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define OX_COMPARE_WIDE_SIMD 1
#include <immintrin.h>
#endif

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

  // Row `r` of the band: `before` and `now` differ between first and end (first < end), and
  // nowhere else.
  void Row(int r, int first, int end) {
    first_[r] = first;
    end_[r] = end;
  }
  void Unchanged(int r) { first_[r] = end_[r] = 0; }
  // The blocks of columns first..end-1 of a row of the band (a row's changes may be tested in
  // several spans, left to right).
  void TestBlocks(const std::uint32_t* before, const std::uint32_t* now, int first, int end) {
    if (split_) TestSpan(before, now, first, end);
  }

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
  void TestSpan(const std::uint32_t* before, const std::uint32_t* now, int first, int end) {
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

// The columns of a row that lie in the areas, left to right, with no column twice.
class RowSpans {
 public:
  // The areas are cut to `now`. Their rows are compared in the bands of the whole frame, and
  // their blocks whole, so that where nothing changed outside them the parts are those of the
  // whole frame.
  RowSpans(const BoxList& areas, const Bitmap32& now) {
    for (const RectLTRB& a : areas) {
      const RectLTRB r{std::max(a.left, 0), std::max(a.top, 0), std::min(a.right, now.width),
                       std::min(a.bottom, now.height)};
      if (EmptyRect(r)) continue;
      area_[count_++] = r;
      top_ = std::min(top_, r.top / kChangeBandRows * kChangeBandRows);
      bottom_ = std::max(bottom_, r.bottom);
    }
    // The boxes do not overlap: those in one row are in the order of their right edges.
    std::sort(area_, area_ + count_,
              [](const RectLTRB& a, const RectLTRB& b) { return a.right < b.right; });
  }

  int Top() const { return top_; }
  int Bottom() const { return bottom_; }
  // Whether some area reaches into rows y0..y1-1.
  bool Any(int y0, int y1) const {
    for (int k = 0; k < count_; ++k) {
      if (area_[k].top < y1 && area_[k].bottom > y0) return true;
    }
    return false;
  }
  // Calls f(first, end) for each span of row y, left to right.
  template <typename F>
  void ForEach(int y, F&& f) const {
    for (int k = 0; k < count_; ++k) {
      const RectLTRB& a = area_[k];
      if (y >= a.top && y < a.bottom) f(a.left, a.right);
    }
  }

 private:
  RectLTRB area_[kMaxBoxes];
  int count_ = 0;
  int top_ = INT_MAX, bottom_ = 0;
};

#if defined(OX_COMPARE_WIDE_SIMD)
// FirstDifference and LastDifferenceEnd eight pixels a step (256-bit vectors: short spans pay no
// wide-unit warm-up), the step at the far end cut to the columns by a mask, and 32 pixels a test
// over long unchanged runs.
__attribute__((target("avx512f,avx512vl"))) unsigned Differ8(const std::uint32_t* p,
                                                             const std::uint32_t* q, int n) {
  const __mmask8 in = n >= 8 ? 0xFF : static_cast<__mmask8>((1u << n) - 1);
  return _mm256_mask_cmpneq_epi32_mask(in, _mm256_maskz_loadu_epi32(in, p),
                                       _mm256_maskz_loadu_epi32(in, q));
}

__attribute__((target("avx512f,avx512vl"))) bool Same32(const std::uint32_t* p,
                                                        const std::uint32_t* q) {
  __m256i any = _mm256_setzero_si256();
  for (int i = 0; i < 32; i += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + i));
    any = _mm256_or_si256(any, _mm256_xor_si256(a, b));
  }
  return _mm256_testz_si256(any, any) != 0;
}

__attribute__((target("avx512f,avx512vl"))) int FirstDifferenceAvx512(const std::uint32_t* p,
                                                                      const std::uint32_t* q,
                                                                      int from, int to) {
  int i = from;
  while (i + 32 <= to && Same32(p + i, q + i)) i += 32;
  for (; i < to; i += 8) {
    const unsigned m = Differ8(p + i, q + i, to - i);
    if (m != 0) return i + std::countr_zero(m);
  }
  return to;
}

__attribute__((target("avx512f,avx512vl"))) int LastDifferenceEndAvx512(const std::uint32_t* p,
                                                                        const std::uint32_t* q,
                                                                        int from, int to) {
  int j = to;
  while (j - 32 >= from && Same32(p + j - 32, q + j - 32)) j -= 32;
  for (; j > from; j -= 8) {
    const int n = std::min(8, j - from);
    const unsigned m = Differ8(p + j - n, q + j - n, n);
    if (m != 0) return j - n + std::bit_width(m);
  }
  return from;
}
#endif

// Where columns l..r-1 of a row of `before` (p) and `now` (q) differ, into *first and *end
// (false when nowhere), each a single scan: from the left to the first difference, from the right
// to the last. The blocks of columns between go to `band`, and the pixels between to p.
bool CopySpan(PixelSimd simd, std::uint32_t* p, const std::uint32_t* q, int l, int r,
              BandScan& band, int* first, int* end) {
#if defined(OX_COMPARE_WIDE_SIMD)
  if (simd == PixelSimd::kAvx512) {
    *first = FirstDifferenceAvx512(p, q, l, r);
    if (*first == r) return false;
    *end = LastDifferenceEndAvx512(p, q, *first, r);
  } else
#endif
  {
    (void)simd;
    *first = FirstDifference(p, q, l, r);
    if (*first == r) return false;
    *end = LastDifferenceEnd(p, q, *first, r);
  }
  band.TestBlocks(p, q, *first, *end);
  std::memcpy(p + *first, q + *first, static_cast<std::size_t>(*end - *first) * sizeof *q);
  return true;
}

// The parts of `now` within `areas` against `before`'s part at (x, y). With kCopy each changed
// span of a row is copied into `before` once it is found; without, each row is first compared
// whole with the library's compare (the plain compare the copying one is tested against).
template <bool kCopy, typename Frame>
int Compare(Frame& before, int x, int y, const Bitmap32& now, const BoxList& areas, RectXYWH* out,
            std::int64_t joinPixels, PixelSimd simd) {
  if (now.Empty() || x < 0 || y < 0 || x > before.width - now.width ||
      y > before.height - now.height)
    return 0;
  const RowSpans spans(areas, now);
  PartList parts(kMaxChangedParts, joinPixels);
  for (int top = spans.Top(); top < spans.Bottom(); top += kChangeBandRows) {
    const int rows = std::min(kChangeBandRows, now.height - top);
    if (!spans.Any(top, top + rows)) continue;
    BandScan band(now.width, 0, top, rows, now.width <= kMaxChangeColumns);
    bool changed = false;
    for (int i = 0; i < rows; ++i) {
      auto* p = before.Row(y + top + i) + x;
      const std::uint32_t* q = now.Row(top + i);
      int rowFirst = -1, rowEnd = 0;
      spans.ForEach(top + i, [&](int l, int r) {
        int first, end;
        if constexpr (kCopy) {
          if (!CopySpan(simd, p, q, l, r, band, &first, &end)) return;
        } else {
          const std::size_t bytes = static_cast<std::size_t>(r - l) * sizeof *q;
          if (std::memcmp(p + l, q + l, bytes) == 0) return;
          first = FirstDifference(p, q, l, r);
          end = LastDifferenceEnd(p, q, first, r);
          band.TestBlocks(p, q, first, end);
        }
        if (rowFirst < 0) rowFirst = first;
        rowEnd = end;
      });
      if (rowFirst < 0) {
        band.Unchanged(i);
        continue;
      }
      band.Row(i, rowFirst, rowEnd);
      changed = true;
    }
    if (changed) band.AddPieces(parts);
  }
  for (int i = 0; i < parts.Count(); ++i) out[i] = parts[i];
  return parts.Count();
}

BoxList Whole(const Bitmap32& now) {
  return BoxList({0, 0, now.width, now.height});
}

}  // namespace

int ChangedParts(const Bitmap32& before, const Bitmap32& now, RectXYWH* parts,
                 std::int64_t joinPixels) {
  if (before.width != now.width || before.height != now.height) return 0;
  return ChangedParts(before, 0, 0, now, parts, joinPixels);
}

int ChangedParts(const Bitmap32& before, int x, int y, const Bitmap32& now, RectXYWH* parts,
                 std::int64_t joinPixels) {
  return Compare<false>(before, x, y, now, Whole(now), parts, joinPixels, PixelSimd::kBase);
}

int CopyChangedParts(Bitmap32& before, int x, int y, const Bitmap32& now, RectXYWH* parts,
                     std::int64_t joinPixels, PixelSimd simd) {
  return Compare<true>(before, x, y, now, Whole(now), parts, joinPixels, simd);
}

int CopyChangedParts(Bitmap32& before, int x, int y, const Bitmap32& now, const BoxList& areas,
                     RectXYWH* parts, std::int64_t joinPixels, PixelSimd simd) {
  return Compare<true>(before, x, y, now, areas, parts, joinPixels, simd);
}
