// The embedded pictures: the default font's ruler and glyphs, the NOTFOUND sign, and the loader
// that falls back to NOTFOUND.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "render/Picture.h"
#include "settings/CMainCtl.h"
#include "tools/BmpEncoder.h"

namespace {

TEST(BuiltinPictures, DefaultFontHasARulerFor95Glyphs) {
  Picture font;
  ASSERT_EQ(LoadBuiltinPicture("DEFAULTFONT", &font), 0);
  ASSERT_EQ(font.bitsPerPixel, 1);
  const Bitmap1& m = font.mono;
  EXPECT_GE(m.height - 1, 14);  // about 16 pixels of glyph height
  EXPECT_LE(m.height - 1, 18);
  EXPECT_FALSE(m.Get(0, 0));
  int from = 1, glyph = 0, widest = 0, narrowest = 1000;
  for (int x = 1; x < m.width; ++x) {
    if (!m.Get(x, 0)) continue;
    const int width = x - from;
    ASSERT_GT(width, 0) << "glyph " << glyph;
    widest = std::max(widest, width), narrowest = std::min(narrowest, width);
    int ink = 0;
    for (int y = 1; y < m.height; ++y) {
      EXPECT_FALSE(m.Get(x, y)) << "marker column " << x << " has ink";
      for (int c = from; c < x; ++c) ink += m.Get(c, y);
    }
    if (glyph == 0) {
      EXPECT_EQ(ink, 0) << "the space";
    } else {
      EXPECT_GT(ink, 0) << "glyph " << glyph;
    }
    // Each glyph leaves its last column blank, so glyphs set side by side never touch.
    for (int y = 1; y < m.height; ++y) EXPECT_FALSE(m.Get(x - 1, y)) << "glyph " << glyph;
    from = x + 1;
    ++glyph;
  }
  EXPECT_EQ(glyph, 95);
  EXPECT_EQ(from, m.width);  // the last marker is the last column
  EXPECT_LE(widest, 16);
  EXPECT_GE(narrowest, 2);
}

TEST(BuiltinPictures, NotFoundIsAFramedOneBitSign) {
  Picture p;
  ASSERT_EQ(LoadBuiltinPicture("NOTFOUND", &p), 0);
  EXPECT_EQ(p.bitsPerPixel, 1);
  ASSERT_EQ(p.rgb.width, 51);
  ASSERT_EQ(p.rgb.height, 22);
  for (int x = 0; x < 51; ++x) EXPECT_TRUE(p.mono.Get(x, 0) && p.mono.Get(x, 21));
  for (int y = 0; y < 22; ++y) EXPECT_TRUE(p.mono.Get(0, y) && p.mono.Get(50, y));
  EXPECT_EQ(p.rgb.Row(0)[0], 0xFFFFFFu);
  EXPECT_EQ(p.rgb.Row(1)[1], 0u);
}

TEST(BuiltinPictures, NamesIgnoreCaseAndUnknownNamesFail) {
  Picture p;
  EXPECT_EQ(LoadBuiltinPicture("notfound", &p), 0);
  EXPECT_EQ(LoadBuiltinPicture("NOSUCHPICTURE", &p), -1);
  EXPECT_TRUE(p.rgb.Empty());
  EXPECT_EQ(LoadBuiltinPicture("", &p), -1);
}

TEST(BuiltinPictures, LoaderFallsBackToNotFound) {
  const std::string dir = ::testing::TempDir() + "builtin_" + std::to_string(getpid());
  ::mkdir(dir.c_str(), 0700);
  CMainCtl settings;
  settings.SetCurPath(dir);
  Bitmap32 b;
  b.Create(3, 2, 0x336699);
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeBmp(b, 24, &bytes), 0);
  ASSERT_EQ(WriteFileBytes((dir + "/pic.bmp").c_str(), bytes), 0);
  ASSERT_EQ(WriteFileBytes((dir + "/bad.jpg").c_str(), {1, 2, 3}), 0);

  Picture p;
  EXPECT_EQ(LoadPictureOrNotFound(settings, "pic.bmp", &p), 0);
  EXPECT_EQ(p.rgb.pixels, b.pixels);
  EXPECT_EQ(LoadPictureOrNotFound(settings, "*NOTFOUND", &p), 0);
  EXPECT_EQ(p.rgb.width, 51);
  const char* failing[] = {"missing.bmp", "bad.jpg", "pic.png", "", "*NOSUCH"};
  for (const char* name : failing) {
    EXPECT_EQ(LoadPictureOrNotFound(settings, name, &p), -1) << name;
    EXPECT_EQ(p.rgb.width, 51) << name;
    EXPECT_EQ(p.rgb.height, 22) << name;
  }
  std::remove((dir + "/pic.bmp").c_str());
  std::remove((dir + "/bad.jpg").c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
