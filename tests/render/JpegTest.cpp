// JPEG decoding: baseline, progressive, grey, and broken or hostile files failing cleanly.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "render/Picture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodes a smooth test picture (so that quality 100 stays within a few levels).
Bytes Encode(int w, int h, bool grey, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(w) * (grey ? 1 : 3));
  while (c.next_scanline < c.image_height) {
    const int y = static_cast<int>(c.next_scanline);
    for (int x = 0; x < w; ++x) {
      if (grey) {
        row[x] = static_cast<JSAMPLE>(x * 255 / (w - 1));
      } else {
        row[3 * x] = static_cast<JSAMPLE>(x * 255 / (w - 1));
        row[3 * x + 1] = static_cast<JSAMPLE>(y * 255 / (h - 1));
        row[3 * x + 2] = 128;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

int Channel(std::uint32_t p, int shift) {
  return static_cast<int>((p >> shift) & 0xFF);
}

void ExpectNear(const Picture& pic, bool grey) {
  const int w = pic.rgb.width, h = pic.rgb.height;
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = pic.rgb.Row(y)[x];
      const int r = x * 255 / (w - 1), g = grey ? r : y * 255 / (h - 1), b = grey ? r : 128;
      worst = std::max({worst, std::abs(Channel(p, 16) - r), std::abs(Channel(p, 8) - g),
                        std::abs(Channel(p, 0) - b)});
      ASSERT_EQ(p >> 24, 0u);
    }
  EXPECT_LE(worst, 6);
}

TEST(JpegDecode, BaselineProgressiveAndGrey) {
  const struct {
    bool grey, progressive;
    int bits;
  } cases[] = {{false, false, 24}, {false, true, 24}, {true, false, 8}, {true, true, 8}};
  for (const auto& c : cases) {
    const Bytes file = Encode(37, 21, c.grey, c.progressive);
    Picture pic;
    ASSERT_EQ(DecodeJpeg(file.data(), file.size(), &pic), 0) << c.grey << c.progressive;
    EXPECT_EQ(pic.rgb.width, 37);
    EXPECT_EQ(pic.rgb.height, 21);
    EXPECT_EQ(pic.bitsPerPixel, c.bits);
    EXPECT_EQ(pic.mono.width, 0);
    ExpectNear(pic, c.grey);
  }
}

TEST(JpegDecode, TruncatedFilesFail) {
  const Bytes file = Encode(64, 48, false, false);
  Picture pic;
  // Any cut that loses entropy-coded data, from the header on, is a failure, never an abort.
  for (std::size_t cut = 0; cut + 2 < file.size(); cut += 7) {
    EXPECT_EQ(DecodeJpeg(file.data(), cut, &pic), -1) << "cut at " << cut;
    EXPECT_TRUE(pic.rgb.Empty());
  }
  const Bytes prog = Encode(64, 48, false, true);
  for (std::size_t cut = 0; cut + 2 < prog.size(); cut += 31) {
    EXPECT_EQ(DecodeJpeg(prog.data(), cut, &pic), -1) << "progressive cut at " << cut;
  }
}

// Finds the baseline or progressive frame header and rewrites its height and width.
void SetFrameSize(Bytes& f, int w, int h) {
  for (std::size_t i = 2; i + 8 < f.size(); ++i) {
    if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) {
      f[i + 5] = static_cast<std::uint8_t>(h >> 8), f[i + 6] = static_cast<std::uint8_t>(h);
      f[i + 7] = static_cast<std::uint8_t>(w >> 8), f[i + 8] = static_cast<std::uint8_t>(w);
      return;
    }
  }
  FAIL() << "no frame header";
}

TEST(JpegDecode, OversizedZeroSizedAndGarbageFail) {
  Picture pic;
  Bytes big = Encode(16, 16, false, false);
  SetFrameSize(big, 20000, 16);
  EXPECT_EQ(DecodeJpeg(big.data(), big.size(), &pic), -1);
  SetFrameSize(big, 16, 16385);
  EXPECT_EQ(DecodeJpeg(big.data(), big.size(), &pic), -1);
  SetFrameSize(big, 0, 16);
  EXPECT_EQ(DecodeJpeg(big.data(), big.size(), &pic), -1);
  // A lying size within the limits: the data runs out long before the rows do. Such data
  // cannot even hold two bits per block, so the picture is refused before it is made.
  PictureBudget budget(2ull << 30);
  Picture counted(&budget);
  for (int side : {4000, 16384}) {
    SetFrameSize(big, side, side);
    EXPECT_EQ(DecodeJpeg(big.data(), big.size(), &counted), -1) << side;
    EXPECT_TRUE(counted.rgb.Empty());
  }
  EXPECT_EQ(budget.Peak(), 0u);
  const Bytes kept = Encode(16, 16, false, false);
  ASSERT_EQ(DecodeJpeg(kept.data(), kept.size(), &counted), 0);
  EXPECT_EQ(budget.Held(), 16u * 16u * 4u);

  const Bytes garbage(500, 0x5A);
  EXPECT_EQ(DecodeJpeg(garbage.data(), garbage.size(), &pic), -1);
  const Bytes soiOnly = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_EQ(DecodeJpeg(soiOnly.data(), soiOnly.size(), &pic), -1);
  EXPECT_EQ(DecodeJpeg(nullptr, 0, &pic), -1);
  EXPECT_EQ(LoadJpegFile("/nonexistent/x.jpg", &pic), -1);
}

TEST(JpegDecode, CorruptedDataDoesNotAbort) {
  const Bytes file = Encode(48, 32, false, true);
  Picture pic;
  // Flip bytes through the whole file: every outcome is 0 or -1 with a consistent picture.
  for (std::size_t i = 2; i < file.size(); i += 3) {
    Bytes bad = file;
    bad[i] ^= 0xA5;
    const int rc = DecodeJpeg(bad.data(), bad.size(), &pic);
    if (rc == 0) {
      EXPECT_EQ(pic.rgb.pixels.size(),
                static_cast<std::size_t>(pic.rgb.width) * static_cast<std::size_t>(pic.rgb.height));
    } else {
      EXPECT_TRUE(pic.rgb.Empty());
    }
  }
}

TEST(JpegDecode, KeptMalformedFilesFail) {
  const char* names[] = {"jpeg-truncated-progressive.jpg", "jpeg-lying-size.jpg"};
  for (const char* n : names) {
    Picture pic;
    EXPECT_EQ(LoadJpegFile(std::string(ONDRELIX_TEST_DATA) + "/malformed/" + n, &pic), -1) << n;
  }
}

}  // namespace
