// The caption layer: collecting entries, the long dash, the timing of a run and placement per
// display mode.
#include <gtest/gtest.h>

#include <vector>

#include "app/CCaption.h"
#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/Picture.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"

namespace {

class CaptionTest : public ::testing::Test {
 protected:
  CaptionTest() {
    settings_.SetCptFont(kDefaultCptFont);
    settings_.SetDspMode(4);
    caption_ = std::make_unique<CCaption>(&settings_);
    caption_->SetScreenSize(640, 480);
    caption_->PlaceCaptions(1.0, 0, 102);
  }
  // Feeds UTF-8 text as CP932; "\n" is BR, "|" is P (the end of one caption).
  void Feed(const std::string& utf8) {
    size_t start = 0;
    for (size_t bar; (bar = utf8.find('|', start)) != std::string::npos; start = bar + 1) {
      for (unsigned char c : Utf8ToCp932(utf8.substr(start, bar - start)))
        caption_->AddCaptionChar(c);
      caption_->AddCaptionChar(27);
    }
    for (unsigned char c : Utf8ToCp932(utf8.substr(start))) caption_->AddCaptionChar(c);
  }
  std::string Line(int entry, int line) const {
    const auto& l = caption_->Entry(entry).line[line];
    return l ? Cp932ToUtf8(*l) : "<none>";
  }
  // The ticks (counted from 1 after StartCaptions) at which AnimateCaptions asks for a redraw.
  std::vector<int> Switches(int ticks) {
    std::vector<int> at;
    for (int t = 1; t <= ticks; ++t)
      if (caption_->AnimateCaptions() == 1) at.push_back(t);
    return at;
  }

  CMainCtl settings_;
  std::unique_ptr<CCaption> caption_;
};

TEST_F(CaptionTest, EntriesKeepTwoLinesAndDropTheRest) {
  caption_->BeginCaptionBlock();
  Feed("  first\nsecond\nthird\nfourth|next|");
  caption_->EndCaptionBlock();
  EXPECT_EQ(caption_->EntryCount(), 2);
  EXPECT_EQ(caption_->TagFirst(), 0);
  EXPECT_EQ(caption_->TagCount(), 2);
  EXPECT_EQ(Line(0, 0), "first");  // leading spaces skipped
  EXPECT_EQ(Line(0, 1), "second");
  EXPECT_EQ(Line(1, 0), "next");  // nothing of "third" or "fourth" carried over
  EXPECT_EQ(Line(1, 1), "<none>");

  caption_->BeginCaptionBlock();
  Feed("\n\n||x|");  // empty line breaks store nothing; empty entries still count
  caption_->EndCaptionBlock();
  EXPECT_EQ(caption_->TagFirst(), 2);
  EXPECT_EQ(caption_->TagCount(), 3);
  EXPECT_EQ(caption_->Entry(2).width, 0);
  EXPECT_EQ(Line(2, 0), "<none>");
  EXPECT_EQ(Line(4, 0), "x");
}

TEST_F(CaptionTest, WidthIsTheLongerLineInTheShowFont) {
  Feed("short\nthe longer one|aaaa\nbbbb|");
  FontRaster fr;
  const FontSpec show{kDefaultCptFont, 25, true};
  EXPECT_EQ(caption_->ShowFontHeight(), 25);
  EXPECT_EQ(caption_->RenderFontHeight(), 50);
  EXPECT_EQ(caption_->Entry(0).width, fr.TextWidth(show, "the longer one"));
  EXPECT_EQ(caption_->Entry(1).width, fr.TextWidth(show, "bbbb"));
}

TEST_F(CaptionTest, LinesLongerThan256BytesAndEntriesBeyond1024AreRefused) {
  for (int i = 0; i < kCaptionLineBytes; ++i) ASSERT_EQ(caption_->AddCaptionChar('x'), 0);
  EXPECT_EQ(caption_->AddCaptionChar('x'), -1);
  EXPECT_EQ(caption_->AddCaptionChar('y'), -1);
  caption_->AddCaptionChar(27);
  EXPECT_EQ(caption_->Entry(0).line[0]->size(), static_cast<size_t>(kCaptionLineBytes));
  for (int i = 1; i < kMaxCaptionEntries; ++i) caption_->AddCaptionChar(27);
  EXPECT_EQ(caption_->EntryCount(), kMaxCaptionEntries);
  Feed("extra|");
  EXPECT_EQ(caption_->EntryCount(), kMaxCaptionEntries);
}

TEST_F(CaptionTest, DashIsSearchedOnlyInLinesOfFourBytesOrMore) {
  FontRaster fr;
  const FontSpec render{kDefaultCptFont, 50, true};
  Feed("A－－B|");       // first line only
  Feed("x－－\nxyz|");   // second line of 3 bytes: the first line is searched
  Feed("x－－\nxyzw|");  // second line of 4 bytes without a dash: no dash at all
  Feed("ab\n漢－－|");   // in the second line
  Feed("－－start|");    // at x 0, which means no dash
  EXPECT_EQ(caption_->Entry(0).dashX, fr.TextWidth(render, "A"));
  EXPECT_EQ(caption_->Entry(0).dashLine, 0);
  EXPECT_EQ(caption_->Entry(1).dashX, fr.TextWidth(render, "x"));
  EXPECT_EQ(caption_->Entry(1).dashLine, 0);
  EXPECT_EQ(caption_->Entry(2).dashX, 0);
  EXPECT_EQ(caption_->Entry(3).dashX, fr.TextWidth(render, Utf8ToCp932("漢")));
  EXPECT_EQ(caption_->Entry(3).dashLine, 1);
  EXPECT_EQ(caption_->Entry(4).dashX, 0);
  // A "－－" found across a character boundary is not a dash: 0x83 0x81 is one character.
  caption_->ClearCaptions();
  for (unsigned char c : std::string("\x83\x81\x7C\x81\x7C\x41")) caption_->AddCaptionChar(c);
  caption_->AddCaptionChar(27);
  EXPECT_EQ(caption_->Entry(0).dashX, 0);
}

TEST_F(CaptionTest, DashBitmapIsOneUnbrokenBar) {
  const Bitmap32& d = caption_->DashBitmap();
  FontRaster fr;
  const FontSpec render{kDefaultCptFont, 50, true};
  ASSERT_EQ(d.width, fr.TextWidth(render, "\x81\x7C\x81\x7C"));
  ASSERT_EQ(d.height, 50);
  // The row through the bar is lit from a quarter of the width to the end of the stretch.
  int row = -1;
  for (int y = 0; y < d.height && row < 0; ++y)
    if (d.Row(y)[d.width / 4] != 0) row = y;
  ASSERT_GE(row, 0);
  for (int x = d.width / 4; x < std::min(d.width, d.width / 4 + 1 + (d.width / 4) * 3); ++x)
    EXPECT_EQ(d.Row(row)[x], d.Row(row)[d.width / 4]) << x;
}

TEST_F(CaptionTest, FiveSecondsOfThreeCaptions) {
  Feed("one|two|three|");
  caption_->StartCaptions(0, 3, 5000);  // 151 ticks: 45 each after 5 blank ticks
  EXPECT_EQ(caption_->TicksPerEntry(), 45);
  EXPECT_TRUE(caption_->Active());
  const std::vector<int> expected = {5, 50, 55, 100, 105, 150};
  EXPECT_EQ(Switches(151), expected);
  EXPECT_FALSE(caption_->Active());
  EXPECT_EQ(Switches(10), std::vector<int>());
}

TEST_F(CaptionTest, RunShowsEachEntryThenBlanksItKeepingItsSize) {
  Feed("one|two|");
  caption_->StartCaptions(0, 2, 2000);  // 60 ticks, 25 each
  EXPECT_EQ(Switches(4), std::vector<int>());
  EXPECT_EQ(caption_->AnimateCaptions(), 1);
  const Bitmap32 shown = caption_->ShowBitmap();
  EXPECT_EQ(shown.width, caption_->Entry(0).width);
  EXPECT_EQ(shown.height, 55);
  EXPECT_NE(std::count(shown.pixels.begin(), shown.pixels.end(), 0u),
            static_cast<long>(shown.pixels.size()));
  // Halved from double size with averaging: the edges have grey levels.
  bool grey = false;
  for (std::uint32_t p : shown.pixels) grey = grey || (p != 0 && p != 0xFFFFFF);
  EXPECT_TRUE(grey);
  EXPECT_EQ(caption_->RenderBitmap().width, 2 * caption_->Entry(0).width);
  EXPECT_EQ(caption_->RenderBitmap().height, 110);
  EXPECT_EQ(caption_->CaptionX(), 320 - shown.width / 2);
  EXPECT_EQ(Switches(24), std::vector<int>());
  EXPECT_EQ(caption_->AnimateCaptions(), 1);  // blanked
  EXPECT_EQ(caption_->ShowBitmap().width, shown.width);
  EXPECT_EQ(
      std::count(caption_->ShowBitmap().pixels.begin(), caption_->ShowBitmap().pixels.end(), 0u),
      static_cast<long>(shown.pixels.size()));
  EXPECT_EQ(caption_->Current(), 1);

  caption_->StartCaptions(0, 0, 5000);  // NumCaption 0 does nothing
  caption_->ClearCaptions();
  EXPECT_FALSE(caption_->Active());
  EXPECT_EQ(caption_->EntryCount(), 0);
  EXPECT_EQ(caption_->AnimateCaptions(), 0);
}

TEST_F(CaptionTest, WindowModeBandAt390) {
  EXPECT_EQ(caption_->CaptionY(), 390);
  Feed("caption|");
  caption_->StartCaptions(0, 1, 1000);
  Switches(5);
  Bitmap32 window;
  window.Create(640, 519, 0x0000FF);
  caption_->DrawCaptions(window);
  const int x0 = caption_->CaptionX(), w = caption_->ShowBitmap().width;
  EXPECT_EQ(window.Row(389)[320], 0x0000FFu);
  EXPECT_EQ(window.Row(390 + 55)[320], 0x0000FFu);
  EXPECT_EQ(window.Row(400)[x0 - 1], 0x0000FFu);
  EXPECT_EQ(window.Row(400)[x0 + w], 0x0000FFu);
  int lit = 0;
  for (int y = 390; y < 445; ++y)
    for (int x = x0; x < x0 + w; ++x) lit += window.Row(y)[x] != 0 && window.Row(y)[x] != 0xFF;
  EXPECT_GT(lit, 50);
}

TEST_F(CaptionTest, ScaledModesUseTheScreen) {
  settings_.SetDspMode(2);
  caption_->SetScreenSize(1024, 768);
  caption_->PlaceCaptions(1.6, 0, 163);
  EXPECT_EQ(caption_->ShowFontHeight(), 40);
  EXPECT_EQ(caption_->RenderFontHeight(), 40);
  EXPECT_DOUBLE_EQ(caption_->RenderScale(), 1.6);
  EXPECT_EQ(caption_->CaptionY(), static_cast<int>(163 + 1.6 * 288));
  Feed("scaled|");
  caption_->StartCaptions(0, 1, 1000);
  Switches(5);
  EXPECT_EQ(caption_->ShowBitmap().height, 88);
  EXPECT_EQ(caption_->ShowBitmap().width, caption_->Entry(0).width);
  EXPECT_EQ(caption_->CaptionX(), 512 - caption_->ShowBitmap().width / 2);

  settings_.SetDspMode(3);
  caption_->SetScreenSize(1920, 1080);
  EXPECT_EQ(caption_->ShowFontHeight(), 50);
  EXPECT_EQ(caption_->RenderFontHeight(), 50);
  EXPECT_DOUBLE_EQ(caption_->RenderScale(), 2.0);

  settings_.SetDspMode(1);
  settings_.RenderScale = 1;
  caption_->SetScreenSize(1920, 1080);
  EXPECT_EQ(caption_->RenderFontHeight(), 25);
  caption_->ClearCaptions();
  Feed("plain|");
  caption_->StartCaptions(0, 1, 1000);
  Switches(5);
  EXPECT_EQ(caption_->ShowBitmap().height, 55);
  EXPECT_EQ(caption_->CaptionX(), 960 - caption_->ShowBitmap().width / 2);
}

}  // namespace

// Without averaging the entry is drawn straight into the bitmap shown. It must equal the entry
// drawn at the render scale's width and cut to the entry's width (both lines, the long dash).
TEST(CaptionDrawnWhereShown, EqualsTheEntryDrawnWideAndCut) {
  struct Case {
    int mode, renderScale, width, height;
  };
  for (const Case c : {Case{2, 1, 1920, 1080}, Case{3, 1, 1280, 1024}, Case{1, 1, 800, 600}}) {
    CMainCtl settings;
    settings.SetCptFont(kDefaultCptFont);
    settings.SetDspMode(c.mode);
    settings.RenderScale = c.renderScale;
    CCaption caption(&settings);
    caption.SetScreenSize(c.width, c.height);
    caption.PlaceCaptions(1.0, 0, 0);
    for (unsigned char ch : Utf8ToCp932("一行目 Aj\n二行－－gy")) caption.AddCaptionChar(ch);
    caption.AddCaptionChar(27);
    caption.StartCaptions(0, 1, 1000);
    while (caption.AnimateCaptions() == 0) {
    }
    const CaptionEntry& e = caption.Entry(0);
    ASSERT_NE(e.dashX, 0) << c.mode;
    ASSERT_EQ(e.dashLine, 1) << c.mode;
    const double s = caption.RenderScale();
    const FontSpec font{kDefaultCptFont, caption.RenderFontHeight(), true};
    const int lineY = static_cast<int>(30 * s);
    FontRaster raster;
    Bitmap32 wide, want;
    wide.Create(static_cast<int>(e.width * s), static_cast<int>(55 * s), 0);
    raster.Draw32(wide, 0, 0, font, *e.line[0]);
    raster.Draw32(wide, 0, lineY, font, *e.line[1]);
    const Bitmap32& dash = caption.DashBitmap();
    CopyRect(wide, e.dashX, lineY, dash, 0, 0, dash.width, dash.height);
    want.Create(e.width, wide.height, 0);
    CopyRect(want, 0, 0, wide, 0, 0, wide.width, wide.height);
    EXPECT_TRUE(caption.ShowBitmap().pixels == want.pixels) << "mode " << c.mode;
  }
}
