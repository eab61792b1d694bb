// Outline text: face mapping and fallback, measuring the CP932 double-byte rule and clipping.
#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/Picture.h"

namespace {

const std::string kGothic = "ＭＳ ゴシック";
const std::string kPGothic = "ＭＳ Ｐゴシック";

int Ink(const Bitmap1& b) {
  int n = 0;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) n += b.Get(x, y);
  return n;
}

int InkColumns(const Bitmap1& b, int* first, int* last) {
  *first = b.width;
  *last = -1;
  for (int x = 0; x < b.width; ++x)
    for (int y = 0; y < b.height; ++y)
      if (b.Get(x, y)) {
        *first = std::min(*first, x);
        *last = std::max(*last, x);
      }
  return *last - *first + 1;
}

TEST(FontRaster, GothicIsFixedPitchAndDoubleByteCharactersAreFullWidth) {
  FontRaster fr;
  FontSpec f{kGothic, 16};
  const int a = fr.TextWidth(f, "A");
  EXPECT_GT(a, 0);
  EXPECT_EQ(fr.TextWidth(f, "iW"), 2 * a);
  // A double-byte character (two bytes) is one full-width character.
  const int full = fr.TextWidth(f, Utf8ToCp932("あ"));
  EXPECT_GE(full, 2 * a - 1);
  EXPECT_LE(full, 2 * a);
  EXPECT_EQ(fr.TextWidth(f, Utf8ToCp932("日本語")), 3 * full);
  // A lead byte with no valid trail byte after it is a character of its own, not a pair.
  EXPECT_GT(fr.TextWidth(f, std::string("\x82", 1) + "A"), a);
  EXPECT_EQ(fr.TextHeight(f), 16);
}

TEST(FontRaster, ProportionalGothicAndFallbackFaces) {
  FontRaster fr;
  FontSpec p{kPGothic, 20};
  EXPECT_LT(fr.TextWidth(p, "i"), fr.TextWidth(p, "W"));
  // A face that is not installed measures as the Japanese Gothic face.
  FontSpec missing{"NOSUCHFACE", 20};
  FontSpec gothic{kGothic, 20};
  EXPECT_EQ(fr.TextWidth(missing, "Hello"), fr.TextWidth(gothic, "Hello"));
  // An installed face given in upper case is found; Japanese text it lacks still has width.
  FontSpec dejavu{"DEJAVU SANS", 20};
  EXPECT_LT(fr.TextWidth(dejavu, "i"), fr.TextWidth(dejavu, "W"));
  EXPECT_EQ(fr.TextWidth(dejavu, Utf8ToCp932("あ")), fr.TextWidth(gothic, Utf8ToCp932("あ")));
}

TEST(FontRaster, BoldAndItalicChangeTheInk) {
  FontRaster fr;
  Bitmap1 plain, bold, italic;
  for (Bitmap1* b : {&plain, &bold, &italic}) b->Create(200, 30);
  fr.DrawMono(plain, 2, 2, FontSpec{kGothic, 24}, "Ilk");
  fr.DrawMono(bold, 2, 2, FontSpec{kGothic, 24, true}, "Ilk");
  fr.DrawMono(italic, 2, 2, FontSpec{kGothic, 24, false, true}, "Ilk");
  EXPECT_GT(Ink(bold), Ink(plain) * 5 / 4);
  EXPECT_NE(plain.bits, italic.bits);
  // Synthetic bold widens each advance.
  EXPECT_GT(fr.TextWidth(FontSpec{kGothic, 24, true}, "Ilk"),
            fr.TextWidth(FontSpec{kGothic, 24}, "Ilk"));
}

TEST(FontRaster, DrawMonoOrsInkInsideTheCellAndClips) {
  FontRaster fr;
  FontSpec f{kGothic, 20};
  Bitmap1 b;
  b.Create(64, 40);
  b.Set(63, 39, true);
  const int w = fr.DrawMono(b, 10, 10, f, "HH");
  EXPECT_EQ(w, fr.TextWidth(f, "HH"));
  EXPECT_TRUE(b.Get(63, 39));  // OR-ed, not copied
  int first = 0, last = 0;
  InkColumns(b, &first, &last);
  EXPECT_GE(first, 10);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < 60; ++x)
      if (b.Get(x, y)) {
        EXPECT_GE(y, 10);
        EXPECT_LT(y, 30);
      }
  // Far outside, partly outside, and a zero height: no write past the bitmap, no crash.
  Bitmap1 small;
  small.Create(8, 8);
  fr.DrawMono(small, -7, -9, f, Utf8ToCp932("漢字ABC"));
  fr.DrawMono(small, 5, 3, f, Utf8ToCp932("漢字ABC"));
  fr.DrawMono(small, 100000, -100000, f, "A");
  EXPECT_EQ(fr.DrawMono(small, 0, 0, FontSpec{kGothic, 0}, "A"), 0);
  EXPECT_EQ(fr.TextWidth(FontSpec{kGothic, -5}, "A"), 0);
}

TEST(FontRaster, Draw32PaintsTheCellBlackAndTheInkInItsColour) {
  FontRaster fr;
  FontSpec f{kGothic, 20};
  Bitmap32 b;
  b.Create(80, 40, 0x123456);
  const int w = fr.Draw32(b, 4, 5, f, "MM", 0xFF0000);
  EXPECT_EQ(b.Row(4)[10], 0x123456u);      // above the cell
  EXPECT_EQ(b.Row(10)[4 + w], 0x123456u);  // right of the cell
  int red = 0, other = 0;
  for (int y = 5; y < 25; ++y)
    for (int x = 4; x < 4 + w; ++x) {
      const std::uint32_t p = b.Row(y)[x];
      if (p == 0xFF0000) ++red;
      if ((p & 0xFFFF) != 0) ++other;  // only shades of red over black
    }
  EXPECT_GT(red, 20);
  EXPECT_EQ(other, 0);
  Bitmap32 tiny;
  tiny.Create(3, 3, 7);
  fr.Draw32(tiny, -30, -2, f, Utf8ToCp932("ＭＳ"), 0xFFFFFF);
  fr.Draw32(tiny, 2, 2, f, Utf8ToCp932("ＭＳ"), 0xFFFFFF);
  SUCCEED();
}

// Over the black cell each ink pixel is the colour scaled by the glyph's coverage, c * a / 255
// per channel; white ink shows the coverage itself. Seeded colours, the same text (fixed pitch,
// so no two glyphs share a pixel), the same place; ink that overhangs the cell is not checked.
TEST(FontRaster, Draw32InkIsTheColourScaledByTheCoverage) {
  FontRaster fr;
  const FontSpec f{kGothic, 17};
  const std::string text = "Timer 0123.456 g";
  Bitmap32 white;
  white.Create(200, 30, 0x445566);
  const int w = fr.Draw32(white, 3, 4, f, text, 0xFFFFFF);
  std::uint32_t seed = 31;
  for (int round = 0; round < 40; ++round) {
    seed = seed * 1103515245u + 12345u;
    const std::uint32_t c = round == 0 ? 0xFFFFFF : (seed >> 4) & 0xFFFFFF;
    Bitmap32 b;
    b.Create(200, 30, 0x445566);
    ASSERT_EQ(fr.Draw32(b, 3, 4, f, text, c), w);
    for (int y = 4; y < 4 + 17; ++y)
      for (int x = 3; x < 3 + w; ++x) {
        const std::uint32_t a = white.Row(y)[x] & 0xFF;
        const std::uint32_t want = ((c >> 16 & 0xFF) * a / 255) << 16 |
                                   ((c >> 8 & 0xFF) * a / 255) << 8 | (c & 0xFF) * a / 255;
        ASSERT_EQ(b.Row(y)[x], want) << "seed 31 round " << round << " at " << x << "," << y;
      }
  }
}

TEST(FontRaster, JapaneseFamiliesListsTheGothicFaces) {
  const std::vector<std::string> fams = FontRaster::JapaneseFamilies();
  EXPECT_NE(std::find(fams.begin(), fams.end(), "IPAGothic"), fams.end());
  EXPECT_TRUE(std::is_sorted(fams.begin(), fams.end()));
}

// The settings dialog selects the listed family a stored system name is drawn with.
TEST(FontRaster, SystemNamesTellTheListedFamilyThatDrawsThem) {
  const std::vector<std::string> fams = FontRaster::JapaneseFamilies();
  for (const char* name : {"ＭＳ ゴシック", "ＭＳ Ｐゴシック", "MS Gothic"}) {
    const std::string family = FontRaster::SystemFaceFamily(name);
    EXPECT_NE(std::find(fams.begin(), fams.end(), family), fams.end()) << name << ": " << family;
  }
  EXPECT_EQ(FontRaster::SystemFaceFamily("ＭＳ ゴシック"), "IPAGothic");
  EXPECT_EQ(FontRaster::SystemFaceFamily("ＭＳ Ｐゴシック"), "IPAPGothic");
  EXPECT_EQ(FontRaster::SystemFaceFamily("IPAGothic"), "");
  EXPECT_EQ(FontRaster::SystemFaceFamily(""), "");
}

}  // namespace
// Redraw32 leaves the characters that did not change: its bitmap must stay the same as one where
// every text is drawn whole, over generated texts that share prefixes (the timer's digits, letters
// whose ink leaves the band, kana, narrower and wider texts), in faces whose glyphs keep to their
// cells and in one (italic) whose ink reaches into the neighbours'. Drawn over a patterned
// background, so ink blended again outside the band counts; a foreign fill between two texts is
// announced with ForgetLastDrawn. The redraw must also have drawn less than the whole text.
TEST(FontRaster, Redraw32LeavesWhatDraw32WouldDrawAgain) {
  // Mostly the timer's characters; the last ones have ink in their neighbours' cells.
  const std::vector<std::string> pieces = {
      "0", "1", "2", "5", "7", "9", ".", " ", "T", "i", "m", "W", "j", "f", Utf8ToCp932("あ")};
  for (const FontSpec& f :
       {FontSpec{kPGothic, 12}, FontSpec{kGothic, 17, true}, FontSpec{kPGothic, 15, false, true}}) {
    std::uint32_t seed = 4711;
    const auto next = [&seed](std::uint32_t n) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) % n;
    };
    FontRaster fast, whole;
    Bitmap32 a, b;
    a.Create(220, 40);
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x) a.Row(y)[x] = static_cast<std::uint32_t>(x * 977 + y * 131);
    b = a;
    std::string text = "Timer 0000.000 ";
    int narrower = 0;  // redraws of less than the whole text
    for (int step = 0; step < 400; ++step) {
      const size_t at = next(static_cast<std::uint32_t>(text.size()));
      if (next(4) == 0) {
        text.resize(at);
        const size_t length = 8 + next(12);
        while (text.size() < length) {
          const std::uint32_t piece = next(static_cast<std::uint32_t>(pieces.size()));
          text += pieces[piece >= 11 && next(8) != 0 ? next(11) : piece];
        }
      } else if (std::isdigit(static_cast<unsigned char>(text[at]))) {
        text[at] = static_cast<char>('0' + next(10));
      }
      if (next(50) == 0) {  // something else draws over the text
        for (Bitmap32* m : {&a, &b})
          for (int x = 30; x < 60; ++x) m->Row(8)[x] = 0x00FF00;
        fast.ForgetLastDrawn();
      }
      const int x = next(30) == 0 ? 5 : 4, y = next(30) == 0 ? 9 : 8;
      const int wa = fast.Redraw32(a, x, y, f, text, 0xFFFFFF);
      const FontRaster::Box& d = fast.LastDrawn();
      narrower += d.right - d.left < wa;
      ASSERT_EQ(wa, whole.Draw32(b, x, y, f, text, 0xFFFFFF));
      ASSERT_TRUE(a.pixels == b.pixels) << "seed 4711, face " << f.face << " " << f.height
                                        << (f.italic ? " italic" : "") << ", step " << step;
    }
    if (f.italic) continue;
    EXPECT_GT(narrower, 20) << f.face << " " << f.height;
    // The timer's text: once the ink blended again outside the band (the T's) no longer
    // changes, only the milliseconds are drawn.
    for (int ms = 0; ms < 60; ++ms)
      fast.Redraw32(a, 4, 8, f, "Timer 0001." + std::to_string(100 + ms));
    EXPECT_GE(fast.LastDrawn().left, 4 + fast.TextWidth(f, "Timer 0001.1")) << f.face;
  }
}
