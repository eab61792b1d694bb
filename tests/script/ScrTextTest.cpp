// Formatted text: line building, FORMAT levels and fonts, READFONT rulers and the placement rules
// of Render.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/Picture.h"
#include "script/CScrText.h"
#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"
#include "tools/BmpEncoder.h"

namespace {

using std::nullopt;
using Opt = std::optional<std::string>;

class ScrTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.SetCurPath(dir_.string());
    text_.Reset(true);
  }

  void Feed(const std::string& s, int row = -1) {
    for (unsigned char c : s) text_.AddChar(c, row);
  }
  void Br(int row = -1) { text_.AddChar('\n', row); }
  int Format(Opt font, Opt size = nullopt, Opt align = nullopt, Opt rowspan = nullopt,
             Opt colspan = nullopt, Opt style = nullopt) {
    return text_.PushFormat(font, size, align, rowspan, colspan, style);
  }
  int Align(const char* a) { return Format(nullopt, nullopt, std::string(a)); }
  std::string LineText(int i) const {
    return std::string(text_.Lines[i].Text.begin(), text_.Lines[i].Text.end());
  }
  Bitmap1 Rendered(int height) {
    Bitmap1 b;
    b.Create(640, height);
    text_.Render(b);
    return b;
  }
  // A font picture with a ruler: glyph widths `widths`, each followed by a marker column, the
  // glyphs drawn as solid blocks; `colour` draws it as a 24-bit picture (dark ink on white).
  std::string WriteFontPicture(const std::string& name, const std::vector<int>& widths, int height,
                               bool colour, bool ruler = true) {
    int w = 1;
    for (int g : widths) w += g + 1;
    Bitmap32 pic;
    pic.Create(w, height, colour ? 0xFFFFFF : 0);
    const std::uint32_t ink = colour ? 0x202020 : 0xFFFFFF;
    int x = 1;
    for (int g : widths) {
      for (int yy = 1; yy < height; ++yy)
        for (int xx = x; xx < x + g; ++xx) pic.Row(yy)[xx] = ink;
      x += g;
      if (ruler) pic.Row(0)[x] = ink;
      ++x;
    }
    std::vector<std::uint8_t> bytes;
    if (colour) {
      EXPECT_EQ(EncodeBmp(pic, 24, &bytes), 0);
    } else {
      Bitmap1 mono;
      mono.Create(w, height);
      for (int yy = 0; yy < height; ++yy)
        for (int xx = 0; xx < w; ++xx) mono.Set(xx, yy, pic.Row(yy)[xx] != 0);
      EXPECT_EQ(EncodeBmp1(mono, &bytes), 0);
    }
    EXPECT_EQ(WriteFileBytes((dir_ / name).c_str(), bytes), 0);
    return name;
  }

  TempFolder temp_;
  std::filesystem::path dir_ = temp_.path();
  CMainCtl settings_;
  CScrText text_{&settings_};
};

int InkColumnsFrom(const Bitmap1& b, int* first, int* last) {
  int lo = b.width, hi = -1;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.Get(x, y)) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
      }
  if (first) *first = lo;
  if (last) *last = hi;
  return hi >= lo ? hi - lo + 1 : 0;
}

TEST_F(ScrTextTest, ResetInstallsTheDefaultFonts) {
  ASSERT_EQ(text_.FontPictures.size(), 1u);
  ASSERT_EQ(text_.BitmapFonts.size(), 1u);
  ASSERT_EQ(text_.OutlineFonts.size(), 1u);
  const BitmapFont& def = text_.BitmapFonts[0];
  EXPECT_EQ(def.Name, "DEFAULT");
  EXPECT_EQ(def.Height, text_.FontPictures[0].height - 1);
  for (int g = 0; g < kGlyphCount; ++g) EXPECT_GT(def.Glyphs[g].width, 0) << "glyph " << g;
  EXPECT_EQ(text_.OutlineFonts[0].Face, Utf8ToCp932("ＭＳ ゴシック"));
  EXPECT_EQ(text_.OutlineFonts[0].Size, 15);
  EXPECT_EQ(text_.OutlineFonts[0].Style, 0);
  EXPECT_EQ(text_.Depth(), 0);
  EXPECT_EQ(text_.Top().Font, 0);
  EXPECT_EQ(text_.Top().Height, 0);

  Feed("abc");
  Br();
  text_.Reset(false);
  EXPECT_EQ(text_.LineCount(), 0);
  EXPECT_TRUE(text_.BitmapFonts.empty());
  // Without fonts, text is still collected and rendering draws nothing and does not fail.
  Feed("abc");
  Br();
  EXPECT_EQ(text_.DrawRun(0, 0, 0, 0, false, nullptr), 0);
}

TEST_F(ScrTextTest, BodyWithoutFormatHasLinesOfHeightZeroAllDrawnAtTwo) {
  Feed("AB");
  Br();
  Feed("xy");
  Br();
  ASSERT_EQ(text_.LineCount(), 2);
  EXPECT_EQ(text_.LineHeight[0], 0);
  EXPECT_EQ(text_.LineHeight[1], 0);
  EXPECT_EQ(text_.TextHeight(), 0);  // so the caller's bitmap is 2 pixels high
  Bitmap1 two = Rendered(text_.TextHeight() + 2);
  EXPECT_EQ(two.height, 2);
  // In a taller bitmap both lines lie over each other from y = 2.
  Bitmap1 both = Rendered(40);
  CScrText first(&settings_), second(&settings_);
  for (CScrText* t : {&first, &second}) t->Reset(true);
  for (char c : std::string("AB")) first.AddChar(c, -1);
  for (char c : std::string("xy")) second.AddChar(c, -1);
  first.AddChar('\n', -1);
  second.AddChar('\n', -1);
  Bitmap1 a, b;
  a.Create(640, 40);
  b.Create(640, 40);
  first.Render(a);
  second.Render(b);
  for (size_t i = 0; i < a.bits.size(); ++i) a.bits[i] |= b.bits[i];
  EXPECT_EQ(both.bits, a.bits);
  for (int x = 0; x < 640; ++x) EXPECT_FALSE(both.Get(x, 0) || both.Get(x, 1));
}

TEST_F(ScrTextTest, LineHeightsComeFromFormatsAndRow) {
  Format(std::string("DEFAULT"), nullopt, nullopt, std::string("4"));
  const int h = text_.BitmapFonts[0].Height;
  Feed("one");
  Br();
  EXPECT_EQ(text_.LineHeight[0], h + 4);
  Feed("two");
  Br(40);  // <BR ROW=40>: 40 whatever the fonts
  EXPECT_EQ(text_.LineHeight[1], 40);
  Format(std::string("Arial"), std::string("30"));
  Feed("big");
  text_.PopFormat();
  Br();  // closed before its BR: the line keeps the height it was filled under
  EXPECT_EQ(text_.LineHeight[2], 34);
  text_.PopFormat();
  Br();  // an empty line under the base state
  EXPECT_EQ(text_.LineHeight[3], 0);
  EXPECT_EQ(text_.TextHeight(), h + 4 + 40 + 34);
}

TEST_F(ScrTextTest, AlignmentChangeBreaksBeforeTheFirstByteOfTheNewAlignment) {
  Align("CENTER");  // an empty line simply takes the new alignment
  Feed("ab");
  EXPECT_EQ(text_.LineCount(), 0);
  EXPECT_EQ(text_.CurAlign, kAlignCenter);
  Align("right");
  EXPECT_EQ(text_.LineCount(), 0);  // the break waits for a byte
  Feed("cd");
  ASSERT_EQ(text_.LineCount(), 1);
  EXPECT_EQ(LineText(0), "ab");
  EXPECT_EQ(text_.LineAlign[0], kAlignCenter);
  EXPECT_EQ(text_.CurAlign, kAlignRight);
  EXPECT_EQ(std::string(text_.CurText, text_.CurText + text_.CurLength), "cd");
  Align("SIDEWAYS");  // unknown value: alignment unchanged, no break
  Feed("e");
  EXPECT_EQ(text_.LineCount(), 1);
}

TEST_F(ScrTextTest, SpacesAtLineStartAndKeptSpaces) {
  Feed("  a b");
  Br();
  text_.AddChar(kKeptSpace, -1);
  Feed(" c");
  Br();
  EXPECT_EQ(LineText(0), "a b");
  EXPECT_EQ(LineText(1), "  c");  // SPC keeps a space; the typed one after it is no longer leading
}

TEST_F(ScrTextTest, RightAndCenterLinesOf550PixelsOrMoreAreNotDrawn) {
  const int a = text_.BitmapFonts[0].Glyphs['A' - 32].width;
  // COLSPAN makes exact widths: n glyphs of width a with gap g measure n * a + (n - 1) * g.
  const int n = 10, g = (550 - n * a) / (n - 1);
  const int gap = (550 - n * a) % (n - 1) == 0 ? g : g + 1;  // at least 550
  Format(nullopt, nullopt, std::string("RIGHT"), nullopt, std::to_string(gap));
  Feed(std::string(n, 'A'));
  Br();
  ASSERT_GE(text_.DrawRun(0, 0, 0, 0, false, nullptr), 550);
  Format(nullopt, nullopt, std::string("CENTER"));
  Feed(std::string(n, 'A'));
  Br();
  Bitmap1 wide = Rendered(60);
  int first, last;
  EXPECT_EQ(InkColumnsFrom(wide, &first, &last), 0);

  // One pixel narrower: drawn, RIGHT ending at 595 and CENTER from 320 - w / 2.
  text_.Reset(true);
  Format(nullopt, nullopt, std::string("RIGHT"), std::string("20"), std::to_string(gap));
  Feed(std::string(n - 1, 'A'));
  Br();
  const int w = text_.DrawRun(0, 0, 0, 0, false, nullptr);
  ASSERT_LT(w, 550);
  Bitmap1 right = Rendered(60);
  Bitmap1 expect;
  expect.Create(640, 60);
  text_.DrawRun(0, 0, 595 - w, 2, true, &expect);
  EXPECT_EQ(right.bits, expect.bits);
  InkColumnsFrom(right, &first, &last);
  EXPECT_LE(last, 594);
  EXPECT_GE(first, 595 - w);
}

// Values at the ends of the 32-bit range: heights saturate instead of wrapping to negative,
// a line made endlessly wide by its gaps is too wide to place, and lines are placed by 64-bit
// sums of the heights above them. (Under the sanitizer build any wrap-around fails the test.)
TEST_F(ScrTextTest, ExtremeSpansAndRowsSaturate) {
  const std::string top = "2147483647", bottom = "-2147483648";
  Format(nullopt, nullopt, std::string("RIGHT"), top, top);
  Feed("AAAA");
  Br();
  EXPECT_EQ(text_.LineHeight[0], INT32_MAX);
  EXPECT_GE(text_.DrawRun(0, 0, 0, 0, false, nullptr), 550);
  EXPECT_EQ(InkColumnsFrom(Rendered(64), nullptr, nullptr), 0);

  Format(nullopt, nullopt, std::string("CENTER"), bottom, bottom);
  Feed("AAAA");
  Br();
  EXPECT_EQ(text_.LineHeight[1], INT32_MIN);
  Format(nullopt, nullopt, std::string("LAYOUT"), nullopt, bottom);
  Feed("AA AA AA AA");  // starts at 2 + max + min = 1
  Br(INT32_MAX);
  Format(nullopt, std::string("30"), std::string("LAYOUT"), top, top);
  Feed("AA AA");
  Br(INT32_MIN);  // a ROW below zero is no ROW: the height of the format, saturated
  EXPECT_EQ(text_.LineHeight[3], INT32_MAX);
  EXPECT_EQ(text_.TextHeight(), INT32_MAX);  // max + min + max + max, summed in 64 bits
  int first, last;
  InkColumnsFrom(Rendered(64), &first, &last);
  EXPECT_GE(first, 45);  // only what lies between the margins shows
  EXPECT_LE(last, 594);
}

TEST_F(ScrTextTest, LayoutJustifiesWordsBetween45And595) {
  Format(nullopt, nullopt, std::string("LAYOUT"), std::string("20"));
  Feed("AAA BB  CCCC");
  Br();
  Feed("ALONE");
  Br();
  const int w1 = text_.DrawRun(0, 0, 0, 0, false, nullptr);
  int next = 0;
  text_.DrawRun(0, 0, 0, 0, false, nullptr, &next);
  EXPECT_EQ(next, 3);  // a space ends a run in a LAYOUT line
  const int w2 = text_.DrawRun(0, 4, 0, 0, false, nullptr);
  const int w3 = text_.DrawRun(0, 8, 0, 0, false, nullptr);
  const int gap = (550 - (w1 + w2 + w3)) / 2;
  Bitmap1 expect;
  expect.Create(640, 60);
  text_.DrawRun(0, 0, 45, 2, true, &expect);
  text_.DrawRun(0, 4, 45 + w1 + gap, 2, true, &expect);
  text_.DrawRun(0, 8, 595 - w3, 2, true, &expect);
  text_.DrawRun(1, 0, 45, 22, true, &expect);  // a single word starts at 45
  EXPECT_EQ(Rendered(60).bits, expect.bits);
}

TEST_F(ScrTextTest, LayoutTakesAtMost32WordsBelow550Pixels) {
  Format(nullopt, nullopt, std::string("LAYOUT"));
  std::string line;
  for (int i = 0; i < 40; ++i) line += "i ";
  Feed(line);
  Br();
  Feed("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
  Br();
  ASSERT_GE(text_.DrawRun(1, 0, 0, 0, false, nullptr), 550);
  const int wi = text_.DrawRun(0, 0, 0, 0, false, nullptr);
  const int gap = (550 - 32 * wi) / 31;
  Bitmap1 expect;
  expect.Create(640, 10);
  double x = 45;
  for (int k = 0; k < 31; ++k, x += wi + gap)
    text_.DrawRun(0, 2 * k, static_cast<int>(x), 2, true, &expect);
  text_.DrawRun(0, 62, 595 - wi, 2, true, &expect);
  EXPECT_EQ(Rendered(10).bits, expect.bits);  // the over-wide second line is not drawn at all
}

TEST_F(ScrTextTest, ReadFontWithAssignAndTheSpaceWidth) {
  // Glyphs for '!' and '"' (ASSIGN="!"), 6 and 8 wide, in a colour picture 30 high.
  const std::string file = WriteFontPicture("FONT1.BMP", {6, 8}, 30, true);
  ASSERT_EQ(text_.ReadFont("mine", file, "!"), 0);
  ASSERT_EQ(text_.BitmapFonts.size(), 2u);
  ASSERT_EQ(text_.FontPictures.size(), 2u);
  const BitmapFont& f = text_.BitmapFonts[1];
  EXPECT_EQ(f.Name, "MINE");
  EXPECT_EQ(f.Height, 29);
  EXPECT_EQ(f.Glyphs[1].picture, 1);
  EXPECT_EQ(f.Glyphs[1].x, 1);
  EXPECT_EQ(f.Glyphs[1].width, 6);
  EXPECT_EQ(f.Glyphs[2].x, 8);
  EXPECT_EQ(f.Glyphs[2].width, 8);
  EXPECT_EQ(f.Glyphs[0].width, 14 / 3 - 1);  // widths read / final glyph index, less one
  // Glyphs the picture does not define are the default font's.
  EXPECT_EQ(f.Glyphs['A' - 32].picture, 0);
  EXPECT_EQ(f.Glyphs['A' - 32].width, text_.BitmapFonts[0].Glyphs['A' - 32].width);

  // A second picture with the same name and another ASSIGN extends the same font.
  ASSERT_EQ(text_.ReadFont("MINE", WriteFontPicture("F2.BMP", {5}, 10, false), "A"), 0);
  EXPECT_EQ(text_.BitmapFonts.size(), 2u);
  EXPECT_EQ(text_.FontPictures.size(), 3u);
  EXPECT_EQ(text_.BitmapFonts[1].Glyphs['A' - 32].picture, 2);
  EXPECT_EQ(text_.BitmapFonts[1].Glyphs['A' - 32].width, 5);
  EXPECT_EQ(text_.BitmapFonts[1].Height, 29);  // never lowered

  // FORMAT by name selects it, upper-cased, with its height; a colour picture's dark pixels ink.
  Format(std::string("Mine"));
  EXPECT_EQ(text_.Top().Font, 1);
  EXPECT_EQ(text_.Top().Height, 29);
  Feed("!");
  Br();
  Bitmap1 out = Rendered(40);
  int first, last;
  EXPECT_EQ(InkColumnsFrom(out, &first, &last), 6);
  EXPECT_EQ(first, 45);
  EXPECT_TRUE(out.Get(45, 2));
  EXPECT_TRUE(out.Get(50, 30));
  EXPECT_FALSE(out.Get(50, 31));
}

TEST_F(ScrTextTest, FontPictureWithoutRulerOrRowsGivesNoGlyphs) {
  ASSERT_EQ(text_.ReadFont("bare", WriteFontPicture("BARE.BMP", {7, 7}, 12, false, false), ""), 0);
  const BitmapFont& f = text_.BitmapFonts[1];
  EXPECT_EQ(f.Glyphs[0].width, text_.BitmapFonts[0].Glyphs[0].width);  // no division by zero
  for (int g = 1; g < kGlyphCount; ++g) EXPECT_EQ(f.Glyphs[g].picture, 0);
  // One pixel high: only the ruler, so glyphs of height 0.
  ASSERT_EQ(text_.ReadFont("flat", WriteFontPicture("FLAT.BMP", {3}, 1, true), "A"), 0);
  EXPECT_EQ(text_.BitmapFonts[2].Glyphs['A' - 32].width, 3);
  Format(std::string("FLAT"));
  Feed("AAA");
  Br();
  Rendered(30);
  // A missing or broken file changes nothing.
  EXPECT_EQ(text_.ReadFont("gone", "NOFILE.BMP", ""), -1);
  std::filesystem::path junk = dir_ / "JUNK.BMP";
  ASSERT_EQ(WriteFileBytes(junk.c_str(), {'B', 'M', 1, 2, 3}), 0);
  EXPECT_EQ(text_.ReadFont("junk", "JUNK.BMP", ""), -1);
  EXPECT_EQ(text_.BitmapFonts.size(), 3u);
  EXPECT_EQ(text_.FontPictures.size(), 3u);
}

TEST_F(ScrTextTest, OutlineFormatsAreSharedAndInherited) {
  EXPECT_EQ(Format(std::string("Arial"), std::string("20"), nullopt, nullopt, nullopt,
                   std::string("BOLD")),
            1);
  ASSERT_EQ(text_.OutlineFonts.size(), 2u);
  EXPECT_EQ(text_.OutlineFonts[1].Face, "ARIAL");
  EXPECT_EQ(text_.OutlineFonts[1].Size, 20);
  EXPECT_EQ(text_.OutlineFonts[1].Style, kStyleBold);
  EXPECT_EQ(text_.Top().Font, 129);
  EXPECT_EQ(text_.Top().Height, 20);
  text_.PopFormat();
  Format(std::string("Arial"), std::string("20"), nullopt, nullopt, nullopt, std::string("BOLD"));
  EXPECT_EQ(text_.OutlineFonts.size(), 2u);  // the same font again
  EXPECT_EQ(text_.Top().Font, 129);
  // Inherited: face and size from the outline font below, the new style.
  Format(nullopt, nullopt, nullopt, nullopt, nullopt, std::string("italicbold"));
  EXPECT_EQ(text_.OutlineFonts.back().Face, "ARIAL");
  EXPECT_EQ(text_.OutlineFonts.back().Size, 20);
  EXPECT_EQ(text_.OutlineFonts.back().Style, kStyleBold | kStyleItalic);
  // From the bitmap base font: size its height, style plain; SIZE does not change a bitmap font.
  while (text_.PopFormat() > 0) {
  }
  Format(std::string("DEFAULT"), std::string("99"));
  EXPECT_EQ(text_.Top().Font, 0);
  EXPECT_EQ(text_.Top().Height, text_.BitmapFonts[0].Height);
  Format(std::string("ＭＳ ゴシック"), nullopt, nullopt, nullopt, nullopt, nullopt);
  EXPECT_EQ(text_.OutlineFonts.back().Size, text_.BitmapFonts[0].Height);
  // "ＭＳ ゴシック" at 15 plain is outline font 0.
  Format(Utf8ToCp932("ＭＳ ゴシック"), std::string("15"));
  EXPECT_EQ(text_.Top().Font, 128);
}

TEST_F(ScrTextTest, JapaneseTextIsDrawnWithTheOutlineFaceAtTheBitmapHeight) {
  const std::string jp = Utf8ToCp932("日本");
  Feed("A" + jp);
  Br();
  FontRaster fr;
  const int h = text_.BitmapFonts[0].Height;
  const int expected = text_.BitmapFonts[0].Glyphs['A' - 32].width +
                       fr.TextWidth(FontSpec{"ＭＳ ゴシック", h}, jp.substr(0, 2)) * 2;
  EXPECT_EQ(text_.DrawRun(0, 0, 0, 0, false, nullptr), expected);
  // Gaps go before every character but the first.
  text_.Reset(true);
  Format(nullopt, nullopt, nullopt, nullopt, std::string("3"));
  Feed("AA" + jp);
  Br();
  EXPECT_EQ(text_.DrawRun(0, 0, 0, 0, false, nullptr),
            expected + text_.BitmapFonts[0].Glyphs[33].width + 9);
}

TEST_F(ScrTextTest, HiddenStretchesAdvanceWithoutInk) {
  Format(nullopt, nullopt, nullopt, std::string("20"));
  Feed("AB");
  text_.Hide(true);
  text_.Hide(true);
  Feed("CD");
  text_.Hide(false);
  Feed("E");
  text_.Hide(false);
  text_.Hide(false);  // more /NODISP than NODISP: ignored
  EXPECT_EQ(text_.HideDepth, 0);
  Feed("F");
  Br();
  Bitmap1 shown = Rendered(30);
  // Hidden letters advance like shown ones: drawing the whole run draws just what Render drew.
  Bitmap1 ab;
  ab.Create(640, 30);
  text_.DrawRun(0, 0, 45, 2, true, &ab);
  EXPECT_EQ(shown.bits, ab.bits);
  int first, last;
  InkColumnsFrom(shown, &first, &last);
  const int wAB =
      text_.BitmapFonts[0].Glyphs['A' - 32].width + text_.BitmapFonts[0].Glyphs['B' - 32].width;
  const int wCDE = text_.BitmapFonts[0].Glyphs['C' - 32].width +
                   text_.BitmapFonts[0].Glyphs['D' - 32].width +
                   text_.BitmapFonts[0].Glyphs['E' - 32].width;
  for (int x = 45 + wAB + 1; x < 45 + wAB + wCDE - 1; ++x)
    for (int y = 0; y < 30; ++y) EXPECT_FALSE(shown.Get(x, y)) << x << "," << y;
}

TEST_F(ScrTextTest, LimitsAreRefusedAtTheLimit) {
  for (int i = 1; i <= kMaxFormatDepth; ++i) ASSERT_EQ(Align("LEFT"), i);
  EXPECT_EQ(Align("LEFT"), -1);
  while (text_.PopFormat() >= 0) {
  }
  EXPECT_EQ(text_.PopFormat(), -1);
  EXPECT_EQ(text_.Depth(), 0);

  for (int i = 0; i < kMaxLineBytes; ++i) ASSERT_EQ(text_.AddChar('x', -1), 0);
  EXPECT_EQ(text_.AddChar('y', -1), -1);
  EXPECT_EQ(text_.AddChar('\n', -1), 0);
  EXPECT_EQ(text_.Lines[0].Text.size(), static_cast<size_t>(kMaxLineBytes));
  for (int i = 1; i < kMaxTextLines; ++i) ASSERT_EQ(text_.AddChar('\n', -1), 0);
  EXPECT_EQ(text_.AddChar('\n', -1), -1);
  EXPECT_EQ(text_.LineCount(), kMaxTextLines);

  text_.Reset(true);
  for (int i = 1; i < kMaxOutlineFonts; ++i)
    Format(std::string("F") + std::to_string(i), std::string("12"));
  EXPECT_EQ(text_.OutlineFonts.size(), static_cast<size_t>(kMaxOutlineFonts));
  text_.PopFormat();
  Format(std::string("ONE MORE"), std::string("12"));
  EXPECT_EQ(text_.OutlineFonts.size(), static_cast<size_t>(kMaxOutlineFonts));
  EXPECT_EQ(text_.Top().Font, kOutlineFontBase + kMaxOutlineFonts);
  Feed("full");
  Br();
  EXPECT_GT(text_.DrawRun(0, 0, 0, 0, false, nullptr), 0);  // drawn with the default face

  text_.Reset(true);
  const std::string file = WriteFontPicture("P.BMP", {4}, 8, false);
  for (int i = 1; i < kMaxFontPictures; ++i)
    ASSERT_EQ(text_.ReadFont("N" + std::to_string(i), file, ""), 0) << i;
  EXPECT_EQ(text_.ReadFont("LAST", file, ""), -1);
  EXPECT_EQ(text_.BitmapFonts.size(), static_cast<size_t>(kMaxBitmapFonts));
}

}  // namespace
