// PNG writing of 32-, 8- and 1-bit bitmaps, read back through libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render/Picture.h"

namespace {

// Reads a PNG as 8-bit RGB; empty when it cannot be read.
std::vector<std::uint8_t> ReadRgb(const std::string& path, int* w, int* h, int* depth) {
  std::vector<std::uint8_t> rgb;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return rgb;
  *w = static_cast<int>(img.width), *h = static_cast<int>(img.height);
  *depth = (img.format & PNG_FORMAT_FLAG_COLOR) ? 24 : 8;
  img.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) rgb.clear();
  return rgb;
}

std::string TempPng(const char* name) {
  return ::testing::TempDir() + "png_" + std::to_string(getpid()) + "_" + name + ".png";
}

TEST(WritePng, ColourGreyAndOneBit) {
  Bitmap32 c;
  c.Create(3, 2);
  c.Row(0)[0] = 0xFF0000, c.Row(0)[1] = 0x00FF00, c.Row(0)[2] = 0xAA000080;  // 4th byte ignored
  c.Row(1)[0] = 0x123456;
  const std::string p32 = TempPng("c");
  ASSERT_EQ(WritePng(p32, c), 0);
  int w = 0, h = 0, depth = 0;
  std::vector<std::uint8_t> rgb = ReadRgb(p32, &w, &h, &depth);
  ASSERT_EQ(rgb.size(), 18u);
  EXPECT_EQ(depth, 24);
  EXPECT_EQ(std::vector<std::uint8_t>(rgb.begin(), rgb.begin() + 9),
            (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 0x80}));
  EXPECT_EQ(rgb[9], 0x12);
  EXPECT_EQ(rgb[10], 0x34);
  EXPECT_EQ(rgb[11], 0x56);
  std::remove(p32.c_str());

  Bitmap8 g;
  g.Create(2, 1);
  g.Row(0)[0] = 7, g.Row(0)[1] = 200;
  const std::string p8 = TempPng("g");
  ASSERT_EQ(WritePng(p8, g), 0);
  rgb = ReadRgb(p8, &w, &h, &depth);
  ASSERT_EQ(rgb.size(), 6u);
  EXPECT_EQ(depth, 8);
  EXPECT_EQ(rgb[0], 7);
  EXPECT_EQ(rgb[3], 200);
  std::remove(p8.c_str());

  Bitmap1 m;
  m.Create(11, 2);
  m.Set(0, 0, true), m.Set(10, 1, true);
  const std::string p1 = TempPng("m");
  ASSERT_EQ(WritePng(p1, m), 0);
  rgb = ReadRgb(p1, &w, &h, &depth);
  ASSERT_EQ(w, 11);
  ASSERT_EQ(rgb.size(), 66u);
  EXPECT_EQ(rgb[0], 255);  // ink is white
  EXPECT_EQ(rgb[3], 0);    // gap is black
  EXPECT_EQ(rgb[(11 + 10) * 3], 255);
  std::remove(p1.c_str());
}

// Both packings are lossless: a picture of gradients and noise (what SUB filters well and
// badly) reads back exactly from either file.
TEST(WritePng, FastAndSmallPackingsKeepEveryPixel) {
  Bitmap32 c;
  c.Create(333, 41);
  std::uint32_t seed = 11;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      c.Row(y)[x] = y % 3 == 0 ? (seed = seed * 1103515245u + 12345u) >> 8
                               : static_cast<std::uint32_t>(x * 0x010203 + y * 0x030100);
  for (const PngPacking packing : {PngPacking::kFast, PngPacking::kSmall}) {
    const std::string path = TempPng(packing == PngPacking::kFast ? "fast" : "small");
    ASSERT_EQ(WritePng(path, c, packing), 0);
    int w = 0, h = 0, depth = 0;
    const std::vector<std::uint8_t> rgb = ReadRgb(path, &w, &h, &depth);
    std::remove(path.c_str());
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(c.width * c.height * 3));
    for (std::size_t i = 0; i < c.pixels.size(); ++i) {
      const std::uint32_t v = c.pixels[i];
      ASSERT_EQ((rgb[i * 3] << 16) | (rgb[i * 3 + 1] << 8) | rgb[i * 3 + 2], v & 0xFFFFFFu)
          << "pixel " << i << (packing == PngPacking::kFast ? " fast" : " small");
    }
  }
}

TEST(WritePng, FailuresReportMinusOne) {
  Bitmap32 c;
  c.Create(1, 1);
  EXPECT_EQ(WritePng("/nonexistent/dir/x.png", c), -1);
  EXPECT_EQ(WritePng(TempPng("empty"), Bitmap32()), -1);
  EXPECT_EQ(WritePng(TempPng("empty1"), Bitmap1()), -1);
}

}  // namespace
