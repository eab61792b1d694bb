// The preview animation: ground grid, near-row rule, masking and the backdrop at the host size.
#include <gtest/gtest.h>

#include <cmath>

#include "app/CTroops.h"

namespace {

constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::uint32_t kSky = 0x00102030;

Bitmap32 Solid(int w, int h, std::uint32_t c) {
  Bitmap32 b;
  b.Create(w, h, c);
  return b;
}

TroopPictures SolidPictures(std::uint32_t kind0, std::uint32_t kind1, int backW = kPreviewWidth,
                            int backH = kPreviewHeight) {
  TroopPictures p;
  p.backdrop = Solid(backW, backH, kSky);
  p.kind[0] = Solid(kFigureWidth, kFigureHeight, kind0);
  p.kind[1] = Solid(kFigureWidth, kFigureHeight, kind1);
  return p;
}

// Places the viewpoint so that the nearest row lies `depth` units ahead (1..280), the nearest
// row's global number is `nearRow`, and column c0 = `c0` with CamX a multiple of 100.
void Place(CTroops& t, int depth, int nearRow, int c0) {
  t.CamY = (nearRow - 1) * 280.0 + (280 - depth);
  t.CamX = c0 * 100.0;
  t.Bob = 0;
}

int Count(const Bitmap32& b, std::uint32_t c) {
  int n = 0;
  for (std::uint32_t p : b.pixels) n += (p & 0xFFFFFF) == c;
  return n;
}

TEST(TroopsGrid, EverySixteenthRowAndColumnIsALane) {
  EXPECT_FALSE(CTroops::HasFigure(0, 5));
  EXPECT_FALSE(CTroops::HasFigure(32, 5));
  EXPECT_FALSE(CTroops::HasFigure(7, 16));
  EXPECT_FALSE(CTroops::HasFigure(7, 4800));
  EXPECT_TRUE(CTroops::HasFigure(15, 17));
  EXPECT_TRUE(CTroops::HasFigure(1, 1));
  // Kinds alternate in 16 x 16 blocks.
  EXPECT_EQ(CTroops::KindOf(1, 1), 0);
  EXPECT_EQ(CTroops::KindOf(1, 17), 1);
  EXPECT_EQ(CTroops::KindOf(17, 1), 1);
  EXPECT_EQ(CTroops::KindOf(17, 17), 0);
  EXPECT_EQ(CTroops::KindOf(15, 15), 0);
}

TEST(TroopsDraw, NearestRowCoversTheViewUnlessNearerThanTheLimit) {
  CTroops t(kPreviewWidth, kPreviewHeight, 1, SolidPictures(kWhite, kWhite));
  Bitmap32 out = Solid(kPreviewWidth, kPreviewHeight, 0);

  // At depth 71 the nearest figure is scaled 3.8 times and fills the whole view.
  Place(t, 71, 701, 1005);
  t.Draw(out);
  EXPECT_EQ(Count(out, kWhite), kPreviewWidth * kPreviewHeight);

  // At 69 it is nearer than the limit and left out: the backdrop shows between farther rows.
  Place(t, 69, 701, 1005);
  t.Draw(out);
  EXPECT_GT(Count(out, kSky), 0);
  EXPECT_LT(Count(out, kWhite), kPreviewWidth * kPreviewHeight);

  // The same happens when the nearest row is one of the empty lanes...
  Place(t, 71, 704, 1005);
  t.Draw(out);
  EXPECT_GT(Count(out, kSky), 0);
  // ...or the covering figure stands in an empty column (c0 - 1 for the row of two figures).
  Place(t, 71, 701, 1009);
  t.Draw(out);
  EXPECT_GT(Count(out, kSky), 0);
}

TEST(TroopsDraw, FigureKindFollowsTheBlockOfItsRowAndColumn) {
  const std::uint32_t red = 0xFF0000, green = 0x00FF00;
  CTroops t(kPreviewWidth, kPreviewHeight, 1, SolidPictures(red, green));
  Bitmap32 out = Solid(kPreviewWidth, kPreviewHeight, 0);
  Place(t, 71, 701, 1005);  // figure at row 701, column 1004: blocks 43 + 62, kind 1
  t.Draw(out);
  EXPECT_EQ(Count(out, green), kPreviewWidth * kPreviewHeight);
  Place(t, 71, 719, 1005);  // row block 44: kind 0
  t.Draw(out);
  EXPECT_EQ(Count(out, red), kPreviewWidth * kPreviewHeight);
}

TEST(TroopsDraw, BlackPixelsOfTheFiguresAreTransparent) {
  TroopPictures p = SolidPictures(kWhite, kWhite);
  for (int y = 0; y < kFigureHeight; ++y)
    for (int x = 20; x < 32; ++x) p.kind[0].Row(y)[x] = p.kind[1].Row(y)[x] = 0;
  CTroops t(kPreviewWidth, kPreviewHeight, 1, std::move(p));
  Bitmap32 out = Solid(kPreviewWidth, kPreviewHeight, 0);
  Place(t, 71, 701, 1005);
  t.Draw(out);
  // The near figure starts at x = -22 scaled by 3.8: its black middle (source columns 20..31)
  // lands at about x 54..98, where the backdrop (and farther figures) show through.
  const std::uint32_t* row = out.Row(kPreviewHeight - 1);
  EXPECT_EQ(row[5] & 0xFFFFFF, kWhite);
  EXPECT_EQ(row[140] & 0xFFFFFF, kWhite);
  int notWhite = 0;
  for (int x = 60; x < 95; ++x) notWhite += (row[x] & 0xFFFFFF) != kWhite;
  EXPECT_GT(notWhite, 20);
  EXPECT_EQ(Count(out, 0), 0) << "no black strip pixel may reach the view";
}

TEST(TroopsBackdrop, StretchedToAnotherHostSizeByDroppingPixels) {
  TroopPictures p = SolidPictures(kWhite, kWhite);
  for (int y = 0; y < kPreviewHeight; ++y)
    for (int x = 0; x < kPreviewWidth; ++x) p.backdrop.Row(y)[x] = (y << 8) | x;
  const Bitmap32 original = p.backdrop;

  CTroops same(kPreviewWidth, kPreviewHeight, 3, p);
  EXPECT_EQ(same.Backdrop().pixels, original.pixels);

  CTroops doubled(2 * kPreviewWidth, 2 * kPreviewHeight, 3, p);
  ASSERT_EQ(doubled.Backdrop().width, 2 * kPreviewWidth);
  ASSERT_EQ(doubled.Backdrop().height, 2 * kPreviewHeight);
  for (int y = 0; y < kPreviewHeight; y += 7)
    for (int x = 0; x < kPreviewWidth; x += 5) {
      EXPECT_EQ(doubled.Backdrop().Row(2 * y)[2 * x], original.Row(y)[x]);
      EXPECT_EQ(doubled.Backdrop().Row(2 * y + 1)[2 * x + 1], original.Row(y)[x]);
    }
}

// Views of other sizes than the designed one, tiny and large, draw inside their bitmap.
TEST(TroopsDraw, AnyHostSizeDrawsWithinTheView) {
  for (auto [w, h] : {std::pair{400, 300}, {30, 20}, {1, 1}, {153, 113}}) {
    CTroops t(w, h, 7);
    Bitmap32 out = Solid(w, h, 0);
    for (int i = 0; i < 200; ++i) {
      t.Step();
      t.Draw(out);
    }
    EXPECT_EQ(out.width, w);
    EXPECT_EQ(t.Backdrop().width, w);
    EXPECT_EQ(t.Backdrop().height, h);
  }
}

TEST(TroopsStep, WalkStaysOnTheGroundAndTurnsWithinBounds) {
  for (std::uint32_t seed : {1u, 2u, 12345u}) {
    CTroops t(kPreviewWidth, kPreviewHeight, seed);
    EXPECT_GE(t.Speed, 7);
    EXPECT_LE(t.Speed, 16);
    for (int i = 0; i < 60000; ++i) {
      t.Step();
      ASSERT_GE(t.CamX, 100 - 20);
      ASSERT_GE(t.CamY, 100 - 20);
      ASSERT_LE(std::fabs(t.Heading), 2 * M_PI + 0.5);
      ASSERT_GT(t.Speed, 0);
      ASSERT_LT(t.Speed, 17);
      ASSERT_LE(std::fabs(t.Bob - t.Offset), t.Amplitude + 1e-9);
    }
  }
}

TEST(TroopsStep, FigureSetDecidesTheBob) {
  bool seen[3] = {};
  for (std::uint32_t seed = 0; seed < 20; ++seed) {
    CTroops t(kPreviewWidth, kPreviewHeight, seed);
    seen[t.FigureSet()] = true;
    EXPECT_EQ(t.Amplitude, t.FigureSet() == 1 ? 50 : 25);
    EXPECT_EQ(t.Offset, t.FigureSet() == 1 ? 10 : 1);
  }
  EXPECT_TRUE(seen[1] && seen[2]);
  CTroops t(kPreviewWidth, kPreviewHeight, 0);
  const int rows[kTroopRows] = {2, 4, 6, 8, 8, 10, 6, 6, 6, 4, 4, 4};
  for (int q = 0; q < kTroopRows; ++q) EXPECT_EQ(t.RowFigures[q], rows[q]);
}

}  // namespace
