// Rectangle operations on 32-bit bitmaps: copies, fills, raster combinations, the transparent
// mask blit, the two stretching modes, turning, and the exact area-weight tables.
#include "render/PixelOps.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define OX_PIXEL_WIDE_SIMD 1
#include <immintrin.h>
#endif

namespace {

constexpr std::uint32_t kColourBits = 0x00FFFFFFu;

// Clips a w x h copy from src (sx, sy) to dst (dx, dy) against both bitmaps; false when empty.
bool ClipCopy(const Bitmap32& dst, int& dx, int& dy, const Bitmap32& src, int& sx, int& sy, int& w,
              int& h) {
  if (sx < 0) dx -= sx, w += sx, sx = 0;
  if (sy < 0) dy -= sy, h += sy, sy = 0;
  if (dx < 0) sx -= dx, w += dx, dx = 0;
  if (dy < 0) sy -= dy, h += dy, dy = 0;
  w = std::min({w, src.width - sx, dst.width - dx});
  h = std::min({h, src.height - sy, dst.height - dy});
  return w > 0 && h > 0;
}

bool ClipRect(const Bitmap32& dst, int& x, int& y, int& w, int& h) {
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  w = std::min(w, dst.width - x);
  h = std::min(h, dst.height - y);
  return w > 0 && h > 0;
}

template <typename Op>
void Combine(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h,
             Op op) {
  if (!ClipCopy(dst, dx, dy, src, sx, sy, w, h)) return;
  for (int y = 0; y < h; ++y) {
    std::uint32_t* d = dst.Row(dy + y) + dx;
    const std::uint32_t* s = src.Row(sy + y) + sx;
    for (int x = 0; x < w; ++x) d[x] = op(d[x], s[x]);
  }
}

// One axis of a stretch: destination pixels first..last-1 of a logical run of `m`, fed from a
// run of `n` source pixels starting at `origin` (read backwards when `flip`), clamped to
// 0..limit-1 so that a source rectangle reaching past its bitmap never reads outside it.
struct Axis {
  int origin, n, m, first, last, limit;
  bool flip;

  int SourceOf(std::int64_t k) const {
    const std::int64_t v = flip ? origin + n - 1 - k : origin + k;
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, limit - 1));
  }
};

// Source pixel for each destination pixel of the axis: the one under the pixel's centre.
void DropTable(const Axis& a, std::vector<int>& t) {
  t.resize(static_cast<std::size_t>(a.last - a.first));
  for (int j = a.first; j < a.last; ++j) {
    t[j - a.first] = a.SourceOf((2 * static_cast<std::int64_t>(j) + 1) * a.n / (2 * a.m));
  }
}

// Area coverage of source pixels for each destination pixel, weights summing to exactly `one`
// per destination pixel (cumulative rounding). Every pixel gets the same number `k` of
// (source, weight) pairs, padded with zero weights on the pixel's first source, so the inner
// loops have a fixed length. Sources are stored relative to `lo`, the lowest one used, and
// `hi` is the highest.
struct AreaTable {
  int k = 1;
  int lo = 0;
  int hi = 0;
  std::vector<int> src;  // k per destination pixel
  std::vector<std::uint32_t> weight;
};

void AverageTable(const Axis& a, std::uint32_t one, AreaTable& t) {
  const std::int64_t n = a.n, m = a.m;
  t.k = static_cast<int>((n + m - 1) / m) + 1;  // a run of n / m pixels may straddle two more
  const std::size_t count = static_cast<std::size_t>(a.last - a.first);
  const std::size_t k = static_cast<std::size_t>(t.k);
  t.src.resize(count * k);
  t.weight.resize(count * k);
  std::size_t widest = 0;
  int lo = a.limit, hi = 0;
  for (std::int64_t j = a.first; j < a.last; ++j) {
    const std::size_t base = static_cast<std::size_t>(j - a.first) * k;
    const std::int64_t from = j * n, to = from + n;  // in units where a source pixel is m wide
    std::int64_t cum = 0;
    std::uint32_t given = 0;
    std::size_t used = 0;
    for (std::int64_t s = from / m; s * m < to; ++s) {
      cum += std::min(to, (s + 1) * m) - std::max(from, s * m);
      const std::uint32_t upTo = static_cast<std::uint32_t>(cum * one / n);
      if (upTo == given) continue;
      assert(used < k);
      const int source = a.SourceOf(s);
      lo = std::min(lo, source);
      hi = std::max(hi, source);
      t.src[base + used] = source;
      t.weight[base + used] = upTo - given;
      ++used;
      given = upTo;
    }
    for (std::size_t c = used; c < k; ++c) {
      t.src[base + c] = used > 0 ? t.src[base] : a.SourceOf(from / m);
      t.weight[base + c] = 0;
    }
    widest = std::max(widest, used);
  }
  lo = std::min(lo, hi);
  // Aligned runs (equal sizes, whole multiples) need one pair fewer than the bound: repack.
  if (widest < k && widest > 0) {
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t c = 0; c < widest; ++c) {
        t.src[i * widest + c] = t.src[i * k + c];
        t.weight[i * widest + c] = t.weight[i * k + c];
      }
    }
    t.src.resize(count * widest);
    t.weight.resize(count * widest);
    t.k = static_cast<int>(widest);
  }
  // Padding pairs may name a source outside lo..hi when a pixel had no weight at all.
  for (int& s : t.src) s = std::clamp(s, lo, hi) - lo;
  t.lo = lo;
  t.hi = hi;
}

#if defined(__SSE2__)
struct Vec128 {
  __m128i v;
};
#endif

// Tables and row buffers of the stretches, kept between calls so that drawing frame after
// frame allocates nothing once the largest sizes have been seen; one set per thread, since
// every thread may draw into bitmaps of its own.
struct StretchScratch {
  std::vector<int> cols, rows;  // drop mode
  AreaTable colArea, rowArea;   // averaging mode
  std::vector<int> ringRow;     // the source row each ring buffer holds
#if defined(__SSE2__)
  std::vector<std::uint16_t> ring16;           // resampled rows, four 16-bit channels a pixel
  std::vector<const std::uint16_t*> pairRows;  // the rows of one destination row
  std::vector<std::uint32_t> rowWeight;        // and their weights, two 16-bit ones a pair
  std::vector<int> pairSrc;                    // first source of each pair of column taps
  std::vector<Vec128> pairWeight;              // their two 16-bit weights, for four channels
  std::vector<std::uint32_t> tapWeight;
  std::vector<Vec128> pairRow;  // one source row as pairs of neighbours
#else
  std::vector<std::uint64_t> lanes;
  std::vector<std::uint64_t> ring;
  std::vector<const std::uint64_t*> laneRows;
#endif
};

StretchScratch& Scratch() {
  thread_local StretchScratch s;
  return s;
}

// The destination pixels j of an axis that are written: d + j inside both the bitmap (0 ..
// size) and the clip (c .. c + cn), j inside 0 .. n.
int ClipFirst(int d, int c) {
  return static_cast<int>(
      std::max<std::int64_t>({0, -static_cast<std::int64_t>(d), static_cast<std::int64_t>(c) - d}));
}

int ClipLast(int d, int n, int size, int c, int cn) {
  const std::int64_t end = std::min<std::int64_t>(size, static_cast<std::int64_t>(c) + cn);
  return static_cast<int>(std::clamp<std::int64_t>(end - d, std::numeric_limits<int>::min(), n));
}

// Whole-number enlargements by 2 and 3 (the full-screen modes on common screens) are made four
// source pixels at a time where SSE2 is there; the table of columns serves all others.
#if defined(__SSE2__)
constexpr bool kRepeatColumns = true;

// Destination pixels first..first+w-1 of a run in which pixel j shows source pixel j / k, for
// k = 2 or 3.
void RepeatColumns(const std::uint32_t* s, int first, int w, int k, std::uint32_t* d) {
  int j = first;
  const int end = first + w;
  for (; j < end && j % k != 0; ++j) *d++ = s[j / k];
  auto store = [](std::uint32_t* at, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
  };
  if (k == 2) {  // four source pixels give eight
    for (; j + 8 <= end; j += 8, d += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + j / 2));
      store(d, _mm_unpacklo_epi32(v, v));
      store(d + 4, _mm_unpackhi_epi32(v, v));
    }
  } else {  // and twelve
    for (; j + 12 <= end; j += 12, d += 12) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + j / 3));
      store(d, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 0, 0)));
      store(d + 4, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 1, 1)));
      store(d + 8, _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 2)));
    }
  }
  for (; j < end; ++j) *d++ = s[j / k];
}
#else
constexpr bool kRepeatColumns = false;

void RepeatColumns(const std::uint32_t*, int, int, int, std::uint32_t*) {}
#endif

void StretchDrop(Bitmap32& dst, const Bitmap32& src, const Axis& ax, const Axis& ay, int dx,
                 int dy) {
  StretchScratch& sc = Scratch();
  // A whole-number enlargement of a source inside its bitmap takes every source pixel `k` times
  // in turn, which needs no table.
  const int k = ax.m % ax.n == 0 ? ax.m / ax.n : 0;
  const bool repeat = kRepeatColumns && (k == 2 || k == 3) && !ax.flip && ax.origin >= 0 &&
                      ax.origin + ax.n <= ax.limit;
  if (!repeat) DropTable(ax, sc.cols);
  DropTable(ay, sc.rows);
  const int* cols = sc.cols.data();
  const int w = ax.last - ax.first;
  const std::uint32_t* previous = nullptr;
  for (int j = 0; j < ay.last - ay.first; ++j) {
    std::uint32_t* d = dst.Row(dy + ay.first + j) + dx + ax.first;
    // An enlarged picture repeats source rows: the row made just before is copied whole. (When
    // the source and the destination are one bitmap the row may have been written over since,
    // so the repeat is only taken between different bitmaps.)
    if (previous && sc.rows[j] == sc.rows[j - 1]) {
      std::copy_n(previous, w, d);
    } else {
      const std::uint32_t* s = src.Row(sc.rows[j]);
      if (repeat) {
        RepeatColumns(s + ax.origin, ax.first, w, k, d);
      } else {
        for (int i = 0; i < w; ++i) d[i] = s[cols[i]];
      }
      if (&src != &dst) previous = d;
    }
  }
}

// Both averaging paths below give the same bytes. Per channel c of a destination pixel, with
// column weights to 4096 and row weights to 1024 (each set summing exactly to its one):
//   h(row) = (sum of wx x s_c + 512) >> 10       (the row resampled, 2 fractional bits)
//   out    = (sum of wy x h(row) + 2048) >> 12   (the rows combined, back to 8 bits)
// The result is within one level of the exact covered-area average; the fourth byte is 0.
constexpr std::uint32_t kColumnOne = 4096;
constexpr std::uint32_t kRowOne = 1024;

// Each source row is resampled horizontally once, by resample(y, out), into a ring of rows.k
// buffers of `size` values: the rows of one destination row are consecutive (or repeat at a
// clamped edge), so the ring holds all of them, and the next destination row finds the rows it
// shares. combine(j, h) then writes destination row j from its rows h (h has one spare slot).
// A destination row with the same rows at the same weights as the one before it (an enlargement
// repeats a source row) is the same pixels: repeat(j) copies row j - 1 into it.
template <typename Value, typename Resample, typename Combine, typename Repeat>
void RingOfRows(const AreaTable& rows, int count, std::size_t size, std::vector<Value>& ring,
                std::vector<int>& ringRow, std::vector<const Value*>& h, Resample resample,
                Combine combine, Repeat repeat) {
  const std::size_t rk = static_cast<std::size_t>(rows.k);
  ring.resize(rk * size);
  ringRow.assign(rk, -1);
  h.resize(rk + 1);
  for (int j = 0; j < count; ++j) {
    const std::size_t base = static_cast<std::size_t>(j) * rk;
    if (j > 0 &&
        std::equal(rows.src.begin() + base, rows.src.begin() + base + rk,
                   rows.src.begin() + base - rk) &&
        std::equal(rows.weight.begin() + base, rows.weight.begin() + base + rk,
                   rows.weight.begin() + base - rk)) {
      repeat(j);
      continue;
    }
    for (std::size_t k = 0; k < rk; ++k) {
      const int y = rows.src[base + k] + rows.lo;
      const std::size_t slot = static_cast<std::size_t>(y) % rk;
      Value* out = ring.data() + slot * size;
      if (ringRow[slot] != y) {
        ringRow[slot] = y;
        resample(y, out);
      }
      h[k] = out;
    }
    combine(j, h.data());
  }
}

// Copies destination row j - 1 (w pixels from column dx, rows counted from `top`) into row j.
auto RepeatRow(Bitmap32& dst, int dx, int top, std::size_t w) {
  return [&dst, dx, top, w](int j) {
    std::copy_n(dst.Row(top + j - 1) + dx, w, dst.Row(top + j) + dx);
  };
}

#if defined(__SSE2__)

// The column taps of each destination pixel as pairs of neighbouring sources (x, x + 1) with
// their two 16-bit weights repeated for the four channels, so that one multiply (pmaddwd) of a
// pair row (below) takes two taps. Taps on one source add up; pairs a pixel does not need have
// weight 0. Returns the pair count per pixel.
std::size_t PairColumns(const AreaTable& cols, std::size_t w, StretchScratch& sc) {
  const std::size_t k = static_cast<std::size_t>(cols.k);
  std::size_t kp = 1;
  for (std::size_t i = 0; i < w; ++i) {
    int lo = std::numeric_limits<int>::max(), hi = 0;
    for (std::size_t c = i * k; c < i * k + k; ++c) {
      if (cols.weight[c] == 0) continue;
      lo = std::min(lo, cols.src[c]);
      hi = std::max(hi, cols.src[c]);
    }
    if (hi >= lo) kp = std::max(kp, static_cast<std::size_t>(hi - lo) / 2 + 1);
  }
  sc.pairSrc.resize(w * kp);
  sc.pairWeight.resize(w * kp);
  sc.tapWeight.resize(2 * kp);
  for (std::size_t i = 0; i < w; ++i) {
    int lo = std::numeric_limits<int>::max();
    for (std::size_t c = i * k; c < i * k + k; ++c) {
      if (cols.weight[c] != 0) lo = std::min(lo, cols.src[c]);
    }
    if (lo == std::numeric_limits<int>::max()) lo = cols.src[i * k];
    std::fill(sc.tapWeight.begin(), sc.tapWeight.end(), 0u);
    for (std::size_t c = i * k; c < i * k + k; ++c) {
      if (cols.weight[c] != 0)
        sc.tapWeight[static_cast<std::size_t>(cols.src[c] - lo)] += cols.weight[c];
    }
    for (std::size_t p = 0; p < kp; ++p) {
      const std::uint32_t w0 = sc.tapWeight[2 * p], w1 = sc.tapWeight[2 * p + 1];
      sc.pairSrc[i * kp + p] = w0 | w1 ? lo + static_cast<int>(2 * p) : lo;
      sc.pairWeight[i * kp + p].v = _mm_set1_epi32(static_cast<int>(w0 | w1 << 16));
    }
  }
  return kp;
}

// Pair x of a source row: pixels x and x + 1 (x again at the row's end) with their channels
// side by side in 16 bits, b0 b1 g0 g1 r0 r1 and the fourth bytes.
void PairRow(const std::uint32_t* s, std::size_t span, Vec128* out) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t x = 0;
  for (; x + 5 <= span; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 1));
    const __m128i lo = _mm_unpacklo_epi8(v, next), hi = _mm_unpackhi_epi8(v, next);
    out[x].v = _mm_unpacklo_epi8(lo, zero);
    out[x + 1].v = _mm_unpackhi_epi8(lo, zero);
    out[x + 2].v = _mm_unpacklo_epi8(hi, zero);
    out[x + 3].v = _mm_unpackhi_epi8(hi, zero);
  }
  for (; x < span; ++x) {
    const __m128i a = _mm_cvtsi32_si128(static_cast<int>(s[x]));
    const __m128i b = _mm_cvtsi32_si128(static_cast<int>(s[std::min(x + 1, span - 1)]));
    out[x].v = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
  }
}

// h of one destination pixel: the four channels as 32-bit values.
template <int KP>
inline __m128i ResamplePixel(const Vec128* pairs, const int* src, const Vec128* weight,
                             std::size_t kp) {
  __m128i acc = _mm_set1_epi32(512);
  const std::size_t n = KP > 0 ? static_cast<std::size_t>(KP) : kp;
  for (std::size_t p = 0; p < n; ++p) {
    acc = _mm_add_epi32(acc, _mm_madd_epi16(pairs[src[p]].v, weight[p].v));
  }
  return _mm_srli_epi32(acc, 10);
}

// One source row, made into pairs, onto the destination columns: two pixels a store of eight
// 16-bit channels.
template <int KP>
void ResampleRow16K(const Vec128* pairs, const StretchScratch& sc, std::size_t w, std::size_t kp,
                    std::uint16_t* out) {
  const int* src = sc.pairSrc.data();
  const Vec128* weight = sc.pairWeight.data();
  std::size_t i = 0;
  for (; i + 2 <= w; i += 2, src += 2 * kp, weight += 2 * kp) {
    const __m128i h0 = ResamplePixel<KP>(pairs, src, weight, kp);
    const __m128i h1 = ResamplePixel<KP>(pairs, src + kp, weight + kp, kp);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_packs_epi32(h0, h1));
  }
  if (i < w) {
    const __m128i h0 = ResamplePixel<KP>(pairs, src, weight, kp);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * i),
                     _mm_packs_epi32(h0, _mm_setzero_si128()));
  }
}

void ResampleRow16(const Vec128* pairs, const StretchScratch& sc, std::size_t w, std::size_t kp,
                   std::uint16_t* out) {
  switch (kp) {
    case 1:
      return ResampleRow16K<1>(pairs, sc, w, kp, out);
    case 2:
      return ResampleRow16K<2>(pairs, sc, w, kp, out);
    case 3:
      return ResampleRow16K<3>(pairs, sc, w, kp, out);
    default:
      return ResampleRow16K<0>(pairs, sc, w, kp, out);
  }
}

// One destination row from its resampled rows (each padded to a multiple of four pixels),
// given as pairs with their 16-bit weight pairs: two rows per multiply, four pixels a store.
template <int KP>
void CombineRows16K(const std::uint16_t* const* rows, const std::uint32_t* pairWeight,
                    std::size_t kp, std::size_t w, std::uint32_t* d) {
  const std::size_t n = KP > 0 ? static_cast<std::size_t>(KP) : kp;
  const __m128i round = _mm_set1_epi32(2048);
  const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourBits));
  for (std::size_t i = 0; i < w; i += 4) {
    __m128i a0 = round, a1 = round, a2 = round, a3 = round;
    for (std::size_t p = 0; p < n; ++p) {
      const __m128i wv = _mm_set1_epi32(static_cast<int>(pairWeight[p]));
      const __m128i* u = reinterpret_cast<const __m128i*>(rows[2 * p] + 4 * i);
      const __m128i* v = reinterpret_cast<const __m128i*>(rows[2 * p + 1] + 4 * i);
      const __m128i u0 = _mm_loadu_si128(u), u1 = _mm_loadu_si128(u + 1);
      const __m128i v0 = _mm_loadu_si128(v), v1 = _mm_loadu_si128(v + 1);
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(u0, v0), wv));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(u0, v0), wv));
      a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi16(u1, v1), wv));
      a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi16(u1, v1), wv));
    }
    const __m128i lo = _mm_packs_epi32(_mm_srli_epi32(a0, 12), _mm_srli_epi32(a1, 12));
    const __m128i hi = _mm_packs_epi32(_mm_srli_epi32(a2, 12), _mm_srli_epi32(a3, 12));
    const __m128i px = _mm_and_si128(_mm_packus_epi16(lo, hi), colour);
    if (i + 4 <= w) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), px);
    } else {
      alignas(16) std::uint32_t last[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(last), px);
      std::copy_n(last, w - i, d + i);
    }
  }
}

void CombineRows16(const std::uint16_t* const* rows, const std::uint32_t* pairWeight,
                   std::size_t kp, std::size_t w, std::uint32_t* d) {
  switch (kp) {
    case 1:
      return CombineRows16K<1>(rows, pairWeight, kp, w, d);
    case 2:
      return CombineRows16K<2>(rows, pairWeight, kp, w, d);
    default:
      return CombineRows16K<0>(rows, pairWeight, kp, w, d);
  }
}

void AverageRows(Bitmap32& dst, const Bitmap32& src, const Axis& ay, int dx, int dy,
                 StretchScratch& sc, std::size_t w) {
  const AreaTable& cols = sc.colArea;
  const AreaTable& rows = sc.rowArea;
  const std::size_t rk = static_cast<std::size_t>(rows.k), rp = (rk + 1) / 2;
  const std::size_t span = static_cast<std::size_t>(cols.hi - cols.lo + 1);
  const std::size_t stride = (w + 3) & ~std::size_t{3};  // whole blocks of four for the combine
  const std::size_t kp = PairColumns(cols, w, sc);
  sc.pairRow.resize(span);
  sc.rowWeight.resize(rp);
  auto resample = [&](int y, std::uint16_t* out) {
    PairRow(src.Row(y) + cols.lo, span, sc.pairRow.data());
    ResampleRow16(sc.pairRow.data(), sc, w, kp, out);
  };
  auto combine = [&](int j, const std::uint16_t** h) {
    // An odd row count is padded with its first row at weight 0.
    h[rk] = h[0];
    const std::uint32_t* weight = rows.weight.data() + static_cast<std::size_t>(j) * rk;
    for (std::size_t p = 0; p < rp; ++p) {
      sc.rowWeight[p] = weight[2 * p] | (2 * p + 1 < rk ? weight[2 * p + 1] << 16 : 0);
    }
    CombineRows16(h, sc.rowWeight.data(), rp, w, dst.Row(dy + ay.first + j) + dx);
  };
  RingOfRows(rows, ay.last - ay.first, stride * 4, sc.ring16, sc.ringRow, sc.pairRows, resample,
             combine, RepeatRow(dst, dx, dy + ay.first, w));
}

#else

// Without SSE2 the three channels are worked on at once, each in a 21-bit lane of a 64-bit
// value: a column sum is at most 255 x 4096 + 512 < 2^20 and a row sum 1020 x 1024 + 2048
// < 2^21, so no lane carries into the next.
constexpr int kLaneG = 21, kLaneR = 42;
constexpr std::uint64_t kLane10 = 0x3FFull | (0x3FFull << kLaneG) | (0x3FFull << kLaneR);
constexpr std::uint64_t kColumnHalf = 512ull | (512ull << kLaneG) | (512ull << kLaneR);

inline std::uint64_t Lanes(std::uint32_t p) {
  return (static_cast<std::uint64_t>(p & 0xFF0000) << (kLaneR - 16)) |
         (static_cast<std::uint64_t>(p & 0xFF00) << (kLaneG - 8)) | (p & 0xFF);
}

inline std::uint32_t FromLanes(std::uint64_t v) {
  constexpr std::uint64_t kMask = (1u << kLaneG) - 1, kHalf = 1u << 11;
  const auto c = [&](int shift) {
    return static_cast<std::uint32_t>((((v >> shift) & kMask) + kHalf) >> 12);
  };
  return (c(kLaneR) << 16) | (c(kLaneG) << 8) | c(0);
}

// One source row (already in lanes) weighted onto the destination columns, in lanes of 2
// fractional bits.
template <int K>
void ResampleRowK(const std::uint64_t* s, const int* src, const std::uint32_t* weight,
                  std::size_t w, std::size_t k, std::uint64_t* out) {
  const std::size_t n = K > 0 ? static_cast<std::size_t>(K) : k;
  for (std::size_t i = 0; i < w; ++i, src += n, weight += n) {
    std::uint64_t sum = 0;
    for (std::size_t c = 0; c < n; ++c) sum += weight[c] * s[src[c]];
    out[i] = ((sum + kColumnHalf) >> 10) & kLane10;
  }
}

void ResampleRow(const std::uint64_t* s, const AreaTable& cols, std::size_t w, std::uint64_t* out) {
  const int* src = cols.src.data();
  const std::uint32_t* weight = cols.weight.data();
  const std::size_t k = static_cast<std::size_t>(cols.k);
  switch (k) {
    case 1:
      return ResampleRowK<1>(s, src, weight, w, k, out);
    case 2:
      return ResampleRowK<2>(s, src, weight, w, k, out);
    case 3:
      return ResampleRowK<3>(s, src, weight, w, k, out);
    default:
      return ResampleRowK<0>(s, src, weight, w, k, out);
  }
}

// One destination row: the weighted sum of its K resampled source rows, back to pixels.
template <int K>
void CombineRowsK(const std::uint64_t* const* h, const std::uint32_t* weight, std::size_t k,
                  std::size_t w, std::uint32_t* d) {
  const std::size_t n = K > 0 ? static_cast<std::size_t>(K) : k;
  for (std::size_t i = 0; i < w; ++i) {
    std::uint64_t sum = 0;
    for (std::size_t c = 0; c < n; ++c) sum += weight[c] * h[c][i];
    d[i] = FromLanes(sum);
  }
}

void CombineRows(const std::uint64_t* const* h, const std::uint32_t* weight, std::size_t k,
                 std::size_t w, std::uint32_t* d) {
  switch (k) {
    case 1:
      return CombineRowsK<1>(h, weight, k, w, d);
    case 2:
      return CombineRowsK<2>(h, weight, k, w, d);
    case 3:
      return CombineRowsK<3>(h, weight, k, w, d);
    default:
      return CombineRowsK<0>(h, weight, k, w, d);
  }
}

void AverageRows(Bitmap32& dst, const Bitmap32& src, const Axis& ay, int dx, int dy,
                 StretchScratch& sc, std::size_t w) {
  const AreaTable& cols = sc.colArea;
  const AreaTable& rows = sc.rowArea;
  const std::size_t span = static_cast<std::size_t>(cols.hi - cols.lo + 1);
  sc.lanes.resize(span);
  auto resample = [&](int y, std::uint64_t* out) {
    const std::uint32_t* s = src.Row(y) + cols.lo;
    for (std::size_t x = 0; x < span; ++x) sc.lanes[x] = Lanes(s[x]);
    ResampleRow(sc.lanes.data(), cols, w, out);
  };
  auto combine = [&](int j, const std::uint64_t** h) {
    const std::size_t rk = static_cast<std::size_t>(rows.k);
    CombineRows(h, rows.weight.data() + static_cast<std::size_t>(j) * rk, rk, w,
                dst.Row(dy + ay.first + j) + dx);
  };
  RingOfRows(rows, ay.last - ay.first, w, sc.ring, sc.ringRow, sc.laneRows, resample, combine,
             RepeatRow(dst, dx, dy + ay.first, w));
}

#endif

void StretchAverage(Bitmap32& dst, const Bitmap32& src, const Axis& ax, const Axis& ay, int dx,
                    int dy) {
  StretchScratch& sc = Scratch();
  AverageTable(ax, kColumnOne, sc.colArea);
  AverageTable(ay, kRowOne, sc.rowArea);
  AverageRows(dst, src, ay, dx + ax.first, dy, sc, static_cast<std::size_t>(ax.last - ax.first));
}

}  // namespace

void StretchBlt(Bitmap32& dst, int dx, int dy, int dw, int dh, const Bitmap32& src, int sx, int sy,
                int sw, int sh, int mode) {
  StretchBlt(dst, dx, dy, dw, dh, src, sx, sy, sw, sh, mode, 0, 0, dst.width, dst.height);
}

void StretchBlt(Bitmap32& dst, int dx, int dy, int dw, int dh, const Bitmap32& src, int sx, int sy,
                int sw, int sh, int mode, int cx, int cy, int cw, int ch) {
  if (cw <= 0 || ch <= 0) return;
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0 || src.Empty() || dst.Empty()) return;
  constexpr int kLowest = std::numeric_limits<int>::min();  // cannot be negated
  if (dw == kLowest || dh == kLowest || sw == kLowest || sh == kLowest) return;
  bool flipX = false, flipY = false;
  // A rectangle with a negative size spans from its origin back to origin + size; a sign
  // difference between source and destination mirrors.
  if (dw < 0) dx += dw, dw = -dw, flipX = !flipX;
  if (dh < 0) dy += dh, dh = -dh, flipY = !flipY;
  if (sw < 0) sx += sw, sw = -sw, flipX = !flipX;
  if (sh < 0) sy += sh, sh = -sh, flipY = !flipY;
  Axis ax{sx, sw, dw, ClipFirst(dx, cx), ClipLast(dx, dw, dst.width, cx, cw), src.width, flipX};
  Axis ay{sy, sh, dh, ClipFirst(dy, cy), ClipLast(dy, dh, dst.height, cy, ch), src.height, flipY};
  if (ax.first >= ax.last || ay.first >= ay.last) return;
  if (mode == kStretchAverage) {
    StretchAverage(dst, src, ax, ay, dx, dy);
  } else {
    StretchDrop(dst, src, ax, ay, dx, dy);
  }
}

// Four pixels at a time.
int FirstDifference(const std::uint32_t* p, const std::uint32_t* q, int from, int to) {
  int i = from;
#if defined(__SSE2__)
  for (; i + 4 <= to; i += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, b)) != 0xFFFF) break;
  }
#endif
  while (i < to && p[i] == q[i]) ++i;
  return i;
}

// Four pixels at a time, from the end.
int LastDifferenceEnd(const std::uint32_t* p, const std::uint32_t* q, int from, int to) {
  int j = to;
#if defined(__SSE2__)
  for (; j - 4 >= from; j -= 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j - 4));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + j - 4));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, b)) != 0xFFFF) break;
  }
#endif
  while (j > from && p[j - 1] == q[j - 1]) --j;
  return j;
}

std::uint32_t DifferingPixels(const std::uint32_t* p, const std::uint32_t* q, int n) {
#if defined(__SSE2__)
  if (n == 16) {
    const auto equal = [&](int i) {
      return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i)));
    };
    // Each lane is all ones or all zeros, so packing keeps it whole: one byte a pixel.
    const __m128i bytes =
        _mm_packs_epi16(_mm_packs_epi32(equal(0), equal(4)), _mm_packs_epi32(equal(8), equal(12)));
    return ~static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)) & 0xFFFFu;
  }
#endif
  std::uint32_t m = 0;
  for (int i = 0; i < n && i < 32; ++i) m |= static_cast<std::uint32_t>(p[i] != q[i]) << i;
  return m;
}

bool ChangedRect(const Bitmap32& a, const Bitmap32& b, int* x, int* y, int* w, int* h) {
  return ChangedRect(a, b, 0, a.height, x, y, w, h);
}

bool ChangedRect(const Bitmap32& a, const Bitmap32& b, int firstRow, int endRow, int* x, int* y,
                 int* w, int* h) {
  *x = *y = *w = *h = 0;
  if (a.width != b.width || a.height != b.height) return false;
  return ChangedRectAt(a, 0, 0, b, firstRow, endRow, x, y, w, h);
}

bool ChangedRectAt(const Bitmap32& a, int ax, int ay, const Bitmap32& b, int firstRow, int endRow,
                   int* x, int* y, int* w, int* h) {
  *x = *y = *w = *h = 0;
  if (b.Empty() || ax < 0 || ay < 0 || ax > a.width - b.width || ay > a.height - b.height)
    return false;
  const int width = b.width;
  int left = width, right = 0, top = -1, bottom = 0;
  for (int r = std::max(firstRow, 0); r < std::min(endRow, b.height); ++r) {
    const std::uint32_t* p = a.Row(ay + r) + ax;
    const std::uint32_t* q = b.Row(r);
    if (std::equal(p, p + width, q)) continue;
    // Only the columns outside the span found so far need looking at.
    left = std::min(left, FirstDifference(p, q, 0, left));
    right = std::max(right, LastDifferenceEnd(p, q, right, width));
    if (top < 0) top = r;
    bottom = r + 1;
  }
  if (top < 0) return false;
  *x = left;
  *y = top;
  *w = right - left;
  *h = bottom - top;
  return true;
}

void CopyRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h) {
  if (!ClipCopy(dst, dx, dy, src, sx, sy, w, h)) return;
  for (int y = 0; y < h; ++y) {
    std::copy_n(src.Row(sy + y) + sx, w, dst.Row(dy + y) + dx);
  }
}

namespace {

// n pixels of one value in 16-byte stores: a loop of 32-bit stores (what std::fill_n becomes)
// runs at a quarter of memory speed. A value of four equal bytes is a memset.
void FillPixels(std::uint32_t* d, std::size_t n, std::uint32_t v) {
  if (v == (v & 0xFFu) * 0x01010101u) {
    std::memset(d, static_cast<int>(v & 0xFFu), n * sizeof *d);
    return;
  }
#if defined(__SSE2__)
  const __m128i p = _mm_set1_epi32(static_cast<int>(v));
  for (; n >= 8; n -= 8, d += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), p);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4), p);
  }
#endif
  for (; n > 0; --n) *d++ = v;
}

}  // namespace

void FillRect(Bitmap32& dst, int x, int y, int w, int h, std::uint32_t colour) {
  if (!ClipRect(dst, x, y, w, h)) return;
  if (w == dst.width) {  // whole rows are one run of memory
    FillPixels(dst.Row(y), static_cast<std::size_t>(w) * static_cast<std::size_t>(h), colour);
    return;
  }
  for (int r = 0; r < h; ++r) FillPixels(dst.Row(y + r) + x, static_cast<std::size_t>(w), colour);
}

void MovePixels(Bitmap32& bmp, int dx, int dy) {
  if (bmp.Empty() || dx <= -bmp.width || dx >= bmp.width || dy <= -bmp.height || dy >= bmp.height)
    return;
  const std::size_t n = static_cast<std::size_t>(bmp.width - std::abs(dx));
  const int from = std::max(0, -dx), to = std::max(0, dx);
  // Rows are taken in the order that reads each source row before it is written over.
  const int rows = bmp.height - std::abs(dy);
  for (int i = 0; i < rows; ++i) {
    const int y = dy > 0 ? bmp.height - 1 - i : i;
    std::memmove(bmp.Row(y) + to, bmp.Row(y - dy) + from, n * sizeof(std::uint32_t));
  }
}

void MovedPixelsInto(Bitmap32& dst, const Bitmap32& src, int dx, int dy, int x, int y, int w,
                     int h) {
  if (dst.width != src.width || dst.height != src.height || !ClipRect(dst, x, y, w, h)) return;
  const bool moves =
      !(dx <= -src.width || dx >= src.width || dy <= -src.height || dy >= src.height);
  // Columns [to, to + n) of rows [rowFrom, rowTo) take the pixel (dx, dy) back; every other pixel
  // is left as it was.
  const int to = std::max(0, dx), n = moves ? src.width - std::abs(dx) : 0;
  const int rowFrom = moves ? std::max(0, dy) : 0, rowTo = moves ? src.height + std::min(0, dy) : 0;
  const int l = std::max(x, to), r = std::min(x + w, to + n);
  const auto copy = [](std::uint32_t* d, const std::uint32_t* s, int count) {
    if (count > 0) std::memcpy(d, s, static_cast<std::size_t>(count) * sizeof(std::uint32_t));
  };
  for (int row = y; row < y + h; ++row) {
    std::uint32_t* d = dst.Row(row);
    const std::uint32_t* same = src.Row(row);
    if (row < rowFrom || row >= rowTo || l >= r) {
      copy(d + x, same + x, w);
      continue;
    }
    copy(d + x, same + x, l - x);
    copy(d + l, src.Row(row - dy) + (l - dx), r - l);
    copy(d + r, same + r, x + w - r);
  }
}

namespace {

// min((v x gain) >> 16, 255) of one channel, with gain at most 0x1000000.
inline std::uint32_t LevelChannel(std::uint32_t v, std::uint32_t gain) {
  return std::min<std::uint32_t>(static_cast<std::uint32_t>((std::uint64_t{v} * gain) >> 16), 255);
}

// Four 16-bit multipliers of one pixel's widened channels: `colour` for blue, green and red,
// `fourth` for the fourth byte.
inline std::uint64_t LevelMultipliers(std::uint32_t colour, std::uint32_t fourth) {
  return (std::uint64_t{fourth} << 48) | (std::uint64_t{colour} << 32) |
         (std::uint64_t{colour} << 16) | colour;
}

#if defined(OX_PIXEL_WIDE_SIMD)
// The level sixteen (AVX-512) or eight (AVX2) pixels a step, each channel widened to 16 bits:
// v x (g >> 16) + ((v x (g & 0xFFFF)) >> 16), at most 255 (the fourth byte multiplied by exactly
// 1). Longer steps than SSE2's keep the pass at memory speed wherever the loop lands in the code
// (the SSE2 loop, 58 bytes, runs 1.5 times slower when it sits inside one 64-byte line).
// Returns the pixels done.

__attribute__((target("avx512f,avx512bw"))) std::size_t ScaleColoursAvx512(std::uint32_t* p,
                                                                           std::size_t n,
                                                                           std::uint32_t g) {
  const __m512i mhi = _mm512_set1_epi64(static_cast<long long>(LevelMultipliers(g >> 16, 1)));
  const __m512i mlo = _mm512_set1_epi64(static_cast<long long>(LevelMultipliers(g & 0xFFFF, 0)));
  const __m512i zero = _mm512_setzero_si512(), k255 = _mm512_set1_epi16(255);
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i v = _mm512_loadu_si512(p + i);
    const __m512i a = _mm512_unpacklo_epi8(v, zero), b = _mm512_unpackhi_epi8(v, zero);
    const __m512i ra = _mm512_add_epi16(_mm512_mullo_epi16(a, mhi), _mm512_mulhi_epu16(a, mlo));
    const __m512i rb = _mm512_add_epi16(_mm512_mullo_epi16(b, mhi), _mm512_mulhi_epu16(b, mlo));
    // min(r, 255) of each, unsigned
    _mm512_storeu_si512(p + i,
                        _mm512_packus_epi16(_mm512_sub_epi16(ra, _mm512_subs_epu16(ra, k255)),
                                            _mm512_sub_epi16(rb, _mm512_subs_epu16(rb, k255))));
  }
  return i;
}

__attribute__((target("avx2"))) std::size_t ScaleColoursAvx2(std::uint32_t* p, std::size_t n,
                                                             std::uint32_t g) {
  const __m256i mhi = _mm256_set1_epi64x(static_cast<long long>(LevelMultipliers(g >> 16, 1)));
  const __m256i mlo = _mm256_set1_epi64x(static_cast<long long>(LevelMultipliers(g & 0xFFFF, 0)));
  const __m256i zero = _mm256_setzero_si256(), k255 = _mm256_set1_epi16(255);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    auto* at = reinterpret_cast<__m256i*>(p + i);
    const __m256i v = _mm256_loadu_si256(at);
    const __m256i a = _mm256_unpacklo_epi8(v, zero), b = _mm256_unpackhi_epi8(v, zero);
    const __m256i ra = _mm256_add_epi16(_mm256_mullo_epi16(a, mhi), _mm256_mulhi_epu16(a, mlo));
    const __m256i rb = _mm256_add_epi16(_mm256_mullo_epi16(b, mhi), _mm256_mulhi_epu16(b, mlo));
    _mm256_storeu_si256(at, _mm256_packus_epi16(_mm256_sub_epi16(ra, _mm256_subs_epu16(ra, k255)),
                                                _mm256_sub_epi16(rb, _mm256_subs_epu16(rb, k255))));
  }
  return i;
}
#endif

}  // namespace

PixelSimd BestPixelSimd() {
#if defined(OX_PIXEL_WIDE_SIMD)
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl"))
    return PixelSimd::kAvx512;
  if (__builtin_cpu_supports("avx2")) return PixelSimd::kAvx2;
#endif
  return PixelSimd::kBase;
}

void ScaleColours(Bitmap32& bmp, std::int32_t gain, PixelSimd simd) {
  ScaleColourSpan(bmp.pixels.data(), bmp.pixels.size(), gain, simd);
}

void ScaleColours(Bitmap32& bmp, int x, int y, int w, int h, std::int32_t gain, PixelSimd simd) {
  const int left = std::max(x, 0), top = std::max(y, 0);
  const int right = std::min(x + w, bmp.width), bottom = std::min(y + h, bmp.height);
  if (right <= left) return;
  for (int r = top; r < bottom; ++r) {
    ScaleColourSpan(bmp.Row(r) + left, static_cast<std::size_t>(right - left), gain, simd);
  }
}

void ScaleColourSpan(std::uint32_t* p, std::size_t n, std::int32_t gain, PixelSimd simd) {
  // From 0x1000000 up every channel above 0 passes 255, so larger gains act as that one; the
  // product then fits 16 bits: v x (g >> 16) + ((v x (g & 0xFFFF)) >> 16) <= 65534.
  const std::uint32_t g = gain < 0 ? 0 : std::min<std::uint32_t>(gain, 0x1000000);
#if defined(OX_PIXEL_WIDE_SIMD)
  std::size_t done = 0;
  if (simd == PixelSimd::kAvx512) done = ScaleColoursAvx512(p, n, g);
  if (simd == PixelSimd::kAvx2) done = ScaleColoursAvx2(p, n, g);
  p += done, n -= done;
#else
  (void)simd;
#endif
#if defined(__SSE2__)
  const auto hi = static_cast<short>(g >> 16), lo = static_cast<short>(g & 0xFFFF);
  // Blue, green and red are scaled; the fourth byte is multiplied by exactly 1.
  const __m128i mhi = _mm_setr_epi16(hi, hi, hi, 1, hi, hi, hi, 1);
  const __m128i mlo = _mm_setr_epi16(lo, lo, lo, 0, lo, lo, lo, 0);
  const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255);
  auto scale = [&](__m128i v) {
    const __m128i r = _mm_add_epi16(_mm_mullo_epi16(v, mhi), _mm_mulhi_epu16(v, mlo));
    return _mm_sub_epi16(r, _mm_subs_epu16(r, k255));  // min(r, 255), unsigned
  };
  if (hi == 0) {
    // Darker only (a fade): (v x g) >> 16 is one high multiply and never passes 255. The fourth
    // byte's multiplier is 0, so it is taken back from the pixel.
    const __m128i fourth = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; n >= 4; n -= 4, p += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i a = _mm_mulhi_epu16(_mm_unpacklo_epi8(v, zero), mlo);
      const __m128i b = _mm_mulhi_epu16(_mm_unpackhi_epi8(v, zero), mlo);
      const __m128i out = _mm_or_si128(_mm_packus_epi16(a, b), _mm_and_si128(v, fourth));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
    }
  }
  for (; n >= 4; n -= 4, p += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i a = scale(_mm_unpacklo_epi8(v, zero)), b = scale(_mm_unpackhi_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(a, b));
  }
#endif
  for (; n > 0; --n, ++p) {
    const std::uint32_t v = *p;
    *p = (v & 0xFF000000u) | LevelChannel((v >> 16) & 0xFF, g) << 16 |
         LevelChannel((v >> 8) & 0xFF, g) << 8 | LevelChannel(v & 0xFF, g);
  }
}

// Pixels of the transparent colour leave the stage as it is, all others replace it. (Taking the
// source in with OR after masking would add the transparent colour itself to the stage, which
// only vanishes when that colour is black.)
// Four pixels a step with SSE2 (a compare and a select), the rest one by one.
void MaskBlit(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h,
              std::uint32_t transparent) {
  if (!ClipCopy(dst, dx, dy, src, sx, sy, w, h)) return;
  const std::uint32_t t = transparent & kColourBits;
#if defined(__SSE2__)
  const __m128i key = _mm_set1_epi32(static_cast<int>(t));
  const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourBits));
#endif
  for (int y = 0; y < h; ++y) {
    std::uint32_t* d = dst.Row(dy + y) + dx;
    const std::uint32_t* s = src.Row(sy + y) + sx;
    int x = 0;
#if defined(__SSE2__)
    for (; x + 4 <= w; x += 4) {
      const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
      const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
      const __m128i keep = _mm_cmpeq_epi32(_mm_and_si128(sv, colour), key);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x),
                       _mm_or_si128(_mm_and_si128(keep, dv), _mm_andnot_si128(keep, sv)));
    }
#endif
    for (; x < w; ++x) d[x] = (s[x] & kColourBits) == t ? d[x] : s[x];
  }
}

void AndRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h) {
  Combine(dst, dx, dy, src, sx, sy, w, h, [](std::uint32_t d, std::uint32_t s) { return d & s; });
}

void OrRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h) {
  Combine(dst, dx, dy, src, sx, sy, w, h, [](std::uint32_t d, std::uint32_t s) { return d | s; });
}

void InvertRect(Bitmap32& dst, int x, int y, int w, int h) {
  if (!ClipRect(dst, x, y, w, h)) return;
  for (int r = 0; r < h; ++r) {
    std::uint32_t* d = dst.Row(y + r) + x;
    for (int i = 0; i < w; ++i) d[i] ^= kColourBits;  // the fourth byte stays 0
  }
}

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Columns j (within 0..n) at which 0 <= v0 + j x step < limit, an interval since the value is
// linear in j: [*lo, *hi), empty when *lo >= *hi.
void InsideRange(std::int64_t v0, std::int64_t step, std::int64_t limit, int n, int* lo, int* hi) {
  std::int64_t a = 0, b = n;
  if (step == 0) {
    if (v0 < 0 || v0 >= limit) b = 0;
  } else if (step > 0) {
    a = FloorDiv(-v0 + step - 1, step);         // first j with v0 + j step >= 0
    b = FloorDiv(limit - v0 + step - 1, step);  // first j with v0 + j step >= limit
  } else {
    a = FloorDiv(v0 - limit, -step) + 1;  // first j with v0 + j step < limit
    b = FloorDiv(v0, -step) + 1;          // first j with v0 + j step < 0
  }
  *lo = static_cast<int>(std::clamp<std::int64_t>(a, 0, n));
  *hi = static_cast<int>(std::clamp<std::int64_t>(b, 0, n));
}

// Columns a..b-1 of one turned row, whose samples (u >> 10, v >> 10) all lie inside the source.
// With SSE2 four at a time: inside the source both are below 2^14, so the values fit 32 bits
// and the row times the width is one pmaddwd.
void TurnRow(const std::uint32_t* src, int w, std::int64_t u, std::int64_t v, std::int64_t C,
             std::int64_t S, int a, int b, std::uint32_t* d) {
  int j = a;
#if defined(__SSE2__)
  const int c = static_cast<int>(C), s = static_cast<int>(S);
  __m128i uv =
      _mm_add_epi32(_mm_set1_epi32(static_cast<int>(u)), _mm_setr_epi32(0, c, 2 * c, 3 * c));
  __m128i vv =
      _mm_add_epi32(_mm_set1_epi32(static_cast<int>(v)), _mm_setr_epi32(0, s, 2 * s, 3 * s));
  const __m128i du = _mm_set1_epi32(4 * c), dv = _mm_set1_epi32(4 * s), width = _mm_set1_epi32(w);
  alignas(16) std::int32_t at[4];
  for (; j + 4 <= b; j += 4) {
    const __m128i row = _mm_madd_epi16(_mm_srai_epi32(vv, 10), width);
    _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_add_epi32(row, _mm_srai_epi32(uv, 10)));
    d[j] = src[at[0]];
    d[j + 1] = src[at[1]];
    d[j + 2] = src[at[2]];
    d[j + 3] = src[at[3]];
    uv = _mm_add_epi32(uv, du);
    vv = _mm_add_epi32(vv, dv);
  }
  u += (j - a) * C;
  v += (j - a) * S;
#endif
  for (; j < b; ++j, u += C, v += S) {
    d[j] = src[static_cast<std::size_t>(v >> 10) * static_cast<std::size_t>(w) +
               static_cast<std::size_t>(u >> 10)];
  }
}

#if defined(OX_PIXEL_WIDE_SIMD)
// The same eight (AVX2) or sixteen (AVX-512) columns a step, each pixel fetched by one gather
// instead of its index stored and read back; the columns left over go to TurnRow. Returns the
// first column not done.

__attribute__((target("avx2"))) int TurnRowAvx2(const std::uint32_t* src, int w, std::int64_t u,
                                                std::int64_t v, std::int64_t C, std::int64_t S,
                                                int a, int b, std::uint32_t* d) {
  const __m256i step = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const int c = static_cast<int>(C), s = static_cast<int>(S);
  __m256i uv = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(u)),
                                _mm256_mullo_epi32(step, _mm256_set1_epi32(c)));
  __m256i vv = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(v)),
                                _mm256_mullo_epi32(step, _mm256_set1_epi32(s)));
  const __m256i du = _mm256_set1_epi32(8 * c), dv = _mm256_set1_epi32(8 * s);
  const __m256i width = _mm256_set1_epi32(w);
  const auto* base = reinterpret_cast<const int*>(src);
  int j = a;
  for (; j + 8 <= b; j += 8) {
    const __m256i row = _mm256_madd_epi16(_mm256_srai_epi32(vv, 10), width);
    const __m256i at = _mm256_add_epi32(row, _mm256_srai_epi32(uv, 10));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + j), _mm256_i32gather_epi32(base, at, 4));
    uv = _mm256_add_epi32(uv, du);
    vv = _mm256_add_epi32(vv, dv);
  }
  return j;
}

__attribute__((target("avx512f,avx512bw"))) int TurnRowAvx512(const std::uint32_t* src, int w,
                                                              std::int64_t u, std::int64_t v,
                                                              std::int64_t C, std::int64_t S, int a,
                                                              int b, std::uint32_t* d) {
  const __m512i step = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const int c = static_cast<int>(C), s = static_cast<int>(S);
  __m512i uv = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(u)),
                                _mm512_mullo_epi32(step, _mm512_set1_epi32(c)));
  __m512i vv = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(v)),
                                _mm512_mullo_epi32(step, _mm512_set1_epi32(s)));
  const __m512i du = _mm512_set1_epi32(16 * c), dv = _mm512_set1_epi32(16 * s);
  const __m512i width = _mm512_set1_epi32(w), zero = _mm512_setzero_si512();
  constexpr __mmask16 kAll = 0xFFFF;
  int j = a;
  for (; j + 16 <= b; j += 16) {
    // The masked forms: the plain ones start from an undefined register GCC 12 warns about.
    const __m512i row = _mm512_madd_epi16(_mm512_maskz_srai_epi32(kAll, vv, 10), width);
    const __m512i at = _mm512_add_epi32(row, _mm512_maskz_srai_epi32(kAll, uv, 10));
    _mm512_storeu_si512(d + j, _mm512_mask_i32gather_epi32(zero, kAll, at, src, 4));
    uv = _mm512_add_epi32(uv, du);
    vv = _mm512_add_epi32(vv, dv);
  }
  return j;
}
#endif

// Columns a..b-1 of one turned row as TurnRow, with the widest gathers `simd` allows.
void TurnRowWith(PixelSimd simd, const std::uint32_t* src, int w, std::int64_t u, std::int64_t v,
                 std::int64_t C, std::int64_t S, int a, int b, std::uint32_t* d) {
  int j = a;
#if defined(OX_PIXEL_WIDE_SIMD)
  if (simd == PixelSimd::kAvx512) j = TurnRowAvx512(src, w, u, v, C, S, a, b, d);
  if (simd == PixelSimd::kAvx2) j = TurnRowAvx2(src, w, u, v, C, S, a, b, d);
#else
  (void)simd;
#endif
  TurnRow(src, w, u + (j - a) * C, v + (j - a) * S, C, S, j, b, d);
}

}  // namespace

// Each row of the result crosses the source along a straight line, so the columns that sample
// inside it form one interval, found from the fixed-point line itself; the loop over it needs no
// bounds test, and only the columns outside it are cleared.
int RotatePicture(const Bitmap32& p, double t, Bitmap32* out, PixelSimd simd) {
  const int w = p.width, h = p.height;
  if (p.Empty()) {
    *out = Bitmap32();
    return -1;
  }
  const double c = std::cos(t), s = std::sin(t);
  int w2 = static_cast<int>(std::fabs(c * w) + std::fabs(s * h) + 0.5);
  int h2 = static_cast<int>(std::fabs(s * w) + std::fabs(c * h) + 0.5);
  w2 = (w2 + 1) & ~1;
  h2 = (h2 + 1) & ~1;
  if (w2 > kMaxBitmapSide || h2 > kMaxBitmapSide) {
    *out = Bitmap32();
    return -1;
  }
  try {
    out->pixels.resize(static_cast<std::size_t>(w2) * static_cast<std::size_t>(h2));
  } catch (const std::bad_alloc&) {
    *out = Bitmap32();
    return -1;
  }
  out->width = w2;
  out->height = h2;
  constexpr double kHalfPi = 1.5707963267948966;
  const std::int64_t C = static_cast<std::int64_t>(c * 1024);
  const std::int64_t S = static_cast<std::int64_t>(s * 1024);
  const std::int64_t Cr = static_cast<std::int64_t>(std::cos(t + kHalfPi) * 1024);
  const std::int64_t Sr = static_cast<std::int64_t>(std::sin(t + kHalfPi) * 1024);
  const std::int64_t x0 = -(w2 / 2) * C + (h2 / 2) * S + (w / 2) * 1024;
  const std::int64_t y0 = -(w2 / 2) * S - (h2 / 2) * C + (h / 2) * 1024;
  const std::int64_t xLimit = static_cast<std::int64_t>(w) * 1024;
  const std::int64_t yLimit = static_cast<std::int64_t>(h) * 1024;
  for (int i = 0; i < h2; ++i) {
    const std::int64_t sx = x0 + i * Cr, sy = y0 + i * Sr;
    int xa, xb, ya, yb;
    InsideRange(sx, C, xLimit, w2, &xa, &xb);
    InsideRange(sy, S, yLimit, w2, &ya, &yb);
    const int a = std::max(xa, ya), b = std::max(a, std::min(xb, yb));
    std::uint32_t* d = out->Row(i);
    std::fill(d, d + a, 0u);
    std::fill(d + b, d + w2, 0u);
    TurnRowWith(simd, p.pixels.data(), w, sx + a * C, sy + a * S, C, S, a, b, d);
  }
  return 0;
}

Bitmap32 RotatePicture(const Bitmap32& p, double t) {
  Bitmap32 q;
  RotatePicture(p, t, &q);
  return q;
}

AreaUnits AreaUnitsOf(int n, int m) {
  AreaUnits u;
  if (n <= 0 || m <= 0) return u;
  u.L = std::lcm(static_cast<std::int64_t>(n), static_cast<std::int64_t>(m));
  u.a = u.L / n;
  u.b = u.L / m;
  return u;
}

namespace {

template <typename Entry, typename Weight>
std::vector<Entry> AreaWeightsOf(int n, int m, std::uint32_t c) {
  std::vector<Entry> table;
  if (n <= 0 || m <= 0 || m > n) return table;
  const AreaUnits u = AreaUnitsOf(n, m);
  table.resize(static_cast<std::size_t>(n));
  std::int64_t j = 0;
  for (int i = 0; i < n; ++i) {
    const std::int64_t s = i * u.a, e = s + u.a - 1;
    const std::int64_t t = j * u.b, d = t + u.b - 1;
    Entry& out = table[static_cast<std::size_t>(i)];
    out.index = static_cast<std::uint16_t>(j);
    if (t < s && d < e) {
      out.w0 = static_cast<Weight>(c * (d - s + 1));
      out.w1 = static_cast<Weight>(c * (e - d));
    } else {
      out.w0 = static_cast<Weight>(c * u.a);
      out.w1 = 0;
    }
    if (e >= d) ++j;
  }
  return table;
}

}  // namespace

std::vector<AreaWeight16> AreaWeights16(int n, int m, std::uint32_t c) {
  return AreaWeightsOf<AreaWeight16, std::uint16_t>(n, m, c);
}

std::vector<AreaWeight32> AreaWeights32(int n, int m, std::uint32_t c) {
  return AreaWeightsOf<AreaWeight32, std::uint32_t>(n, m, c);
}
