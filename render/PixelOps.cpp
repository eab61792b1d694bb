// Rectangle operations on 32-bit bitmaps: copies, fills, raster combinations, the transparent
// mask blit, the two stretching modes, turning, and the exact area-weight tables.
#include "render/PixelOps.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <numeric>

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
std::vector<int> DropTable(const Axis& a) {
  std::vector<int> t(static_cast<std::size_t>(a.last - a.first));
  for (int j = a.first; j < a.last; ++j) {
    t[j - a.first] = a.SourceOf((2 * static_cast<std::int64_t>(j) + 1) * a.n / (2 * a.m));
  }
  return t;
}

// Area coverage of source pixels for each destination pixel, weights summing to exactly `one`
// per destination pixel (cumulative rounding). Every pixel gets the same number `k` of
// (source, weight) pairs, padded with zero weights, so the inner loops have a fixed length.
struct AreaTable {
  int k = 1;
  std::vector<int> src;  // k per destination pixel
  std::vector<std::uint32_t> weight;
};

AreaTable AverageTable(const Axis& a, std::uint32_t one) {
  const std::int64_t n = a.n, m = a.m;
  AreaTable t;
  t.k = static_cast<int>((n + m - 1) / m) + 1;  // a run of n / m pixels may straddle two more
  const std::size_t count = static_cast<std::size_t>(a.last - a.first);
  t.src.assign(count * static_cast<std::size_t>(t.k), a.SourceOf(0));
  t.weight.assign(count * static_cast<std::size_t>(t.k), 0);
  std::size_t widest = 0;
  for (std::int64_t j = a.first; j < a.last; ++j) {
    const std::size_t base = static_cast<std::size_t>(j - a.first) * static_cast<std::size_t>(t.k);
    const std::int64_t lo = j * n, hi = lo + n;  // in units where a source pixel is m wide
    std::int64_t cum = 0;
    std::uint32_t given = 0;
    std::size_t used = 0;
    for (std::int64_t s = lo / m; s * m < hi; ++s) {
      cum += std::min(hi, (s + 1) * m) - std::max(lo, s * m);
      const std::uint32_t upTo = static_cast<std::uint32_t>(cum * one / n);
      if (upTo == given) continue;
      assert(used < static_cast<std::size_t>(t.k));
      t.src[base + used] = a.SourceOf(s);
      t.weight[base + used] = upTo - given;
      ++used;
      given = upTo;
    }
    widest = std::max(widest, used);
  }
  // Aligned runs (equal sizes, whole multiples) need one pair fewer than the bound: repack.
  const std::size_t k = static_cast<std::size_t>(t.k);
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
  return t;
}

void StretchDrop(Bitmap32& dst, const Bitmap32& src, const Axis& ax, const Axis& ay, int dx,
                 int dy) {
  const std::vector<int> cols = DropTable(ax), rows = DropTable(ay);
  const int w = ax.last - ax.first;
  for (int j = 0; j < ay.last - ay.first; ++j) {
    std::uint32_t* d = dst.Row(dy + ay.first + j) + dx + ax.first;
    const std::uint32_t* s = src.Row(rows[j]);
    for (int i = 0; i < w; ++i) d[i] = s[cols[i]];
  }
}

// The averaging stretch works on the three channels at once, each in a 21-bit lane of a 64-bit
// value. Columns are weighted to 4096 (a lane then holds at most 255 x 4096 < 2^20) and rounded
// to 2 fractional bits; rows are weighted to 1024, so a lane ends at most 1020 x 1024 < 2^20.
// The result is within one level of the exact covered-area average.
constexpr std::uint32_t kColumnOne = 4096;
constexpr std::uint32_t kRowOne = 1024;
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

// One source row weighted onto the destination columns, in lanes of 2 fractional bits.
template <int K>
void ResampleRowK(const std::uint32_t* s, const int* src, const std::uint32_t* weight,
                  std::size_t w, std::uint64_t* out) {
  for (std::size_t i = 0; i < w; ++i, src += K, weight += K) {
    std::uint64_t sum = 0;
    for (int k = 0; k < K; ++k) sum += weight[k] * Lanes(s[src[k]]);
    out[i] = ((sum + kColumnHalf) >> 10) & kLane10;
  }
}

void ResampleRow(const std::uint32_t* s, const AreaTable& cols, std::size_t w, std::uint64_t* out) {
  const int* src = cols.src.data();
  const std::uint32_t* weight = cols.weight.data();
  switch (cols.k) {
    case 1:
      return ResampleRowK<1>(s, src, weight, w, out);
    case 2:
      return ResampleRowK<2>(s, src, weight, w, out);
    case 3:
      return ResampleRowK<3>(s, src, weight, w, out);
    case 4:
      return ResampleRowK<4>(s, src, weight, w, out);
    default:
      break;
  }
  const std::size_t k = static_cast<std::size_t>(cols.k);
  for (std::size_t i = 0; i < w; ++i, src += k, weight += k) {
    std::uint64_t sum = 0;
    for (std::size_t c = 0; c < k; ++c) sum += weight[c] * Lanes(s[src[c]]);
    out[i] = ((sum + kColumnHalf) >> 10) & kLane10;
  }
}

void StretchAverage(Bitmap32& dst, const Bitmap32& src, const Axis& ax, const Axis& ay, int dx,
                    int dy) {
  const AreaTable cols = AverageTable(ax, kColumnOne), rows = AverageTable(ay, kRowOne);
  const std::size_t w = static_cast<std::size_t>(ax.last - ax.first);
  // Horizontally resampled source rows, kept for the two rows used last: consecutive
  // destination rows share at most their boundary rows when shrinking, or all when enlarging.
  std::vector<std::uint64_t> cache[2] = {std::vector<std::uint64_t>(w),
                                         std::vector<std::uint64_t>(w)};
  int cached[2] = {-1, -1};
  int older = 0;
  std::vector<std::uint64_t> acc(w);
  auto resampled = [&](int y) -> const std::uint64_t* {
    for (int c = 0; c < 2; ++c) {
      if (cached[c] == y) return cache[c].data();
    }
    const int slot = older;
    older ^= 1;
    cached[slot] = y;
    ResampleRow(src.Row(y), cols, w, cache[slot].data());
    return cache[slot].data();
  };
  const std::size_t rk = static_cast<std::size_t>(rows.k);
  for (int j = 0; j < ay.last - ay.first; ++j) {
    std::uint64_t* a = acc.data();
    std::fill_n(a, w, 0);
    for (std::size_t k = static_cast<std::size_t>(j) * rk; k < (j + 1) * rk; ++k) {
      const std::uint64_t wt = rows.weight[k];
      if (wt == 0) continue;
      const std::uint64_t* h = resampled(rows.src[k]);
      for (std::size_t i = 0; i < w; ++i) a[i] += wt * h[i];
    }
    std::uint32_t* d = dst.Row(dy + ay.first + j) + dx + ax.first;
    for (std::size_t i = 0; i < w; ++i) d[i] = FromLanes(a[i]);
  }
}

}  // namespace

void StretchBlt(Bitmap32& dst, int dx, int dy, int dw, int dh, const Bitmap32& src, int sx, int sy,
                int sw, int sh, int mode) {
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
  Axis ax{sx, sw, dw, std::max(0, -dx), std::min(dw, dst.width - dx), src.width, flipX};
  Axis ay{sy, sh, dh, std::max(0, -dy), std::min(dh, dst.height - dy), src.height, flipY};
  if (ax.first >= ax.last || ay.first >= ay.last) return;
  if (mode == kStretchAverage) {
    StretchAverage(dst, src, ax, ay, dx, dy);
  } else {
    StretchDrop(dst, src, ax, ay, dx, dy);
  }
}

void CopyRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h) {
  if (!ClipCopy(dst, dx, dy, src, sx, sy, w, h)) return;
  for (int y = 0; y < h; ++y) {
    std::copy_n(src.Row(sy + y) + sx, w, dst.Row(dy + y) + dx);
  }
}

void FillRect(Bitmap32& dst, int x, int y, int w, int h, std::uint32_t colour) {
  if (!ClipRect(dst, x, y, w, h)) return;
  for (int r = 0; r < h; ++r) std::fill_n(dst.Row(y + r) + x, w, colour);
}

// Pixels of the transparent colour leave the stage as it is, all others replace it. (Taking the
// source in with OR after masking would add the transparent colour itself to the stage, which
// only vanishes when that colour is black.)
void MaskBlit(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h,
              std::uint32_t transparent) {
  const std::uint32_t t = transparent & kColourBits;
  Combine(dst, dx, dy, src, sx, sy, w, h,
          [t](std::uint32_t d, std::uint32_t s) { return (s & kColourBits) == t ? d : s; });
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

Bitmap32 RotatePicture(const Bitmap32& p, double t) {
  Bitmap32 q;
  const int w = p.width, h = p.height;
  if (p.Empty()) return q;
  const double c = std::cos(t), s = std::sin(t);
  int w2 = static_cast<int>(std::fabs(c * w) + std::fabs(s * h) + 0.5);
  int h2 = static_cast<int>(std::fabs(s * w) + std::fabs(c * h) + 0.5);
  w2 = (w2 + 1) & ~1;
  h2 = (h2 + 1) & ~1;
  try {
    if (!q.Create(w2, h2)) return Bitmap32();
  } catch (const std::bad_alloc&) {
    return Bitmap32();
  }
  constexpr double kHalfPi = 1.5707963267948966;
  const std::int64_t C = static_cast<std::int64_t>(c * 1024);
  const std::int64_t S = static_cast<std::int64_t>(s * 1024);
  const std::int64_t Cr = static_cast<std::int64_t>(std::cos(t + kHalfPi) * 1024);
  const std::int64_t Sr = static_cast<std::int64_t>(std::sin(t + kHalfPi) * 1024);
  const std::int64_t x0 = -(w2 / 2) * C + (h2 / 2) * S + (w / 2) * 1024;
  const std::int64_t y0 = -(w2 / 2) * S - (h2 / 2) * C + (h / 2) * 1024;
  for (int i = 0; i < h2; ++i) {
    std::int64_t sx = x0 + i * Cr, sy = y0 + i * Sr;
    std::uint32_t* d = q.Row(i);
    for (int j = 0; j < w2; ++j, sx += C, sy += S) {
      const std::int64_t px = sx >> 10, py = sy >> 10;
      if (px >= 0 && px < w && py >= 0 && py < h) {
        d[j] = p.Row(static_cast<int>(py))[px];
      }
    }
  }
  return q;
}

int RotatePicture(const Bitmap32& p, double t, Bitmap32* out) {
  *out = RotatePicture(p, t);
  return out->Empty() ? -1 : 0;
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
