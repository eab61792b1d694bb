// Per-pixel formulas, copies, the mask blit, both stretching modes, turning and area weights.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>
#include <utility>
#include <vector>

#include "render/PixelOps.h"

namespace {

Bitmap32 Numbered(int w, int h) {
  Bitmap32 b;
  b.Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Row(y)[x] = static_cast<std::uint32_t>(y * 1000 + x + 1);
  return b;
}

TEST(PixelFormulas, ShadePixelOpaqueAndHalfContrast) {
  ShadeSlot white;
  white.packed = 0xFFFFFF, white.r = white.g = white.b = 255;
  std::uint32_t d = 0;
  ShadePixel(&d, white, 0x800000);  // trunc(128 x 255 / 256)
  EXPECT_EQ(d, 0x7F7F7Fu);
  d = 0x123456;
  ShadePixel(&d, white, 0xFF0000);
  EXPECT_EQ(d, 0xFFFFFFu);
  // Toward a darker slot the step is negative and truncates toward zero.
  ShadeSlot black;
  d = 0x0000FF;
  ShadePixel(&d, black, 0x010000);  // 255 + trunc(1 x -255 / 256) = 255
  EXPECT_EQ(d, 0x0000FFu);
  ShadePixel(&d, black, 0x800000);  // 255 + trunc(-32640 / 256) = 255 - 127
  EXPECT_EQ(d, 0x000080u);
}

TEST(PixelFormulas, BlendPixelKeepsBlackTransparent) {
  EXPECT_EQ(BlendPixel(0x102030, 0, 255), 0x102030u);
  EXPECT_EQ(BlendPixel(0x000000, 0xFFFFFF, 128), 0x7F7F7Fu);
  // Per channel d + trunc((s - d) x A / 256): red 200 -> 100 gives 200 - 50, blue 0 -> 255 gives
  // 127.
  EXPECT_EQ(BlendPixel(0xC80000, 0x6400FF, 128), 0x96007Fu);
  EXPECT_EQ(BlendPixel(0xFFFFFF, 0x000001, 255), 0x010102u);  // 255 - 254, 255 - 253
}

TEST(PixelFormulas, PaintPixelSaturates) {
  EXPECT_EQ(PaintPixel(0x646464, 0xC8C8C8, 255), 0xFFFFFFu);  // 100 + 199 > 255
  EXPECT_EQ(PaintPixel(0x000010, 0x000080, 128), 0x000050u);  // 16 + 64
  EXPECT_EQ(PaintPixel(0x0000FF, 0x000001, 255), 0x0000FFu);  // (1 x 255) / 256 = 0 added
  EXPECT_EQ(PaintPixel(0x123456, 0, 255), 0x123456u);
}

TEST(PixelFormulas, ScriptColourToStage) {
  EXPECT_EQ(ToStageColour(0x00C0FF), 0xFFC000u);  // amber: red FF, green C0, blue 00
  EXPECT_EQ(ToStageColour(0x123456), 0x563412u);
}

TEST(Copies, ClipOnBothSidesAndCombine) {
  Bitmap32 dst;
  dst.Create(4, 4, 0xF0F0F0);
  const Bitmap32 src = Numbered(3, 3);
  CopyRect(dst, -1, 2, src, 0, 0, 3, 3);  // only columns 1, 2 of rows 0, 1 land
  EXPECT_EQ(dst.Row(2)[0], 2u);
  EXPECT_EQ(dst.Row(3)[1], 1003u);
  EXPECT_EQ(dst.Row(1)[0], 0xF0F0F0u);
  EXPECT_EQ(dst.Row(2)[2], 0xF0F0F0u);
  CopyRect(dst, 0, 0, src, 2, 2, 5, 5);  // source clipped at its own edge
  EXPECT_EQ(dst.Row(0)[0], 2003u);
  EXPECT_EQ(dst.Row(0)[1], 0xF0F0F0u);

  Bitmap32 a;
  a.Create(2, 1, 0x00FF00);
  Bitmap32 b;
  b.Create(2, 1, 0x0F0F0F);
  AndRect(a, 0, 0, b, 0, 0, 1, 1);
  OrRect(a, 1, 0, b, 0, 0, 1, 1);
  EXPECT_EQ(a.Row(0)[0], 0x000F00u);
  EXPECT_EQ(a.Row(0)[1], 0x0FFF0Fu);
  InvertRect(a, 0, 0, 9, 9);
  EXPECT_EQ(a.Row(0)[0], 0xFFF0FFu);  // the fourth byte stays clear
  FillRect(a, -5, 0, 6, 1, 7);
  EXPECT_EQ(a.Row(0)[0], 7u);
  EXPECT_EQ(a.Row(0)[1], 0xF000F0u);
}

TEST(MaskBlit, TransparentColourLeavesStage) {
  Bitmap32 stage;
  stage.Create(3, 1, 0x404040);
  Bitmap32 src;
  src.Create(3, 1);
  src.Row(0)[0] = 0x000000;
  src.Row(0)[1] = 0xFF00FF;
  src.Row(0)[2] = 0x000001;
  MaskBlit(stage, 0, 0, src, 0, 0, 3, 1, 0x000000);  // black: exact transparent copy
  EXPECT_EQ(stage.Row(0)[0], 0x404040u);
  EXPECT_EQ(stage.Row(0)[1], 0xFF00FFu);
  EXPECT_EQ(stage.Row(0)[2], 0x000001u);
  stage.Fill(0x404040);
  MaskBlit(stage, 0, 0, src, 0, 0, 3, 1, 0xFF00FF);
  // The transparent magenta leaves the stage as it was (not stage OR magenta); black covers.
  EXPECT_EQ(stage.Row(0)[0], 0x000000u);
  EXPECT_EQ(stage.Row(0)[1], 0x404040u);
  MaskBlit(stage, 2, 0, src, 0, 0, 3, 1, 0xFF00FF);  // clipped at the right edge
  EXPECT_EQ(stage.Row(0)[2], 0x000000u);
}

TEST(Stretch, DropModeScalesAndMirrors) {
  const Bitmap32 src = Numbered(4, 2);
  Bitmap32 dst;
  dst.Create(8, 4);
  StretchBlt(dst, 0, 0, 8, 4, src, 0, 0, 4, 2, kStretchDrop);
  EXPECT_EQ(dst.Row(0)[0], 1u);
  EXPECT_EQ(dst.Row(0)[1], 1u);
  EXPECT_EQ(dst.Row(0)[7], 4u);
  EXPECT_EQ(dst.Row(3)[2], 1002u);

  // Same size: an exact copy. Negative source width: columns sx - 1 down to sx + sw.
  Bitmap32 same;
  same.Create(4, 2);
  StretchBlt(same, 0, 0, 4, 2, src, 0, 0, 4, 2, kStretchDrop);
  EXPECT_EQ(same.pixels, src.pixels);
  StretchBlt(same, 0, 0, 4, 2, src, 4, 0, -4, 2, kStretchDrop);
  EXPECT_EQ(same.Row(0)[0], 4u);
  EXPECT_EQ(same.Row(0)[3], 1u);
  StretchBlt(same, 0, 0, 4, 2, src, 0, 2, 4, -2, kStretchDrop);
  EXPECT_EQ(same.Row(0)[0], 1001u);
  EXPECT_EQ(same.Row(1)[3], 4u);
  // A negative destination width mirrors too; two signs cancel.
  StretchBlt(same, 4, 0, -4, 2, src, 4, 0, -4, 2, kStretchDrop);
  EXPECT_EQ(same.pixels, src.pixels);

  // Halving takes one pixel of each pair; clipping keeps the mapping of the unclipped stretch.
  Bitmap32 half;
  half.Create(2, 1);
  StretchBlt(half, -1, 0, 2, 1, src, 0, 0, 4, 1, kStretchDrop);
  EXPECT_EQ(half.Row(0)[0], 4u);
  EXPECT_EQ(half.Row(0)[1], 0u);
}

TEST(Stretch, AverageModeIsAreaExact) {
  Bitmap32 src;
  src.Create(4, 2);
  const std::uint32_t v[8] = {0x000000, 0xFFFFFF, 0x0000C8, 0x000064,
                              0xFFFFFF, 0x000000, 0x0000C8, 0x000064};
  std::copy(v, v + 8, src.pixels.begin());
  Bitmap32 dst;
  dst.Create(2, 1);
  StretchBlt(dst, 0, 0, 2, 1, src, 0, 0, 4, 2, kStretchAverage);
  EXPECT_EQ(dst.Row(0)[0], 0x808080u);  // (0 + 255 + 255 + 0) / 4 = 127.5, rounded
  EXPECT_EQ(dst.Row(0)[1], 0x000096u);  // (200 + 100) / 2
  StretchBlt(dst, 0, 0, 2, 1, src, 4, 0, -4, 2, kStretchAverage);
  EXPECT_EQ(dst.Row(0)[0], 0x000096u);

  // Three source pixels onto two: the middle one is shared half and half.
  Bitmap32 three;
  three.Create(3, 1);
  three.Row(0)[0] = 0x000000, three.Row(0)[1] = 0x0000FF, three.Row(0)[2] = 0x000000;
  StretchBlt(dst, 0, 0, 2, 1, three, 0, 0, 3, 1, kStretchAverage);
  EXPECT_EQ(dst.Row(0)[0], 0x000055u);  // 255 x (1/2) / (3/2) = 85
  EXPECT_EQ(dst.Row(0)[1], 0x000055u);

  // A uniform picture stays uniform at any size, enlarging or shrinking.
  Bitmap32 flat;
  flat.Create(7, 5, 0xABCDEF);
  Bitmap32 big;
  big.Create(23, 3);
  StretchBlt(big, 0, 0, 23, 3, flat, 0, 0, 7, 5, kStretchAverage);
  for (std::uint32_t p : big.pixels) ASSERT_EQ(p, 0xABCDEFu);
}

// The covered-area average of one channel, in floating point, for a destination pixel.
double ReferenceAverage(const Bitmap32& src, int sw, int sh, int dw, int dh, int x, int y,
                        int shift) {
  double sum = 0;
  for (int sy = 0; sy < sh; ++sy) {
    const double oy = std::max(
        0.0, std::min((y + 1.0) * sh / dh, sy + 1.0) - std::max(y * 1.0 * sh / dh, sy * 1.0));
    if (oy <= 0) continue;
    for (int sx = 0; sx < sw; ++sx) {
      const double ox = std::max(
          0.0, std::min((x + 1.0) * sw / dw, sx + 1.0) - std::max(x * 1.0 * sw / dw, sx * 1.0));
      sum += ox * oy * ((src.Row(sy)[sx] >> shift) & 0xFF);
    }
  }
  return sum * dw * dh / (static_cast<double>(sw) * sh);
}

TEST(Stretch, AverageModeMatchesTheCoveredAreaWithinOneLevel) {
  Bitmap32 src;
  src.Create(29, 17);
  std::uint32_t seed = 12345;
  for (std::uint32_t& p : src.pixels) p = (seed = seed * 1103515245u + 12345u) >> 8 & 0xFFFFFF;
  const int sizes[][2] = {{29, 17}, {10, 6}, {3, 2}, {1, 1}, {40, 30}, {17, 29}, {100, 5}};
  for (const auto& sz : sizes) {
    const int dw = sz[0], dh = sz[1];
    Bitmap32 dst, flipped;
    dst.Create(dw, dh);
    flipped.Create(dw, dh);
    StretchBlt(dst, 0, 0, dw, dh, src, 0, 0, 29, 17, kStretchAverage);
    StretchBlt(flipped, 0, 0, dw, dh, src, 29, 0, -29, 17, kStretchAverage);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x)
        for (int shift : {0, 8, 16}) {
          const double want = ReferenceAverage(src, 29, 17, dw, dh, x, y, shift);
          ASSERT_NEAR(static_cast<double>((dst.Row(y)[x] >> shift) & 0xFF), want, 1.0)
              << dw << "x" << dh << " at " << x << "," << y;
          // Weight rounding runs the other way when mirrored: within one level too.
          ASSERT_NEAR(static_cast<double>((flipped.Row(y)[dw - 1 - x] >> shift) & 0xFF), want, 1.0);
        }
  }
  // Clipped at the stage's edges: the visible part equals the same part of the whole.
  Bitmap32 whole, part;
  whole.Create(40, 30);
  part.Create(30, 20);
  StretchBlt(whole, 0, 0, 40, 30, src, 0, 0, 29, 17, kStretchAverage);
  StretchBlt(part, -5, -7, 40, 30, src, 0, 0, 29, 17, kStretchAverage);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(part.Row(y)[x], whole.Row(y + 7)[x + 5]);
}

TEST(Stretch, SourceOutsideItsBitmapIsClampedNotRead) {
  const Bitmap32 src = Numbered(2, 2);
  Bitmap32 dst;
  dst.Create(4, 4);
  StretchBlt(dst, 0, 0, 4, 4, src, -1, -1, 4, 4, kStretchDrop);
  EXPECT_EQ(dst.Row(0)[0], 1u);
  EXPECT_EQ(dst.Row(3)[3], 1002u);
  StretchBlt(dst, 0, 0, 4, 4, src, 1, 1, 8, 8, kStretchAverage);
  EXPECT_EQ(dst.Row(3)[3], 1002u);
}

TEST(Rotate, QuarterTurnOfHundredByFifty) {
  Bitmap32 p;
  p.Create(100, 50);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) p.Row(y)[x] = static_cast<std::uint32_t>(0x10000 + y * 256 + x);
  const Bitmap32 q = RotatePicture(p, 1.5707963267948966);
  ASSERT_EQ(q.width, 50);
  ASSERT_EQ(q.height, 100);
  // C = 0, S = 1024, Cr = -1024, Sr = 0: row i column j samples source (100 - i, j), so the
  // first row falls outside the source and stays black.
  for (int j = 0; j < 50; ++j) EXPECT_EQ(q.Row(0)[j], 0u);
  EXPECT_EQ(q.Row(1)[0], p.Row(0)[99]);
  EXPECT_EQ(q.Row(99)[49], p.Row(49)[1]);
  EXPECT_EQ(q.Row(50)[20], p.Row(20)[50]);
}

TEST(Rotate, SizesRoundToEvenAndZeroTurnCopies) {
  Bitmap32 p = Numbered(5, 3);
  const Bitmap32 q = RotatePicture(p, 0.0);
  ASSERT_EQ(q.width, 6);
  ASSERT_EQ(q.height, 4);
  // x0 = -3 x 1024 + 2 x 1024, y0 = -2 x 1024 + 1 x 1024: a shift of one pixel left and up.
  EXPECT_EQ(q.Row(1)[1], p.Row(0)[0]);
  EXPECT_EQ(q.Row(3)[5], p.Row(2)[4]);
  EXPECT_EQ(q.Row(0)[0], 0u);
  const Bitmap32 d = RotatePicture(p, 0.7);
  EXPECT_EQ(d.width % 2, 0);
  EXPECT_EQ(d.height % 2, 0);
  EXPECT_EQ(
      d.width,
      (static_cast<int>(std::fabs(std::cos(0.7) * 5) + std::fabs(std::sin(0.7) * 3) + 0.5) + 1) &
          ~1);
  EXPECT_TRUE(RotatePicture(Bitmap32(), 1.0).Empty());
}

// ---- Bit-exact references: the stretch and turn arithmetic written out pixel by pixel ----

struct Rng {
  std::uint32_t v;
  int Below(int n) { return static_cast<int>(((v = v * 1103515245u + 12345u) >> 8) % n); }
};

Bitmap32 Noise(Rng& r, int w, int h) {
  Bitmap32 b;
  b.Create(w, h);
  for (std::uint32_t& p : b.pixels) p = static_cast<std::uint32_t>(r.Below(1 << 24));
  return b;
}

// Source pixel k of a run of n starting at origin, read backwards when mirrored, held inside
// the bitmap.
int RefSource(int origin, int n, bool flip, int limit, std::int64_t k) {
  const std::int64_t v = flip ? origin + n - 1 - k : origin + k;
  return static_cast<int>(std::clamp<std::int64_t>(v, 0, limit - 1));
}

// (source index, weight) pairs of destination pixel j: covered units, weights to `one` by
// cumulative rounding.
std::vector<std::pair<int, std::int64_t>> RefWeights(int origin, int n, int m, bool flip, int limit,
                                                     int j, std::int64_t one) {
  std::vector<std::pair<int, std::int64_t>> out;
  const std::int64_t lo = static_cast<std::int64_t>(j) * n, hi = lo + n;
  std::int64_t cum = 0, given = 0;
  for (std::int64_t s = lo / m; s * m < hi; ++s) {
    cum += std::min(hi, (s + 1) * m) - std::max(lo, s * m);
    const std::int64_t upTo = cum * one / n;
    out.push_back({RefSource(origin, n, flip, limit, s), upTo - given});
    given = upTo;
  }
  return out;
}

void RefStretch(Bitmap32& dst, int dx, int dy, int dw, int dh, const Bitmap32& src, int sx, int sy,
                int sw, int sh, int mode) {
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return;
  bool fx = false, fy = false;
  if (dw < 0) dx += dw, dw = -dw, fx = !fx;
  if (dh < 0) dy += dh, dh = -dh, fy = !fy;
  if (sw < 0) sx += sw, sw = -sw, fx = !fx;
  if (sh < 0) sy += sh, sh = -sh, fy = !fy;
  for (int j = 0; j < dh; ++j) {
    if (dy + j < 0 || dy + j >= dst.height) continue;
    for (int i = 0; i < dw; ++i) {
      if (dx + i < 0 || dx + i >= dst.width) continue;
      std::uint32_t out = 0;
      if (mode == kStretchAverage) {
        const auto rows = RefWeights(sy, sh, dh, fy, src.height, j, 1024);
        const auto cols = RefWeights(sx, sw, dw, fx, src.width, i, 4096);
        for (int shift : {0, 8, 16}) {
          std::int64_t v = 0;
          for (auto [ry, wy] : rows) {
            std::int64_t h = 0;
            for (auto [cx, wx] : cols) h += wx * ((src.Row(ry)[cx] >> shift) & 0xFF);
            v += wy * ((h + 512) >> 10);  // each row rounded to 2 fractional bits first
          }
          out |= static_cast<std::uint32_t>((v + 2048) >> 12) << shift;
        }
      } else {
        const std::int64_t ky = (2 * static_cast<std::int64_t>(j) + 1) * sh / (2 * dh);
        const std::int64_t kx = (2 * static_cast<std::int64_t>(i) + 1) * sw / (2 * dw);
        out = src.Row(RefSource(sy, sh, fy, src.height, ky))[RefSource(sx, sw, fx, src.width, kx)];
      }
      dst.Row(dy + j)[dx + i] = out;
    }
  }
}

TEST(StretchExact, BothModesMatchTheReferenceOverRandomRectangles) {
  Rng r{2024};
  for (int round = 0; round < 1500; ++round) {
    const Bitmap32 src = Noise(r, 1 + r.Below(70), 1 + r.Below(60));
    Bitmap32 dst = Noise(r, 1 + r.Below(90), 1 + r.Below(70));
    Bitmap32 want = dst;
    Bitmap32 part = dst;
    // Source rectangles mostly inside, sometimes reaching past the bitmap; destinations from a
    // half to three times the source, often straddling an edge of the destination.
    int sw = 1 + r.Below(src.width), sh = 1 + r.Below(src.height);
    int sx = r.Below(src.width - sw + 1) - (r.Below(8) == 0 ? 3 : 0);
    int sy = r.Below(src.height - sh + 1) + (r.Below(8) == 0 ? 3 : 0);
    int dw = std::max(1, sw * (50 + r.Below(251)) / 100),
        dh = std::max(1, sh * (50 + r.Below(251)) / 100);
    if (r.Below(10) == 0) dw = 1 + r.Below(200);
    const int dx = r.Below(dst.width + dw) - dw + r.Below(3);
    const int dy = r.Below(dst.height + dh) - dh + r.Below(3);
    if (r.Below(4) == 0) sx += sw, sw = -sw;
    if (r.Below(4) == 0) sy += sh, sh = -sh;
    const bool dflip = r.Below(6) == 0;
    const int mode = r.Below(2) ? kStretchAverage : kStretchDrop;
    const int ddx = dflip ? dx + dw : dx, ddw = dflip ? -dw : dw;
    StretchBlt(dst, ddx, dy, ddw, dh, src, sx, sy, sw, sh, mode);
    RefStretch(want, ddx, dy, ddw, dh, src, sx, sy, sw, sh, mode);
    ASSERT_EQ(dst.pixels, want.pixels)
        << "round " << round << " mode " << mode << " src " << src.width << "x" << src.height
        << " (" << sx << "," << sy << "," << sw << "," << sh << ") dst " << dst.width << "x"
        << dst.height << " (" << ddx << "," << dy << "," << ddw << "," << dh << ")";
    // Stretched again within a clip (partly outside the bitmap at times): the pixels inside are
    // the whole stretch's, the others stay.
    const int cx = r.Below(dst.width + 8) - 4, cy = r.Below(dst.height + 8) - 4;
    const int cw = r.Below(dst.width + 4), ch = r.Below(dst.height + 4);
    const Bitmap32 before = part;
    StretchBlt(part, ddx, dy, ddw, dh, src, sx, sy, sw, sh, mode, cx, cy, cw, ch);
    for (int y = 0; y < dst.height; ++y)
      for (int x = 0; x < dst.width; ++x) {
        const bool inside = x >= cx && x < cx + cw && y >= cy && y < cy + ch;
        ASSERT_EQ(part.Row(y)[x], (inside ? want : before).Row(y)[x])
            << "round " << round << " at " << x << "," << y << " clip (" << cx << "," << cy << ","
            << cw << "," << ch << ")";
      }
  }
}

// The same sizes drawn again and again, as the image layer does frame after frame, interleaved
// with other sizes: no result may depend on what was drawn before.
TEST(StretchExact, RepeatedAndInterleavedSizesGiveTheSamePixels) {
  Rng r{99};
  const Bitmap32 src = Noise(r, 64, 48);
  Bitmap32 a, b, want;
  a.Create(100, 80);
  b.Create(100, 80);
  want.Create(100, 80);
  for (int round = 0; round < 40; ++round) {
    const int dw = 20 + round % 3 * 17, dh = 15 + round % 4 * 9;
    const int mode = round % 2 ? kStretchAverage : kStretchDrop;
    StretchBlt(a, -3, 2, dw, dh, src, 32, 24, 32, 24, mode);
    StretchBlt(b, 5, -4, 70, 60, src, 0, 0, 32, 24, kStretchAverage);
    RefStretch(want, -3, 2, dw, dh, src, 32, 24, 32, 24, mode);
    ASSERT_EQ(a.pixels, want.pixels) << round;
  }
}

// A picture zooming in depth across a small stage, as the image layer draws it frame after
// frame: scales from a twentieth to four times, clipped at the stage's edges, mirrored, reading
// past the source's edges (where taps repeat a pixel), with the fourth byte set in the source
// (the result's is 0); and the extreme reductions, where a row or a column of the destination
// takes hundreds of taps and whole source pixels can get weight 0.
TEST(StretchExact, ZoomingPicturesMatchTheReference) {
  constexpr std::uint32_t kSeed = 2107;
  Rng r{kSeed};
  auto check = [&](int round, const Bitmap32& src, Bitmap32 stage, int dx, int dy, int dw, int dh,
                   int sx, int sy, int sw, int sh) {
    Bitmap32 want = stage;
    StretchBlt(stage, dx, dy, dw, dh, src, sx, sy, sw, sh, kStretchAverage);
    RefStretch(want, dx, dy, dw, dh, src, sx, sy, sw, sh, kStretchAverage);
    ASSERT_EQ(stage.pixels, want.pixels)
        << "seed " << kSeed << " round " << round << " src " << src.width << "x" << src.height
        << " (" << sx << "," << sy << "," << sw << "," << sh << ") dst " << stage.width << "x"
        << stage.height << " (" << dx << "," << dy << "," << dw << "," << dh << ")";
  };
  for (int round = 0; round < 70; ++round) {
    Bitmap32 src = Noise(r, 8 + r.Below(150), 6 + r.Below(110));
    for (std::uint32_t& p : src.pixels) p |= static_cast<std::uint32_t>(r.Below(256)) << 24;
    const Bitmap32 stage = Noise(r, 40 + r.Below(60), 24 + r.Below(40));
    const int scale = round % 3 == 0 ? 5 + r.Below(60) : 30 + r.Below(370);
    const int dw = std::max(1, src.width * scale / 100), dh = std::max(1, src.height * scale / 100);
    const int dx = stage.width / 2 - dw / 2 + r.Below(21) - 10;
    const int dy = stage.height / 2 - dh / 2 + r.Below(21) - 10;
    int sx = 0, sy = 0, sw = src.width, sh = src.height;
    if (r.Below(4) == 0) sx = -r.Below(4), sy = r.Below(4);  // past the source's edges
    if (r.Below(3) == 0) sx += sw, sw = -sw;
    if (r.Below(4) == 0) sy += sh, sh = -sh;
    check(round, src, stage, dx, dy, dw, dh, sx, sy, sw, sh);
  }
  const Bitmap32 tall = Noise(r, 6, 300), wide = Noise(r, 5000, 2);
  check(100, tall, Noise(r, 8, 4), 0, 0, 6, 1, 0, 0, 6, 300);
  check(101, tall, Noise(r, 8, 4), 1, -1, 5, 3, 6, 300, -6, -300);
  check(102, wide, Noise(r, 4, 2), 0, 0, 1, 2, 0, 0, 5000, 2);
  check(103, wide, Noise(r, 4, 2), 0, 0, 3, 1, 5000, 0, -5000, 2);
}

// The transparent copy against its per-pixel rule, over rows of every width at any offset and
// clipping, with the key colour common in the source and fourth bytes that must not count.
TEST(MaskBlitExact, MatchesThePerPixelRule) {
  constexpr std::uint32_t kSeed = 2108;
  Rng r{kSeed};
  for (int round = 0; round < 200; ++round) {
    const std::uint32_t key = static_cast<std::uint32_t>(r.Below(4) == 0 ? 0 : r.Below(1 << 24));
    Bitmap32 src = Noise(r, 1 + r.Below(40), 1 + r.Below(6));
    for (std::uint32_t& p : src.pixels) {
      if (r.Below(3) == 0) p = key;
      if (r.Below(2) == 0) p |= static_cast<std::uint32_t>(r.Below(256)) << 24;
    }
    Bitmap32 dst = Noise(r, 1 + r.Below(50), 1 + r.Below(8));
    Bitmap32 want = dst;
    const int dx = r.Below(dst.width + 6) - 4, dy = r.Below(dst.height + 2) - 1;
    const int sx = r.Below(3) - 1, w = r.Below(src.width + 3), h = src.height;
    const std::uint32_t transparent = key | static_cast<std::uint32_t>(r.Below(256)) << 24;
    MaskBlit(dst, dx, dy, src, sx, 0, w, h, transparent);
    for (int y = 0; y < h; ++y)
      for (int x = std::max(0, -sx); x < std::min(w, src.width - sx); ++x) {
        if (dx + x < 0 || dx + x >= want.width || dy + y < 0 || dy + y >= want.height) continue;
        const std::uint32_t s = src.Row(y)[sx + x];
        if ((s & 0xFFFFFF) != key) want.Row(dy + y)[dx + x] = s;
      }
    ASSERT_EQ(dst.pixels, want.pixels) << "seed " << kSeed << " round " << round;
  }
}

Bitmap32 RefRotate(const Bitmap32& p, double t) {
  const double c = std::cos(t), s = std::sin(t);
  const int w = p.width, h = p.height;
  const int w2 = (static_cast<int>(std::fabs(c * w) + std::fabs(s * h) + 0.5) + 1) & ~1;
  const int h2 = (static_cast<int>(std::fabs(s * w) + std::fabs(c * h) + 0.5) + 1) & ~1;
  Bitmap32 q;
  q.Create(w2, h2);
  const std::int64_t C = static_cast<std::int64_t>(c * 1024),
                     S = static_cast<std::int64_t>(s * 1024);
  const std::int64_t Cr = static_cast<std::int64_t>(std::cos(t + 1.5707963267948966) * 1024);
  const std::int64_t Sr = static_cast<std::int64_t>(std::sin(t + 1.5707963267948966) * 1024);
  const std::int64_t x0 = -(w2 / 2) * C + (h2 / 2) * S + (w / 2) * 1024;
  const std::int64_t y0 = -(w2 / 2) * S - (h2 / 2) * C + (h / 2) * 1024;
  for (int i = 0; i < h2; ++i)
    for (int j = 0; j < w2; ++j) {
      const std::int64_t px = (x0 + i * Cr + j * C) >> 10, py = (y0 + i * Sr + j * S) >> 10;
      if (px >= 0 && px < w && py >= 0 && py < h) q.Row(i)[j] = p.Row(static_cast<int>(py))[px];
    }
  return q;
}

// Every instruction set this processor runs (the widest gathers whole rows; the others finish
// what is left of each row), against the reference.
TEST(RotateExact, MatchesTheReferenceAtManySizesAndAngles) {
  constexpr std::uint32_t kSeed = 31337;
  Rng r{kSeed};
  Bitmap32 reused;
  reused.Create(3, 3, 0xFFFFFF);  // stale contents must not survive into the result
  for (int round = 0; round < 400; ++round) {
    const Bitmap32 p = Noise(r, 1 + r.Below(120), 1 + r.Below(100));
    double t = (r.Below(20001) - 10000) / 1000.0;                    // -10 .. 10 radians
    if (round % 10 == 0) t = (r.Below(9) - 4) * 1.5707963267948966;  // the quarter turns
    const Bitmap32 want = RefRotate(p, t);
    const Bitmap32 got = RotatePicture(p, t);
    ASSERT_EQ(got.width, want.width) << round;
    ASSERT_EQ(got.height, want.height) << round;
    ASSERT_EQ(got.pixels, want.pixels) << round << " " << p.width << "x" << p.height << " t " << t;
    for (PixelSimd simd : {PixelSimd::kBase, PixelSimd::kAvx2, PixelSimd::kAvx512}) {
      if (simd > BestPixelSimd()) continue;
      ASSERT_EQ(RotatePicture(p, t, &reused, simd), 0);
      ASSERT_EQ(reused.width, want.width);
      ASSERT_EQ(reused.pixels, want.pixels)
          << "seed " << kSeed << " round " << round << " simd " << static_cast<int>(simd);
    }
  }
  // Long sides: the fixed-point positions run far from zero.
  for (auto [w, h, t] : {std::tuple{4000, 3, 0.01}, std::tuple{3, 4000, -3.13}, {2500, 40, 0.05}}) {
    const Bitmap32 p = Noise(r, w, h);
    ASSERT_EQ(RotatePicture(p, t).pixels, RefRotate(p, t).pixels) << w << "x" << h << " t " << t;
  }
  Bitmap32 out;
  out.Create(4, 4, 1);
  EXPECT_EQ(RotatePicture(Bitmap32(), 1.0, &out), -1);
  EXPECT_TRUE(out.Empty());
}

// Every destination pixel must receive c x b, whatever n and m.
template <typename Table>
std::vector<std::uint64_t> Received(const Table& t, int m) {
  std::vector<std::uint64_t> got(static_cast<std::size_t>(m) + 1, 0);
  for (const auto& e : t) {
    got[e.index] += e.w0;
    got[e.index + 1u] += e.w1;
  }
  return got;
}

TEST(AreaWeights, EveryDestinationPixelReceivesCTimesB) {
  const int pairs[][2] = {{640, 639}, {640, 320},  {640, 7}, {640, 640},
                          {4, 3},     {1000, 999}, {17, 5},  {640, 1}};
  for (const auto& nm : pairs) {
    const int n = nm[0], m = nm[1];
    const AreaUnits u = AreaUnitsOf(n, m);
    ASSERT_EQ(u.L, std::lcm(n, m));
    const std::uint32_t c = static_cast<std::uint32_t>(65535 / u.a);
    const auto t16 = AreaWeights16(n, m, c);
    ASSERT_EQ(t16.size(), static_cast<std::size_t>(n));
    const auto got = Received(t16, m);
    for (int j = 0; j < m; ++j)
      EXPECT_EQ(got[j], static_cast<std::uint64_t>(c * u.b)) << n << " onto " << m << " at " << j;
    EXPECT_EQ(got[m], 0u);
    EXPECT_EQ(t16.back().w1, 0);
    EXPECT_EQ(t16.back().index, m - 1);

    const std::uint32_t c32 = static_cast<std::uint32_t>(0xF8000000u / (u.b * u.b));
    const auto got32 = Received(AreaWeights32(n, m, c32), m);
    for (int j = 0; j < m; ++j) EXPECT_EQ(got32[j], static_cast<std::uint64_t>(c32 * u.b));
  }
}

TEST(AreaWeights, FourOntoThreeSplitsStraddlers) {
  const auto t = AreaWeights32(4, 3, 10);  // a = 3, b = 4
  ASSERT_EQ(t.size(), 4u);
  const unsigned want[4][3] = {{0, 30, 0}, {0, 10, 20}, {1, 20, 10}, {2, 30, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t[i].index, want[i][0]) << i;
    EXPECT_EQ(t[i].w0, want[i][1]) << i;
    EXPECT_EQ(t[i].w1, want[i][2]) << i;
  }
  EXPECT_TRUE(AreaWeights16(3, 4, 1).empty());  // enlarging is not area resampling
  EXPECT_TRUE(AreaWeights16(0, 0, 1).empty());
}

}  // namespace

TEST(ChangedRect, BoundsEveryDifferenceAndNothingMore) {
  Rng r{7};
  const Bitmap32 a = Noise(r, 40, 30);
  int x, y, w, h;
  EXPECT_FALSE(ChangedRect(a, a, &x, &y, &w, &h));
  EXPECT_EQ(w, 0);
  Bitmap32 b = a;
  b.Row(12)[5] ^= 0x01000000;  // the fourth byte counts
  ASSERT_TRUE(ChangedRect(a, b, &x, &y, &w, &h));
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 12);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  // Later rows widen the span on either side; a difference inside it changes nothing.
  b.Row(20)[39] ^= 1;
  b.Row(25)[0] ^= 1;
  b.Row(27)[20] ^= 1;
  ASSERT_TRUE(ChangedRect(a, b, &x, &y, &w, &h));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 12);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 16);
  Bitmap32 other = Noise(r, 40, 31);
  EXPECT_FALSE(ChangedRect(a, other, &x, &y, &w, &h));
}

// Enlargements by a whole number (the full-screen modes double the frame's width) take the
// shortcut that repeats columns; they must give the reference's pixels for every clip, odd or
// even first column, and mirrored or clamped sources, which do not take it. Rows are enlarged
// one to five times and by 2.25 (a row made once and copied to the rows that repeat it), with
// the clip's top above, on and below the first row.
TEST(StretchExact, WholeNumberEnlargementsMatchTheReference) {
  Rng r{77};
  const Bitmap32 src = Noise(r, 41, 9);
  for (int k = 1; k <= 4; ++k) {
    for (int round = 0; round < 60; ++round) {
      int sw = 1 + r.Below(src.width);
      const int sh = 1 + r.Below(src.height);
      int sx = r.Below(src.width - sw + 1);
      const int sy = r.Below(src.height - sh + 1);
      if (round % 7 == 0) sx -= 2;             // reaching past the bitmap's left edge
      if (round % 5 == 0) sx += sw, sw = -sw;  // mirrored
      Bitmap32 dst = Noise(r, 180, 48);
      Bitmap32 want = dst;
      const int dx = r.Below(9) - 4, dy = r.Below(5) - 2;
      const int dh = round % 6 == 5 ? sh * 9 / 4 : sh * (1 + round % 6);
      const int cx = r.Below(12) - 2, cw = 1 + r.Below(dst.width), cy = r.Below(4) - 1;
      StretchBlt(dst, dx, dy, std::abs(sw) * k, dh, src, sx, sy, sw, sh, kStretchDrop, cx, cy, cw,
                 dst.height);
      Bitmap32 whole = want;
      RefStretch(whole, dx, dy, std::abs(sw) * k, dh, src, sx, sy, sw, sh, kStretchDrop);
      for (int y = 0; y < dst.height; ++y)
        for (int x = 0; x < dst.width; ++x) {
          const bool inside = x >= cx && x < cx + cw && y >= cy;
          ASSERT_EQ(dst.Row(y)[x], (inside ? whole : want).Row(y)[x])
              << "seed 77 k " << k << " round " << round << " at " << x << "," << y;
        }
    }
  }
}

// Against the plain bounding box of every differing pixel, over widths around the four-pixel
// steps the row scans take and differences anywhere in a row, including its ends.
TEST(ChangedRect, MatchesTheBoundingBoxOfRandomDifferences) {
  Rng r{31};
  for (int round = 0; round < 400; ++round) {
    const Bitmap32 a = Noise(r, 1 + r.Below(40), 1 + r.Below(12));
    Bitmap32 b = a;
    const int n = r.Below(4);
    for (int k = 0; k < n; ++k) b.Row(r.Below(a.height))[r.Below(a.width)] ^= 1u << r.Below(32);
    int left = a.width, right = -1, top = a.height, bottom = -1;
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x)
        if (a.Row(y)[x] != b.Row(y)[x]) {
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
    int x, y, w, h;
    const bool changed = ChangedRect(a, b, &x, &y, &w, &h);
    ASSERT_EQ(changed, right >= 0) << round;
    // The same with `a` inside a larger picture (the window that shows the frame), which must
    // hold the whole of b's size at the offset.
    Bitmap32 big = Noise(r, a.width + 1 + r.Below(9), a.height + 1 + r.Below(5));
    const int ox = r.Below(big.width - a.width + 1), oy = r.Below(big.height - a.height + 1);
    CopyRect(big, ox, oy, a, 0, 0, a.width, a.height);
    int bx, by, bw, bh;
    ASSERT_EQ(ChangedRectAt(big, ox, oy, b, 0, b.height, &bx, &by, &bw, &bh), changed) << round;
    EXPECT_FALSE(
        ChangedRectAt(big, big.width - a.width + 1, oy, b, 0, b.height, &bx, &by, &bw, &bh))
        << round;
    if (!changed) continue;
    ASSERT_TRUE(ChangedRectAt(big, ox, oy, b, 0, b.height, &bx, &by, &bw, &bh)) << round;
    EXPECT_EQ(std::make_tuple(bx, by, bw, bh), std::make_tuple(x, y, w, h)) << round;
    EXPECT_EQ(x, left) << round;
    EXPECT_EQ(y, top) << round;
    EXPECT_EQ(w, right - left + 1) << round;
    EXPECT_EQ(h, bottom - top + 1) << round;
  }
}

// The changed pixels of a few columns as bits, against the plain comparison, at every count the
// block scan of a frame uses (whole blocks and a row's last, shorter one).
TEST(ChangedRect, DifferingPixelsAreThePixelsThatDiffer) {
  Rng r{16};
  for (int round = 0; round < 300; ++round) {
    const Bitmap32 a = Noise(r, 32, 1);
    Bitmap32 b = a;
    for (int k = r.Below(6); k > 0; --k) b.Row(0)[r.Below(32)] ^= 1u << r.Below(32);
    const int n = round % 3 == 0 ? 16 : r.Below(33);
    std::uint32_t want = 0;
    for (int i = 0; i < n; ++i) want |= static_cast<std::uint32_t>(a.Row(0)[i] != b.Row(0)[i]) << i;
    ASSERT_EQ(DifferingPixels(a.Row(0), b.Row(0), n), want) << "seed 16 round " << round;
  }
}

// The full-screen pictures: the frame twice and three times as wide (mode 2 on 1280 x 1024 and
// 1920 x 1080) and an uneven width, whole and in parts at odd and even columns.
TEST(StretchExact, FullScreenFramesMatchTheReference) {
  Rng r{123};
  const Bitmap32 src = Noise(r, kStageWidth, kStageHeight);
  for (const int dw : {1280, 1920}) {
    Bitmap32 want;
    want.Create(1920, 1080, 0x5A5A5A);
    RefStretch(want, 0, 217, dw, 580, src, 0, 0, kStageWidth, kStageHeight, kStretchDrop);
    Bitmap32 whole;
    whole.Create(1920, 1080, 0x5A5A5A);
    StretchBlt(whole, 0, 217, dw, 580, src, 0, 0, kStageWidth, kStageHeight, kStretchDrop);
    ASSERT_EQ(whole.pixels, want.pixels) << dw;
  }
  for (int round = 0; round < 9; ++round) {
    Bitmap32 part;
    part.Create(1920, 1024, 0x5A5A5A);
    Bitmap32 ref = part;
    const int dw = round % 3 == 0 ? 1280 : (round % 3 == 1 ? 1920 : 1111);
    const int cx = r.Below(300) + round, cw = 1 + r.Below(900);
    const int cy = r.Below(300), ch = 1 + r.Below(500);
    StretchBlt(part, 0, 217, dw, 580, src, 0, 0, kStageWidth, kStageHeight, kStretchDrop, cx, cy,
               cw, ch);
    RefStretch(ref, 0, 217, dw, 580, src, 0, 0, kStageWidth, kStageHeight, kStretchDrop);
    for (int y = 0; y < 1024; ++y)
      for (int x = 0; x < 1920; ++x) {
        const bool inside = x >= cx && x < cx + cw && y >= cy && y < cy + ch;
        if (!inside) ref.Row(y)[x] = 0x5A5A5A;
      }
    ASSERT_EQ(part.pixels, ref.pixels) << round;
  }
}

// Fills against a plain loop: rectangles cut by every edge, rows of whole width (filled as one
// run), widths around the eight-pixel stores and colours that are memsets or not.
TEST(FillExact, MatchesThePlainLoopOverRandomRectangles) {
  Rng r{2024};
  const std::uint32_t colours[] = {0, 0xFFFFFFFFu, 0x00FFFFFF, 0x00123456, 0x7F7F7F7F, 0x01000000};
  for (int round = 0; round < 300; ++round) {
    Bitmap32 got = Noise(r, 1 + r.Below(40), 1 + r.Below(9));
    Bitmap32 want = got;
    const int w = round % 4 == 0 ? got.width : r.Below(got.width + 12) - 2;
    const int x = round % 4 == 0 ? 0 : r.Below(got.width + 6) - 3;
    const int y = r.Below(got.height + 4) - 2, h = r.Below(got.height + 4);
    const std::uint32_t c = colours[r.Below(6)];
    FillRect(got, x, y, w, h, c);
    for (int j = std::max(y, 0); j < std::min(y + h, want.height); ++j)
      for (int i = std::max(x, 0); i < std::min(x + w, want.width); ++i) want.Row(j)[i] = c;
    ASSERT_EQ(got.pixels, want.pixels) << "seed 2024 round " << round;
  }
}

// The screen level with every instruction set this processor runs against its formula,
// min((v x gain) >> 16, 255) on blue, green and red with the fourth byte kept: gains below zero,
// around 1, at the 16-bit boundaries and far above saturation, over pixel counts that leave every
// tail length after the four-, eight- and sixteen-pixel steps.
TEST(ScaleExact, MatchesTheFormulaForEveryKindOfGain) {
  Rng r{99};
  const std::int32_t fixed[] = {-5,      0,        1,         0xFFFF,    0x10000,   0x10001,
                                0x18000, 0xFFFFFF, 0x1000000, 0x1000001, 0x7FFFFFFF};
  for (int round = 0; round < 200; ++round) {
    const std::int32_t gain =
        round < 11 ? fixed[round] : static_cast<std::int32_t>(r.Below(1 << 30) >> r.Below(14));
    Bitmap32 before = Noise(r, 1 + r.Below(23), 1 + r.Below(3));
    for (std::uint32_t& p : before.pixels) p |= static_cast<std::uint32_t>(r.Below(256)) << 24;
    before.pixels[0] |= 0x00FFFFFF;
    Bitmap32 want = before;
    const std::uint64_t g = gain < 0 ? 0 : static_cast<std::uint64_t>(gain);
    for (std::uint32_t& p : want.pixels) {
      std::uint32_t out = p & 0xFF000000u;
      for (int shift = 0; shift <= 16; shift += 8)
        out |= static_cast<std::uint32_t>(
                   std::min<std::uint64_t>(((p >> shift & 0xFF) * g) >> 16, 255))
               << shift;
      p = out;
    }
    for (int simd = 0; simd <= static_cast<int>(BestPixelSimd()); ++simd) {
      Bitmap32 got = before;
      ScaleColours(got, gain, static_cast<PixelSimd>(simd));
      ASSERT_EQ(got.pixels, want.pixels)
          << "seed 99 round " << round << " gain " << gain << " simd " << simd;
    }
  }
  if (BestPixelSimd() != PixelSimd::kAvx512) {
    GTEST_SKIP() << "the wider vector paths this processor lacks were not run";
  }
}

// A move within a bitmap: every pixel whose source lies inside takes it, every other keeps its
// value (rows overlap both ways, so the order of the copies matters), for every move on a small
// bitmap including those that leave nothing. The moved pixels of one box made into another
// bitmap are those of the move, for every box (some reaching past the bitmap), and nothing
// outside the box is written.
TEST(MoveExact, MatchesThePlainRuleForEveryMove) {
  const Bitmap32 start = Numbered(7, 5);
  for (int dy = -6; dy <= 6; ++dy)
    for (int dx = -8; dx <= 8; ++dx) {
      Bitmap32 moved = start;
      MovePixels(moved, dx, dy);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
          const bool inside = x - dx >= 0 && x - dx < 7 && y - dy >= 0 && y - dy < 5;
          const std::uint32_t want = inside ? start.Row(y - dy)[x - dx] : start.Row(y)[x];
          ASSERT_EQ(moved.Row(y)[x], want) << dx << " " << dy << " at " << x << " " << y;
        }
      for (int bx = -1; bx < 7; ++bx)
        for (int bw = 0; bx + bw <= 8; ++bw)
          for (int by = -1; by < 5; by += 2)
            for (int bh = 1; by + bh <= 6; bh += 2) {
              Bitmap32 into;
              into.Create(7, 5, 0xABCDEF);
              MovedPixelsInto(into, start, dx, dy, bx, by, bw, bh);
              for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) {
                  const bool inBox = x >= bx && x < bx + bw && y >= by && y < by + bh;
                  ASSERT_EQ(into.Row(y)[x], inBox ? moved.Row(y)[x] : 0xABCDEFu)
                      << dx << " " << dy << " box " << bx << " " << by << " " << bw << " " << bh
                      << " at " << x << " " << y;
                }
            }
    }
}
