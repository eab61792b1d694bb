// Per-pixel and rectangle operations on 32-bit bitmaps: shade, blend, paint, mask blit,
// stretching, turning, and the exact area-weight tables used for resampling.
#pragma once

#include <cstdint>
#include <vector>

#include "render/Bitmap.h"
#include "render/CMonoBmp.h"

// Script colours are 0x00BBGGRR; stage pixels are 0x00RRGGBB.
inline std::uint32_t ToStageColour(std::int32_t bgr) {
  const std::uint32_t v = static_cast<std::uint32_t>(bgr);
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

// Ramp slot onto a stage pixel with an entry's contrast (0xFF0000 = opaque).
inline void ShadePixel(std::uint32_t* d, const ShadeSlot& s, std::int32_t contrast) {
  if (contrast == 0xFF0000) {
    *d = (*d & 0xFF000000u) | (s.packed & 0x00FFFFFFu);
    return;
  }
  const int a = contrast >> 16;
  const int db = *d & 0xFF, dg = (*d >> 8) & 0xFF, dr = (*d >> 16) & 0xFF;
  const int b = db + a * (s.b - db) / 256;
  const int g = dg + a * (s.g - dg) / 256;
  const int r = dr + a * (s.r - dr) / 256;
  *d = (*d & 0xFF000000u) | (static_cast<std::uint32_t>(r) << 16) |
       (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
}

// Contrast blend of a non-black source pixel (black is transparent); A = contrast >> 16.
inline std::uint32_t BlendPixel(std::uint32_t d, std::uint32_t s, int a) {
  if (s == 0) return d;
  std::uint32_t out = d & 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int dc = (d >> shift) & 0xFF, sc = (s >> shift) & 0xFF;
    out |= static_cast<std::uint32_t>(dc + (sc - dc) * a / 256) << shift;
  }
  return out;
}

// Saturating additive paint of a non-black source pixel.
inline std::uint32_t PaintPixel(std::uint32_t d, std::uint32_t s, int a) {
  if (s == 0) return d;
  std::uint32_t out = d & 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int dc = (d >> shift) & 0xFF, add = (((s >> shift) & 0xFF) * a) / 256;
    out |= static_cast<std::uint32_t>(255 - dc < add ? 255 : dc + add) << shift;
  }
  return out;
}

inline constexpr int kStretchDrop = 3;     // each destination pixel takes one source pixel
inline constexpr int kStretchAverage = 4;  // halftone averaging

// Stretches src (sx, sy, sw, sh) onto dst (dx, dy, dw, dh), clipped to dst. A rectangle with a
// negative size spans from origin + size to origin (sw = -4 at sx = 4 reads columns 3, 2, 1, 0);
// a sign that differs between source and destination mirrors. Source pixels outside `src` are
// taken from its nearest edge. kStretchDrop: each destination pixel takes the source pixel under
// its centre. kStretchAverage: the covered-area average, within one level of exact.
void StretchBlt(Bitmap32& dst, int dx, int dy, int dw, int dh, const Bitmap32& src, int sx, int sy,
                int sw, int sh, int mode);
// The same stretch writing only the destination pixels inside (cx, cy, cw, ch), each exactly as
// the whole stretch writes it (a part of a frame that changed is stretched again on its own).
void StretchBlt(Bitmap32& dst, int dx, int dy, int dw, int dh, const Bitmap32& src, int sx, int sy,
                int sw, int sh, int mode, int cx, int cy, int cw, int ch);
// The smallest rectangle holding every pixel in which two bitmaps of one size differ (the fourth
// byte is compared too); false, and a zero size, when they are the same or differ in size.
bool ChangedRect(const Bitmap32& a, const Bitmap32& b, int* x, int* y, int* w, int* h);
// The same within rows top..bottom-1 (cut to the bitmaps).
bool ChangedRect(const Bitmap32& a, const Bitmap32& b, int top, int bottom, int* x, int* y, int* w,
                 int* h);
// The same for `b` against the part of `a` of b's size whose top-left corner is (ax, ay); the
// rectangle is in b's pixels. False when `a` does not hold that part.
bool ChangedRectAt(const Bitmap32& a, int ax, int ay, const Bitmap32& b, int top, int bottom,
                   int* x, int* y, int* w, int* h);
// The first pixel of from..to-1 where two rows differ (`to` when none does).
int FirstDifference(const std::uint32_t* p, const std::uint32_t* q, int from, int to);
// One past the last pixel of from..to-1 where two rows differ (`from` when none does).
int LastDifferenceEnd(const std::uint32_t* p, const std::uint32_t* q, int from, int to);
// Bit i set where p[i] and q[i] differ, for the first n pixels (n at most 32).
std::uint32_t DifferingPixels(const std::uint32_t* p, const std::uint32_t* q, int n);
// Plain copy of src (sx, sy, w, h) to dst at (dx, dy), clipped on both sides.
void CopyRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h);
void FillRect(Bitmap32& dst, int x, int y, int w, int h, std::uint32_t colour);
// Moves the pixels of `bmp` by (dx, dy) within it: those that would leave it are dropped, those
// they leave uncovered keep their values (what the display server's copy of an area does).
void MovePixels(Bitmap32& bmp, int dx, int dy);
// Writes into (x, y, w, h) of `dst` (cut to it; of src's size) the pixels MovePixels(src, dx, dy)
// would leave there, without moving `src`.
void MovedPixelsInto(Bitmap32& dst, const Bitmap32& src, int dx, int dy, int x, int y, int w,
                     int h);
// The vector instruction sets a row or frame pass can use, widest last. kBase is SSE2 where the
// build has it (always on x86-64), else plain C++; the others are chosen at run time (kAvx512
// needs the byte and word instructions and the 256-bit forms too).
enum class PixelSimd { kBase, kAvx2, kAvx512 };
// The widest set this processor and build can run.
PixelSimd BestPixelSimd();

// Every colour channel v becomes min((v x gain) >> 16, 255) (16.16 fixed point, 0x10000 keeps
// it; a negative gain is 0); the fourth byte stays. `simd` at most BestPixelSimd().
void ScaleColours(Bitmap32& bmp, std::int32_t gain, PixelSimd simd = BestPixelSimd());
// The same for the part (x, y, w, h) of `bmp` (cut to it).
void ScaleColours(Bitmap32& bmp, int x, int y, int w, int h, std::int32_t gain,
                  PixelSimd simd = BestPixelSimd());
// The same for n pixels from p.
void ScaleColourSpan(std::uint32_t* p, std::size_t n, std::int32_t gain,
                     PixelSimd simd = BestPixelSimd());
// Transparent copy: src pixels equal to `transparent` (0x00RRGGBB, fourth byte ignored) leave
// dst as it is; all others replace it.
void MaskBlit(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h,
              std::uint32_t transparent);
// Raster combinations of the same-sized area (dst &= src, dst |= src, dst = ~dst).
void AndRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h);
void OrRect(Bitmap32& dst, int dx, int dy, const Bitmap32& src, int sx, int sy, int w, int h);
void InvertRect(Bitmap32& dst, int x, int y, int w, int h);
// Turns `p` by `t` radians about its centre into a new, even-sized, black-cornered picture.
Bitmap32 RotatePicture(const Bitmap32& p, double t);
// The same into `out`, whose memory is reused when large enough (no allocation frame after
// frame); 0, or -1 with `out` emptied when `p` is empty or the result cannot be held. `simd` at
// most BestPixelSimd().
int RotatePicture(const Bitmap32& p, double t, Bitmap32* out, PixelSimd simd = BestPixelSimd());

// Exact area resampling of n source pixels onto m destination pixels (m <= n).
struct AreaUnits {
  std::int64_t L = 0;  // least common multiple of n and m
  std::int64_t a = 0;  // units per source pixel
  std::int64_t b = 0;  // units per destination pixel
};
AreaUnits AreaUnitsOf(int n, int m);
struct AreaWeight16 {
  std::uint16_t index;  // destination pixel of w0; w1 goes to index + 1
  std::uint16_t w0;
  std::uint16_t w1;
};
struct AreaWeight32 {
  std::uint16_t index;
  std::uint32_t w0;
  std::uint32_t w1;
};
// One entry per source pixel; empty unless 0 < m <= n. Weights are c x units, cut to the field.
std::vector<AreaWeight16> AreaWeights16(int n, int m, std::uint32_t c);
std::vector<AreaWeight32> AreaWeights32(int n, int m, std::uint32_t c);
