// The text-picture store: row codes, entries, loading with reduction and padding, shade ramps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render/CMonoBmp.h"
#include "settings/CMainCtl.h"
#include "tools/BmpEncoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Code(const std::vector<std::uint8_t>& row, int width) {
  Bytes out;
  EncodeRowCode(row.data(), width, out);
  return out;
}

// A one-bit row of `width` pixels with ink from `from` for `n` pixels.
std::vector<std::uint8_t> InkRow(int width, int from, int n) {
  std::vector<std::uint8_t> row((width + 7) / 8 + 4, 0);
  for (int x = from; x < from + n; ++x) row[x >> 3] |= 0x80 >> (x & 7);
  return row;
}

TEST(RowCode, ExamplesAndRunSplitting) {
  EXPECT_EQ(Code({0x03, 0xC0}, 16), (Bytes{6, 4, 6, 0, 255}));  // ends in a gap
  EXPECT_EQ(Code({0xFF, 0xFF}, 16), (Bytes{0, 16, 255}));
  EXPECT_EQ(Code(InkRow(304, 0, 304), 304), (Bytes{0, 254, 0, 50, 255}));
  EXPECT_EQ(Code(InkRow(640, 0, 640), 640), (Bytes{0, 254, 0, 254, 0, 132, 255}));
  EXPECT_EQ(Code(InkRow(640, 0, 0), 640), (Bytes{255}));
  EXPECT_EQ(Code({}, 0), (Bytes{255}));
  // Long gaps split the same way, with ink count 0.
  EXPECT_EQ(Code(InkRow(304, 300, 4), 304), (Bytes{254, 0, 46, 4, 255}));
  EXPECT_EQ(Code(InkRow(640, 0, 1), 640), (Bytes{0, 1, 254, 0, 254, 0, 131, 0, 255}));
  // Exactly 254 needs no split.
  EXPECT_EQ(Code(InkRow(256, 1, 254), 256), (Bytes{1, 254, 1, 0, 255}));
}

TEST(RowCode, ReadsOnlyWholeBytesOfTheWidth) {
  // Width 13 reads one byte: the ink in the second byte is not part of the row.
  EXPECT_EQ(Code({0x01, 0xF8}, 13), (Bytes{7, 1, 255}));
  EXPECT_EQ(Code({0xFF}, 7), (Bytes{255}));
}

TEST(RowCode, AlternatingPixelsFitTheWorstCase) {
  Bytes worst;
  std::vector<std::uint8_t> row(2000 / 8, 0xAA);  // ink, gap, ink, gap ...
  EncodeRowCode(row.data(), 2000, worst);
  EXPECT_EQ(worst.size(), 2000u + 3u);
  EXPECT_EQ(worst.front(), 0);
  EXPECT_EQ(worst[worst.size() - 2], 0);  // the trailing gap's ink count
}

class MonoBmpStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "monobmp_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::mkdir(dir_.c_str(), 0700);
    settings_.SetCurPath(dir_);
  }
  void TearDown() override {
    for (const std::string& f : files_) std::remove((dir_ + "/" + f).c_str());
    ::rmdir(dir_.c_str());
  }
  void Write(const std::string& name, const Bytes& bytes) {
    ASSERT_EQ(WriteFileBytes((dir_ + "/" + name).c_str(), bytes), 0);
    files_.push_back(name);
  }
  void WriteColour(const std::string& name, const Bitmap32& b, int bits) {
    Bytes bytes;
    ASSERT_EQ(EncodeBmp(b, bits, &bytes), 0);
    Write(name, bytes);
  }
  int Load(const std::string& name, int kind, std::string* left = nullptr) {
    std::string n = name;
    const int rc = set_.LoadTextBitmap(n, kind);
    if (left) *left = n;
    return rc;
  }

  std::string dir_;
  std::vector<std::string> files_;
  CMainCtl settings_;
  CMonoBmp set_{&settings_};
};

TEST_F(MonoBmpStore, AddTextBitmapCodesRowsAndKeepsACopy) {
  Bitmap1 b;
  b.Create(16, 3);
  b.Row(0)[0] = 0x03, b.Row(0)[1] = 0xC0;
  b.Row(2)[0] = 0xFF, b.Row(2)[1] = 0xFF;
  ASSERT_EQ(set_.AddTextBitmap(b), 0);
  ASSERT_EQ(set_.AddTextBitmap(b), 1);
  EXPECT_EQ(set_.count, 2);
  const CMonoGraph* g = set_.Entry(0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->codes, (Bytes{6, 4, 6, 0, 255, 255, 0, 16, 255}));
  ASSERT_EQ(g->rowStart.size(), 3u);
  EXPECT_EQ(g->rowStart[1], 5u);
  EXPECT_EQ(g->RowCode(2)[1], 16);
  EXPECT_EQ(g->bitmap.bits, b.bits);
  EXPECT_EQ(g->contrast, 0xFF0000);
  EXPECT_EQ(g->colour, 0);
  EXPECT_EQ(g->ShadeRamp[31].packed, 0u);
}

TEST_F(MonoBmpStore, LargePictureGrowsTheCodeBuffer) {
  Bitmap1 b;
  b.Create(640, 400);
  for (int y = 0; y < 400; ++y) std::fill_n(b.Row(y), 80, 0xAA);  // 643 bytes per row
  ASSERT_EQ(set_.AddTextBitmap(b), 0);
  const CMonoGraph* g = set_.Entry(0);
  EXPECT_EQ(g->codes.size(), 400u * 643u);
  EXPECT_EQ(g->rowStart[399], 399u * 643u);
}

TEST_F(MonoBmpStore, SixtyFifthEntryIsRefusedAndClearFrees) {
  Bitmap1 b;
  b.Create(8, 1);
  for (int i = 0; i < kMaxMonoEntries; ++i) ASSERT_EQ(set_.AddTextBitmap(b), i);
  EXPECT_EQ(set_.AddTextBitmap(b), -1);
  EXPECT_EQ(Load("missing.bmp", kKindTitle), -1);
  EXPECT_EQ(set_.count, kMaxMonoEntries);
  set_.ClearEntries();
  EXPECT_EQ(set_.count, 0);
  EXPECT_EQ(set_.Entry(0), nullptr);
  EXPECT_EQ(set_.entries[63], nullptr);
  EXPECT_EQ(set_.AddTextBitmap(b), 0);
}

TEST_F(MonoBmpStore, ScrollingTextPictureBecomes640WideCentred) {
  Bitmap32 wide;
  wide.Create(641, 2);
  wide.Row(0)[0] = 0xFFFFFF;
  wide.Row(0)[639] = 0xFFFFFF;
  wide.Row(1)[640] = 0xFFFFFF;  // lost: 320 - 641 / 2 = 0
  WriteColour("wide.bmp", wide, 24);
  ASSERT_EQ(Load("wide.bmp", kKindScrText), 0);
  const Bitmap1& b = set_.Entry(0)->bitmap;
  ASSERT_EQ(b.width, 640);
  ASSERT_EQ(b.height, 2);
  EXPECT_TRUE(b.Get(0, 0));
  EXPECT_TRUE(b.Get(639, 0));
  EXPECT_EQ(set_.Entry(0)->codes, (Bytes{0, 1, 254, 0, 254, 0, 130, 1, 255, 255}));

  Bitmap32 narrow;
  narrow.Create(101, 1);
  narrow.Row(0)[0] = 0xFFFFFF;
  narrow.Row(0)[100] = 0xFFFFFF;
  WriteColour("narrow.bmp", narrow, 8);
  ASSERT_EQ(Load("narrow.bmp", kKindScrText), 1);
  const Bitmap1& n = set_.Entry(1)->bitmap;
  EXPECT_TRUE(n.Get(270, 0));  // 320 - 101 / 2
  EXPECT_TRUE(n.Get(370, 0));
  EXPECT_FALSE(n.Get(269, 0));
}

TEST_F(MonoBmpStore, TitlePictureBecomesASquareOfEights) {
  Bitmap32 p;
  p.Create(20, 30);
  p.Row(0)[0] = 0xFFFFFF;
  p.Row(29)[19] = 0xFFFFFF;
  p.Row(5)[5] = 0xFEFFFF;  // not exactly white: gap
  WriteColour("title.bmp", p, 32);
  ASSERT_EQ(Load("title.bmp", kKindTitle), 0);
  const Bitmap1& b = set_.Entry(0)->bitmap;
  ASSERT_EQ(b.width, 32);
  ASSERT_EQ(b.height, 32);
  EXPECT_TRUE(b.Get(6, 1));
  EXPECT_TRUE(b.Get(25, 30));
  EXPECT_FALSE(b.Get(11, 6));
  int ink = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ink += b.Get(x, y);
  EXPECT_EQ(ink, 2);

  // A square whose side is a multiple of 8 is kept; a 24 x 16 one becomes 24 x 24; a 16 x 16
  // side stays 16 but an odd 17 rises to 24.
  Bitmap32 sq;
  sq.Create(16, 16, 0xFFFFFF);
  WriteColour("sq.bmp", sq, 1);
  ASSERT_EQ(Load("sq.bmp", kKindTitle), 1);
  EXPECT_EQ(set_.Entry(1)->bitmap.width, 16);
  Bitmap32 flat;
  flat.Create(24, 16);
  flat.Row(0)[0] = 0xFFFFFF;
  WriteColour("flat.bmp", flat, 4);
  ASSERT_EQ(Load("flat.bmp", kKindTitle), 2);
  EXPECT_EQ(set_.Entry(2)->bitmap.height, 24);
  EXPECT_TRUE(set_.Entry(2)->bitmap.Get(0, 4));
}

TEST_F(MonoBmpStore, OneBitPicturesKeepTheirIndices) {
  // Palette index 1 is ink whatever its colour: here a picture whose index 1 is black.
  const std::uint8_t black_on_white[] = {
      'B',  'M', 70, 0, 0,    0, 0, 0, 0,    0,    62,   0, 0, 0,        // file header
      40,   0,   0,  0, 8,    0, 0, 0, 2,    0,    0,    0, 1, 0, 1, 0,  // 8 x 2, one bit
      0,    0,   0,  0, 8,    0, 0, 0, 0,    0,    0,    0, 0, 0, 0, 0,
      2,    0,   0,  0, 0,    0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0,  // palette: white, black
      0x0F, 0,   0,  0, 0xF0, 0, 0, 0};                                  // bottom row, top row
  Write("mono.bmp", Bytes(std::begin(black_on_white), std::end(black_on_white)));
  ASSERT_EQ(Load("mono.bmp", kKindTitle), 0);
  const CMonoGraph* g = set_.Entry(0);
  ASSERT_EQ(g->bitmap.width, 8);  // 8 x 2 padded to 8 x 8 at (0, 3)
  ASSERT_EQ(g->bitmap.height, 8);
  EXPECT_EQ(Bytes(g->RowCode(3), g->RowCode(3) + 5), (Bytes{0, 4, 4, 0, 255}));
  EXPECT_EQ(Bytes(g->RowCode(4), g->RowCode(4) + 3), (Bytes{4, 4, 255}));
  EXPECT_EQ(g->RowCode(2)[0], 255);
}

TEST_F(MonoBmpStore, MissingOrBrokenFileGivesNotFoundAndEmptiesTheName) {
  std::string left;
  ASSERT_EQ(Load("nothere.bmp", kKindTitle, &left), 0);
  EXPECT_EQ(left, "");
  EXPECT_EQ(set_.Entry(0)->bitmap.width, 56);  // 51 x 22 padded to a 56 square
  EXPECT_EQ(set_.Entry(0)->bitmap.height, 56);
  Write("broken.bmp", Bytes{'B', 'M', 1, 2, 3});
  ASSERT_EQ(Load("broken.bmp", kKindScrText, &left), 1);
  EXPECT_EQ(left, "");
  EXPECT_EQ(set_.Entry(1)->bitmap.width, 640);
  EXPECT_EQ(set_.Entry(1)->bitmap.height, 22);
  // The sign has ink, centred: 320 - 51 / 2 = 295 is its left frame column.
  EXPECT_TRUE(set_.Entry(1)->bitmap.Get(295, 10));
  EXPECT_FALSE(set_.Entry(1)->bitmap.Get(294, 10));
  Bitmap32 ok;
  ok.Create(8, 8);
  WriteColour("ok.bmp", ok, 24);
  ASSERT_EQ(Load("ok.bmp", kKindTitle, &left), 2);
  EXPECT_EQ(left, "ok.bmp");
}

TEST_F(MonoBmpStore, ShadeRampBlendsFromTheBackground) {
  Bitmap1 b;
  b.Create(8, 1);
  set_.AddTextBitmap(b);
  CMonoGraph* g = set_.Entry(0);
  settings_.SetBackColour(0x0000FF);  // red, as a script colour
  g->colour = 0x00FF00;               // green
  set_.BuildShadeRamp(0);
  EXPECT_EQ(g->ShadeRamp[255].packed, 0xFF0000u);
  EXPECT_EQ(g->ShadeRamp[255].r, 255);
  EXPECT_EQ(g->ShadeRamp[31].packed, 0x00FF00u);
  // Level 1: 255 + trunc(-255 x 16 / 256) = 240 red, trunc(255 x 16 / 256) = 15 green.
  EXPECT_EQ(g->ShadeRamp[1].packed, 0xF00F00u);
  EXPECT_EQ(g->ShadeRamp[1].r, 240);
  EXPECT_EQ(g->ShadeRamp[1].g, 15);
  EXPECT_EQ(g->ShadeRamp[30].g, 247);
  EXPECT_EQ(g->ShadeRamp[0].packed, 0u);
  for (int s = 32; s < 255; ++s) EXPECT_EQ(g->ShadeRamp[s].packed, 0u) << s;

  settings_.SetBackColour(0x563412);
  g->colour = 0x563412;
  set_.BuildShadeRamp(0);
  for (int level = 1; level <= 31; ++level) {
    EXPECT_EQ(g->ShadeRamp[level].packed, 0x123456u) << level;
    EXPECT_EQ(g->ShadeRamp[level].b, 0x56);
  }
  set_.BuildShadeRamp(5);  // no such entry: nothing happens
}

}  // namespace
