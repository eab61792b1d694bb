// The settings dialog's engine side: the display-mode list, the monitor preview, the caption
// sample and font list, the About animation, folder paths, the signature, the Help slide and the
// script list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/FontRaster.h"
#include "settings/CMainCtl.h"
#include "settings/DialogLogic.h"

namespace {

Bitmap32 Solid(int w, int h, std::uint32_t c) {
  Bitmap32 b;
  b.Create(w, h, c);
  return b;
}

TEST(DspListTest, ItemTextsCarryTheScreenSizeInItemsTwoAndThree) {
  EXPECT_EQ(DspItemText(0, 1024, 768), " 640 x  480 解像度変更 (DirectX)");
  EXPECT_EQ(DspItemText(2, 1024, 768), "1024 x  768 全画面拡大表示");
  EXPECT_EQ(DspItemText(3, 800, 600), " 800 x  600 ２倍(1280 x 960)拡大表示");
  EXPECT_EQ(DspItemText(4, 1024, 768), " 640 x  480 ウィンドウ表示");
}

TEST(DspListTest, WindowItemComesWithCtrlAndGoesWhenNotChosen) {
  EXPECT_EQ(DspCountOnDropDown(4, 1, true), 5);
  EXPECT_EQ(DspCountOnDropDown(5, 4, true), 5);
  EXPECT_EQ(DspCountOnDropDown(5, 2, false), 4);
  EXPECT_EQ(DspCountOnDropDown(5, 4, false), 5);  // chosen: it stays
  EXPECT_EQ(DspCountOnDropDown(4, 0, false), 4);
  EXPECT_EQ(DspCountOnChange(5, 4), 5);
  EXPECT_EQ(DspCountOnChange(5, 0), 4);
  EXPECT_EQ(DspCountOnChange(4, 3), 4);
}

class PreviewTest : public ::testing::Test {
 protected:
  Bitmap32 gamen;
  Bitmap32 frame = Solid(107, 80, 0x00FF00);
  Bitmap32 badge = Solid(69, 14, 0xFF0000);
  static constexpr std::uint32_t kFace = 0xD4D0C8;
};

TEST_F(PreviewTest, FullScreenModesCopyTheFrame) {
  for (int mode : {0, 2}) {
    DrawMonitorPreview(gamen, frame, badge, mode, 1920, 1080, false, kFace);
    EXPECT_EQ(gamen.Row(0)[0], 0x00FF00u);
    EXPECT_EQ(gamen.Row(79)[106], 0x00FF00u);
  }
}

TEST_F(PreviewTest, CentredModeScalesToTheScreenShare) {
  // 1280 x 960: W = 53, H = 40, at 27, 20.
  DrawMonitorPreview(gamen, frame, badge, 1, 1280, 960, false, kFace);
  EXPECT_EQ(gamen.Row(20)[26], 0u);
  EXPECT_EQ(gamen.Row(20)[27], 0x00FF00u);
  EXPECT_EQ(gamen.Row(59)[79], 0x00FF00u);
  EXPECT_EQ(gamen.Row(59)[80], 0u);
  EXPECT_EQ(gamen.Row(60)[79], 0u);
  EXPECT_EQ(gamen.Row(19)[40], 0u);
}

TEST_F(PreviewTest, WindowModeFramesTheWindowOnTheDesktop) {
  DrawMonitorPreview(gamen, frame, badge, 4, 1280, 960, true, kFace);
  EXPECT_EQ(gamen.Row(0)[0], kDesktopBlue);
  EXPECT_EQ(gamen.Row(19)[26], kFace);  // frame corner at left - 1, top - 1
  EXPECT_EQ(gamen.Row(60)[80], kFace);  // and at left + W, top + H
  EXPECT_EQ(gamen.Row(61)[81], kDesktopBlue);
  EXPECT_EQ(gamen.Row(30)[40], 0x00FF00u);
  // The badge fills 53 + 26 - 4 .. 53 + 26, 40 + 20 - 2 .. 40 + 20: over the window's corner.
  EXPECT_EQ(gamen.Row(58)[75], 0xFF0000u);
  EXPECT_EQ(gamen.Row(59)[78], 0xFF0000u);
  EXPECT_EQ(gamen.Row(57)[75], 0x00FF00u);
  EXPECT_EQ(gamen.Row(60)[79], kFace);
}

TEST_F(PreviewTest, DoubledModeCropsOnSmallScreensAndShrinksOnLargeOnes) {
  // 1024 x 768: b = -32, c = -42: rows 16.., 48 of them, and columns 21.., 65, over all of it.
  Bitmap32 marked = frame;
  marked.Row(16)[21] = 0x0000FF;
  marked.Row(15)[20] = 0xFFFFFF;
  DrawMonitorPreview(gamen, marked, badge, 3, 1024, 768, false, kFace);
  EXPECT_EQ(gamen.Row(0)[0], 0x0000FFu);
  // 1920 x 1200: b = 40, c = 53: into rows 20.. (40 of them) and columns 26.. (54 of them).
  DrawMonitorPreview(gamen, frame, badge, 3, 1920, 1200, false, kFace);
  EXPECT_EQ(gamen.Row(19)[50], 0u);
  EXPECT_EQ(gamen.Row(20)[26], 0x00FF00u);
  EXPECT_EQ(gamen.Row(59)[79], 0x00FF00u);
  EXPECT_EQ(gamen.Row(60)[50], 0u);
  EXPECT_EQ(gamen.Row(30)[80], 0u);
}

TEST_F(PreviewTest, BadgeOnlyWithTheWarningAndUnknownModesDrawNothing) {
  DrawMonitorPreview(gamen, frame, badge, 0, 1280, 960, true, kFace);
  EXPECT_EQ(gamen.Row(76)[100], 0xFF0000u);
  EXPECT_EQ(gamen.Row(74)[100], 0x00FF00u);
  DrawMonitorPreview(gamen, frame, badge, 0, 1280, 960, false, kFace);
  EXPECT_EQ(gamen.Row(76)[100], 0x00FF00u);
  gamen.Fill(0x123456);
  DrawMonitorPreview(gamen, frame, badge, 7, 1280, 960, true, kFace);
  EXPECT_EQ(gamen.Row(76)[100], 0x123456u);
}

TEST(CaptionSampleTest, FaceListDropsSpecialFacesAndFallsBackToTheFirst) {
  const std::vector<std::string> faces =
      CaptionFaces({"@IPAGothic", "IPAGothic", "$X", "IPAPGothic"});
  ASSERT_EQ(faces, (std::vector<std::string>{"IPAGothic", "IPAPGothic"}));
  auto chosen = [&](const std::string& stored, const std::string& drawnWith) {
    const CaptionFaceChoice c = ChooseCaptionFace(faces, stored, drawnWith);
    return std::to_string(c.index) + " " + c.face;
  };
  EXPECT_EQ(chosen("ipapgothic", ""), "1 IPAPGothic");
  EXPECT_EQ(chosen("Mystery", ""), "0 IPAGothic");
  EXPECT_EQ(chosen("", ""), "0 IPAGothic");
  // A system name selects the face that draws it and is kept; if that face is not listed, the
  // first entry replaces it.
  EXPECT_EQ(chosen("ＭＳ Ｐゴシック", "IPAPGothic"), "1 ＭＳ Ｐゴシック");
  EXPECT_EQ(chosen("ＭＳ Ｐゴシック", "Droid Sans Fallback"), "0 IPAGothic");
  const CaptionFaceChoice none = ChooseCaptionFace({}, "IPAGothic", "IPAGothic");
  EXPECT_EQ(none.index, -1);
  EXPECT_EQ(none.face, "");
}

TEST(CaptionSampleTest, SixTextsInTurnWhiteOnBlackAtEitherScale) {
  FontRaster raster;
  const std::vector<std::string> faces = CaptionFaces(FontRaster::JapaneseFamilies());
  if (faces.empty()) GTEST_SKIP() << "no Japanese face installed";
  for (int i = 0; i < kCaptionSampleCount; ++i) EXPECT_STRNE(CaptionSampleText(i), "");
  for (int scale : {1, 2}) {
    Bitmap32 work, sample;
    int index = 6;  // the end marker: back to the first
    DrawCaptionSample(raster, work, sample, faces[0], true, scale, &index);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(work.width, 225 * scale);
    EXPECT_EQ(work.height, 29 * scale);
    ASSERT_EQ(sample.width, 225);
    ASSERT_EQ(sample.height, 29);
    int white = 0, grey = 0;
    for (std::uint32_t p : sample.pixels) {
      const std::uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      EXPECT_TRUE(r == g && g == b) << std::hex << p;
      if (r == 255) ++white;
      if (r > 0 && r < 255) ++grey;
    }
    EXPECT_GT(white, 50);
    if (scale == 2) {
      EXPECT_GT(grey, 50);  // shrunk by half with averaging: smooth edges
    }
    EXPECT_EQ(sample.Row(0)[0], 0u);
  }
}

TEST(AboutAnimationTest, CreditsScrollBehindTheSceneAndTheHeadZooms) {
  Bitmap32 scene = Solid(244, 157, 0x404040);
  for (int y = 0; y < 157; ++y)
    for (int x = 50; x < 150; ++x) scene.Row(y)[x] = 0;  // the screen in the picture
  Bitmap32 credits = Solid(138, 537, 0);
  credits.Row(10)[20] = 0xFFFFFF;
  Bitmap32 head = Solid(62, 71, kDodonKey);
  for (int y = 20; y < 50; ++y)
    for (int x = 20; x < 40; ++x) head.Row(y)[x] = 0xFF00FF;
  AboutAnimation a(&scene, &credits, &head);
  Bitmap32 out;
  a.Step(out);
  EXPECT_EQ(out.Row(10)[65], 0xFFFFFFu);  // credits at 45 + 20
  EXPECT_EQ(out.Row(0)[10], 0x404040u);   // the scene covers them outside its black area
  a.Step(out);
  EXPECT_EQ(out.Row(9)[65], 0xFFFFFFu);  // one row up per step
  a.ScrollOffset = 536;
  a.Step(out);
  EXPECT_EQ(a.ScrollOffset, 0);
  // Zoom 0.2: 12 x 14 at 187 - 6, 55 - 10; the flat background is transparent.
  EXPECT_EQ(out.Row(45)[181], 0x404040u);
  EXPECT_EQ(out.Row(45 + 7)[181 + 5], 0xFF00FFu);
  for (int i = 0; i < 100; ++i) a.Zoom(true);
  EXPECT_GT(a.ZoomFactor, 1.3);
  EXPECT_LT(a.ZoomFactor, 1.33);
  for (int i = 0; i < 100; ++i) a.Zoom(false);
  EXPECT_LE(a.ZoomFactor, 0.2);
  EXPECT_GT(a.ZoomFactor, 0.17);
}

TEST(FolderTest, TypedFoldersBecomeAbsoluteWithoutTrailingSlash) {
  EXPECT_EQ(NormaliseFolder("data", "/home/u"), "/home/u/data");
  EXPECT_EQ(NormaliseFolder("data/", "/home/u"), "/home/u/data");
  EXPECT_EQ(NormaliseFolder("./a/../b//c/.", "/home/u"), "/home/u/b/c");
  EXPECT_EQ(NormaliseFolder("../..", "/home/u"), "/");
  EXPECT_EQ(NormaliseFolder("/../../x", "/home/u"), "/x");
  EXPECT_EQ(NormaliseFolder("/srv/data///", "/home/u"), "/srv/data");
  EXPECT_EQ(NormaliseFolder("/", "/home/u"), "/");
  EXPECT_EQ(NormaliseFolder("", "/home/u"), "/");
  EXPECT_EQ(NormaliseFolder("日本語/..データ", "/tmp"), "/tmp/日本語/..データ");
}

TEST(FolderTest, ShortenPathCutsLeadingFoldersUntilItFits) {
  auto chars = [](const std::string& s) { return static_cast<int>(s.size()); };
  const std::string p = "/home/user/Velnori";
  EXPECT_EQ(ShortenPath(p, 18, chars), p);  // fits
  EXPECT_EQ(ShortenPath(p, 17, chars), "/.../user/Velnori");
  EXPECT_EQ(ShortenPath(p, 16, chars), "/.../Velnori");
  EXPECT_EQ(ShortenPath(p, 11, chars), ".../Velnori");
  EXPECT_EQ(ShortenPath(p, 10, chars), "Velnori");
  EXPECT_EQ(ShortenPath(p, 1, chars), "Velnori");  // the last name is never cut
  EXPECT_EQ(ShortenPath("/usr/share/Velnori", 17, chars), "/.../Velnori");
  EXPECT_EQ(ShortenPath("/Velnori", 2, chars), "Velnori");
  EXPECT_EQ(ShortenPath("/", 0, chars), "");
  EXPECT_EQ(ShortenPath("Velnori", 0, chars), "Velnori");
  // A hidden folder is cut as a whole like any other; only a "..." left by a cut is skipped.
  EXPECT_EQ(ShortenPath("/home/.x/y/data", 13, chars), "/.../y/data");
}

TEST(DialogStateTest, SignatureAlternatesAndTheTwentiethClickReveals) {
  SignatureClicks s;
  bool group = false;
  std::vector<bool> lines;
  for (int click = 1; click <= 19; ++click) {
    EXPECT_FALSE(s.Click(&group)) << click;
    lines.push_back(group);
  }
  EXPECT_TRUE(lines[0]);   // the first click shows the group's line
  EXPECT_FALSE(lines[1]);  // then the maker's
  EXPECT_TRUE(lines[18]);
  EXPECT_TRUE(s.Click(&group));  // the 20th
  EXPECT_FALSE(group);
  EXPECT_FALSE(s.Click(&group));
  EXPECT_TRUE(group);
}

TEST(DialogStateTest, HelpButtonSlidesOutInFoursAndBackInTwentyFours) {
  HelpSlide h;
  int top = HelpSlide::kHiddenTop;
  EXPECT_EQ(h.Tick(top, 1), top);  // inactive
  h.Start();
  std::vector<int> tops;
  for (int tick = 0; tick < 30; ++tick) tops.push_back(top = h.Tick(top, 1));
  EXPECT_EQ(tops[0], 180);
  EXPECT_EQ(tops[1], 184);
  EXPECT_EQ(tops[3], 188);
  EXPECT_EQ(tops[21], 224);
  EXPECT_EQ(tops[29], 224);
  h.PointerReached();
  top = h.Tick(top, 1);
  top = h.Tick(top, 1);
  EXPECT_EQ(top, 200);
  top = h.Tick(h.Tick(top, 1), 1);
  EXPECT_EQ(top, 176);
  top = h.Tick(h.Tick(top, 1), 1);
  EXPECT_EQ(top, 176);
  EXPECT_FALSE(h.Active);
  EXPECT_FALSE(h.Up);
  h.PointerReached();  // an inactive slide ignores the pointer
  EXPECT_FALSE(h.Up);
}

TEST(DialogStateTest, TimerPeriodsAndTheVariantDraw) {
  EXPECT_EQ(PreviewPeriod(33), 30);
  EXPECT_EQ(SamplePeriod(33), 60);
  EXPECT_EQ(SlidePeriod(33), 1);
  EXPECT_EQ(PreviewPeriod(0), 0);
  TickDivider d;
  int fired = 0;
  for (int i = 0; i < 62; ++i) fired += d.Tick(30);
  EXPECT_EQ(fired, 2);  // every 31st tick
  EXPECT_EQ(VariantOf(0), 0);
  EXPECT_EQ(VariantOf(1), 0);
  EXPECT_EQ(VariantOf(2), 1);
  EXPECT_EQ(VariantOf(7), 1);
}

TEST(DialogStateTest, UncheckedRowsBecomeTheExclusionList) {
  CMainCtl s;
  s.NoExeAdd(99);
  ApplyScriptList(s, {11, 22, 33, 44}, {true, false, true, false});
  EXPECT_EQ(s.NoExeAt(0), 22);
  EXPECT_EQ(s.NoExeAt(1), 44);
  EXPECT_EQ(s.NoExeAt(2), 0);
  EXPECT_FALSE(s.NoExeContains(99));
  std::vector<std::int32_t> ids;
  for (int i = 1; i <= 70; ++i) ids.push_back(i);
  ApplyScriptList(s, ids, std::vector<bool>(70, false));
  EXPECT_EQ(s.NoExeAt(63), 64);  // the 65th and later are not remembered
}

}  // namespace
