// BMP decoding of every depth and compression, round trips through the encoder, and broken files.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/Picture.h"
#include "tools/BmpEncoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A file with a 40-byte header, `extra` (masks or palette) and `pixels`.
Bytes MakeBmp(int w, int h, int bits, std::uint32_t compression, const Bytes& extra,
              const Bytes& pixels, std::uint32_t colorsUsed = 0) {
  Bytes b{'B', 'M'};
  const std::uint32_t off = 14 + 40 + static_cast<std::uint32_t>(extra.size());
  Put32(b, off + static_cast<std::uint32_t>(pixels.size()));
  Put32(b, 0);
  Put32(b, off);
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(w));
  Put32(b, static_cast<std::uint32_t>(h));
  Put16(b, 1);
  Put16(b, static_cast<std::uint32_t>(bits));
  Put32(b, compression);
  Put32(b, static_cast<std::uint32_t>(pixels.size()));
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, colorsUsed);
  Put32(b, 0);
  b.insert(b.end(), extra.begin(), extra.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

Bytes Palette(std::initializer_list<std::uint32_t> colours) {
  Bytes p;
  for (std::uint32_t c : colours) Put32(p, c);
  return p;
}

Bitmap32 Sample(int w, int h, int colours) {
  Bitmap32 b;
  b.Create(w, h);
  const std::uint32_t set[] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456,
                               0x808080, 0xFFC000, 0x00FFFF, 0x400040, 0x7F7F00, 0x010203,
                               0xFEFEFE, 0x102030, 0xA0B0C0, 0x0F0F0F};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = (x * 7 + y * 3) % colours;
      b.Row(y)[x] = colours > 16 ? static_cast<std::uint32_t>(x * 0x010101 + y * 0x0F0000) : set[i];
    }
  return b;
}

TEST(BmpDecode, EncodedPicturesOfEveryDepthRoundTrip) {
  const struct { int bits, colours; } cases[] = {{1, 2}, {4, 16}, {8, 16}, {24, 100}, {32, 100}};
  for (const auto& c : cases) {
    for (int w : {1, 7, 9, 33}) {
      const Bitmap32 src = Sample(w, 5, c.colours);
      Bytes file;
      ASSERT_EQ(EncodeBmp(src, c.bits, &file), 0) << c.bits;
      Picture pic;
      ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0) << c.bits << " " << w;
      EXPECT_EQ(pic.bitsPerPixel, c.bits);
      EXPECT_EQ(pic.rgb.width, w);
      EXPECT_EQ(pic.rgb.pixels, src.pixels) << c.bits << " bits, width " << w;
      EXPECT_EQ(pic.mono.width, c.bits == 1 ? w : 0);
    }
  }
}

TEST(BmpDecode, EncoderRefusesTooManyColours) {
  Bytes file;
  EXPECT_EQ(EncodeBmp(Sample(9, 2, 3), 1, &file), -1);
  EXPECT_EQ(EncodeBmp(Sample(9, 2, 16), 8, &file), 0);
  EXPECT_EQ(EncodeBmp(Sample(40, 40, 100), 8, &file), -1);
  EXPECT_EQ(EncodeBmp(Sample(4, 4, 2), 16, &file), -1);
  EXPECT_EQ(EncodeBmp(Bitmap32(), 24, &file), -1);
}

TEST(BmpDecode, OneBitKeepsPaletteIndices) {
  Bitmap1 m;
  m.Create(10, 2);
  m.Set(0, 0, true);
  m.Set(9, 1, true);
  Bytes file;
  ASSERT_EQ(EncodeBmp1(m, &file), 0);
  Picture pic;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0);
  EXPECT_EQ(pic.bitsPerPixel, 1);
  EXPECT_TRUE(pic.mono.Get(0, 0));
  EXPECT_TRUE(pic.mono.Get(9, 1));
  EXPECT_FALSE(pic.mono.Get(1, 0));
  EXPECT_EQ(pic.rgb.Row(0)[0], 0xFFFFFFu);
  EXPECT_EQ(pic.rgb.Row(0)[1], 0u);
  // With the palette reversed, index 1 is black but still the set bit.
  const Bytes rev = MakeBmp(8, 1, 1, 0, Palette({0xFFFFFF, 0x000000}), {0x80, 0, 0, 0});
  ASSERT_EQ(DecodeBmp(rev.data(), rev.size(), &pic), 0);
  EXPECT_TRUE(pic.mono.Get(0, 0));
  EXPECT_EQ(pic.rgb.Row(0)[0], 0u);
  EXPECT_EQ(pic.rgb.Row(0)[1], 0xFFFFFFu);
}

TEST(BmpDecode, TopDownAndCoreHeader) {
  // Two rows, 24 bits, negative height: the first row in the file is the top.
  Bytes px = {0x01, 0x02, 0x03, 0, 0x04, 0x05, 0x06, 0};
  const Bytes top = MakeBmp(1, -2, 24, 0, {}, px);
  Picture pic;
  ASSERT_EQ(DecodeBmp(top.data(), top.size(), &pic), 0);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0x030201u);
  EXPECT_EQ(pic.rgb.Row(1)[0], 0x060504u);
  // A 12-byte header with a three-byte palette, 4 bits.
  Bytes core{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
  Put32(core, 14 + 12 + 48);
  Put32(core, 12);
  Put16(core, 2);
  Put16(core, 1);
  Put16(core, 1);
  Put16(core, 4);
  for (int i = 0; i < 16; ++i) core.insert(core.end(), {static_cast<std::uint8_t>(i), 0, 0xFF});
  core.insert(core.end(), {0x2F, 0, 0, 0});
  ASSERT_EQ(DecodeBmp(core.data(), core.size(), &pic), 0);
  EXPECT_EQ(pic.bitsPerPixel, 4);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0xFF0002u);
  EXPECT_EQ(pic.rgb.Row(0)[1], 0xFF000Fu);
}

TEST(BmpDecode, SixteenBitsWithAndWithoutBitFields) {
  // 5-5-5 by default: 0x7FFF is white, 0x001F blue, 0x7C00 red.
  const Bytes plain = MakeBmp(3, 1, 16, 0, {}, {0xFF, 0x7F, 0x1F, 0x00, 0x00, 0x7C, 0, 0});
  Picture pic;
  ASSERT_EQ(DecodeBmp(plain.data(), plain.size(), &pic), 0);
  EXPECT_EQ(pic.bitsPerPixel, 16);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0xFFFFFFu);
  EXPECT_EQ(pic.rgb.Row(0)[1], 0x0000FFu);
  EXPECT_EQ(pic.rgb.Row(0)[2], 0xFF0000u);
  // 5-6-5 through bit fields: green 0x07E0 is full green, 0x0400 (bit 10) is about half.
  const Bytes fields =
      MakeBmp(2, 1, 16, 3, Palette({0xF800, 0x07E0, 0x001F}), {0xE0, 0x07, 0x00, 0x04});
  ASSERT_EQ(DecodeBmp(fields.data(), fields.size(), &pic), 0);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0x00FF00u);
  EXPECT_EQ(pic.rgb.Row(0)[1], static_cast<std::uint32_t>((32 * 255 + 31) / 63) << 8);
  // 32 bits with fields in another order (red in the low byte).
  const Bytes f32 = MakeBmp(1, 1, 32, 3, Palette({0xFF, 0xFF00, 0xFF0000}), {0x11, 0x22, 0x33, 0});
  ASSERT_EQ(DecodeBmp(f32.data(), f32.size(), &pic), 0);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0x112233u);
}

TEST(BmpDecode, Rle8Runs) {
  const Bytes pal = Palette({0x000000, 0xFF0000, 0x00FF00, 0x0000FF});
  // Bottom row: 3 x index 1, absolute run 2 3 2 (padded), end of line; top row: a delta of
  // (2, 0), 1 x index 3, end of picture. Untouched pixels keep index 0.
  const Bytes rle = {3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 0, 1, 3, 0, 1};
  const Bytes file = MakeBmp(6, 2, 8, 1, pal, rle, 4);
  Picture pic;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0);
  EXPECT_EQ(pic.bitsPerPixel, 8);
  const std::uint32_t bottom[6] = {0xFF0000, 0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF, 0x00FF00};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(pic.rgb.Row(1)[x], bottom[x]) << x;
  EXPECT_EQ(pic.rgb.Row(0)[1], 0u);
  EXPECT_EQ(pic.rgb.Row(0)[2], 0x0000FFu);
  EXPECT_EQ(pic.rgb.Row(0)[3], 0u);
}

TEST(BmpDecode, Rle4Runs) {
  Bytes pal;
  for (std::uint32_t i = 0; i < 16; ++i) Put32(pal, i * 0x111111);
  // Encoded run of 5 alternating 1 and 2; absolute run of 3 nibbles (4 5 6, padded to a word);
  // end of line; one row up a run of 2 x 0xF; end of picture.
  const Bytes rle = {5, 0x12, 0, 3, 0x45, 0x60, 0, 0, 2, 0xFF, 0, 1};
  const Bytes file = MakeBmp(9, 2, 4, 2, pal, rle, 16);
  Picture pic;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0);
  const std::uint32_t want[9] = {0x111111, 0x222222, 0x111111, 0x222222, 0x111111,
                                 0x444444, 0x555555, 0x666666, 0};
  for (int x = 0; x < 9; ++x) EXPECT_EQ(pic.rgb.Row(1)[x], want[x]) << x;
  EXPECT_EQ(pic.rgb.Row(0)[0], 0xFFFFFFu);
  EXPECT_EQ(pic.rgb.Row(0)[1], 0xFFFFFFu);
  EXPECT_EQ(pic.rgb.Row(0)[2], 0u);
}

TEST(BmpDecode, RleRunsPastTheEdgesAreCut) {
  const Bytes pal = Palette({0, 0xFFFFFF});
  // A run of 200 in a 4-wide picture, deltas far beyond the picture, an absolute run past the
  // right edge: all cut, nothing written outside.
  const Bytes rle = {200, 1, 0, 0, 0, 2, 255, 0, 0, 4, 1, 1, 1, 1, 0, 2, 0, 255, 0, 1};
  const Bytes file = MakeBmp(4, 3, 8, 1, pal, rle, 2);
  Picture pic;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0);
  EXPECT_EQ(pic.rgb.Row(2)[3], 0xFFFFFFu);
  EXPECT_EQ(pic.rgb.Row(1)[0], 0u);
}

// Broken files: each must fail cleanly (or decode), never read outside its buffer.
TEST(BmpDecode, BrokenHeadersFail) {
  const Bytes pal = Palette({0, 0xFFFFFF});
  const Bytes ok = MakeBmp(8, 2, 1, 0, pal, {0xFF, 0, 0, 0, 0x0F, 0, 0, 0});
  Picture pic;
  ASSERT_EQ(DecodeBmp(ok.data(), ok.size(), &pic), 0);
  // Cut anywhere before the top row's pixel bytes (the last row may lack its padding).
  for (std::size_t cut = 0; cut < ok.size() - 3; ++cut) {
    EXPECT_EQ(DecodeBmp(ok.data(), cut, &pic), -1) << "cut at " << cut;
    EXPECT_TRUE(pic.rgb.Empty());
  }
  const Bytes cases[] = {
      MakeBmp(0, 2, 24, 0, {}, Bytes(16)),        // zero width
      MakeBmp(2, 0, 24, 0, {}, Bytes(16)),        // zero height
      MakeBmp(16385, 1, 1, 0, pal, Bytes(4096)),  // side above 16 384
      MakeBmp(1, -16385, 1, 0, pal, Bytes(4096)),
      MakeBmp(16384, 16384, 24, 0, {}, Bytes(64)),  // a lying size: far more pixels than bytes
      MakeBmp(2, 2, 7, 0, {}, Bytes(16)),           // no such depth
      MakeBmp(2, 2, 24, 1, {}, Bytes(16)),          // RLE8 needs 8 bits
      MakeBmp(2, 2, 8, 2, pal, Bytes(16)),          // RLE4 needs 4 bits
      MakeBmp(2, 2, 24, 3, {}, Bytes(16)),          // bit fields need 16 or 32
      MakeBmp(2, 2, 24, 4, {}, Bytes(16)),          // embedded JPEG: not ours
  };
  for (const Bytes& b : cases) EXPECT_EQ(DecodeBmp(b.data(), b.size(), &pic), -1);
  Bytes badMagic = ok;
  badMagic[0] = 'X';
  EXPECT_EQ(DecodeBmp(badMagic.data(), badMagic.size(), &pic), -1);
  Bytes badOffset = ok;
  badOffset[10] = 0xF0, badOffset[11] = 0xFF;
  EXPECT_EQ(DecodeBmp(badOffset.data(), badOffset.size(), &pic), -1);
  Bytes badInfo = ok;
  badInfo[14] = 39;
  EXPECT_EQ(DecodeBmp(badInfo.data(), badInfo.size(), &pic), -1);
  EXPECT_EQ(DecodeBmp(nullptr, 100, &pic), -1);
}

TEST(BmpDecode, LastRowWithoutPaddingIsAccepted) {
  // Some writers drop the padding of the final row; the pixels are all there.
  Bytes px = {1, 2, 3, 0, 4, 5, 6};
  const Bytes file = MakeBmp(1, 2, 24, 0, {}, px);
  Picture pic;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0x060504u);
  EXPECT_EQ(DecodeBmp(file.data(), file.size() - 1, &pic), -1);
}

TEST(BmpDecode, TruncatedRleFails) {
  const Bytes pal = Palette({0, 0xFFFFFF});
  // An absolute run that claims 20 bytes with 3 left, and a stream that stops at row 0 of 5.
  const Bytes shortAbs = MakeBmp(32, 2, 8, 1, pal, {0, 20, 1, 1, 1}, 2);
  const Bytes stops = MakeBmp(4, 5, 8, 1, pal, {4, 1}, 2);
  // A few bytes that claim the largest picture and run out: refused before its gigabyte is
  // taken (the budget never holds it), while one that ends properly is a whole picture.
  const Bytes claims = MakeBmp(16384, 16384, 8, 1, pal, {4, 1, 0, 0, 4, 1}, 2);
  PictureBudget budget(2ull << 30);
  Picture pic(&budget);
  EXPECT_EQ(DecodeBmp(shortAbs.data(), shortAbs.size(), &pic), -1);
  EXPECT_EQ(DecodeBmp(stops.data(), stops.size(), &pic), -1);
  EXPECT_EQ(DecodeBmp(claims.data(), claims.size(), &pic), -1);
  EXPECT_EQ(budget.Peak(), 0u);
  const Bytes ended = MakeBmp(4, 5, 8, 1, pal, {4, 1, 0, 1}, 2);
  ASSERT_EQ(DecodeBmp(ended.data(), ended.size(), &pic), 0);
  EXPECT_EQ(budget.Held(), 4u * 5u * 4u);
}

TEST(BmpDecode, PaletteIndexBeyondItsColoursIsBlack) {
  // Two colours declared, index 3 used: black, not a read past the palette.
  const Bytes file = MakeBmp(2, 1, 8, 0, Palette({0xFFFFFF, 0x00FF00}), {1, 3, 0, 0}, 2);
  Picture pic;
  ASSERT_EQ(DecodeBmp(file.data(), file.size(), &pic), 0);
  EXPECT_EQ(pic.rgb.Row(0)[0], 0x00FF00u);
  EXPECT_EQ(pic.rgb.Row(0)[1], 0u);
}

TEST(BmpDecode, KeptMalformedFilesFailOrDecodeCleanly) {
  const std::string dir = std::string(ONDRELIX_TEST_DATA) + "/malformed";
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  int seen = 0;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < 4 || name.substr(name.size() - 4) != ".bmp") continue;
    Picture pic;
    const int rc = LoadBmpFile(dir + "/" + name, &pic);
    EXPECT_EQ(rc, -1) << name;
    EXPECT_TRUE(pic.rgb.Empty()) << name;
    ++seen;
  }
  closedir(d);
  EXPECT_GT(seen, 0);
}

TEST(BmpDecode, FilesThatAreNotPictures) {
  Picture pic;
  EXPECT_EQ(LoadBmpFile("/nonexistent/x.bmp", &pic), -1);
  EXPECT_EQ(LoadBmpFile(ONDRELIX_TEST_DATA, &pic), -1);  // a folder
}

}  // namespace
