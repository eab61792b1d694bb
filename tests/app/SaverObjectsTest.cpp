// The saver's objects put together: layout per display mode, the data-folder scan, and the real
// engine playing the notice and a script through the playback object.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/CPlayback.h"
#include "app/IntervalList.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"
#include "tests/app/ShowGenerator.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct SaverFixture : ::testing::Test {
  std::unique_ptr<SaverObjects> Make(int mode, bool warning = false) {
    auto o = std::make_unique<SaverObjects>(&device, [&](CMainCtl& s) {
      s.SetStorePath("/dev/null/no-store.reg");
      s.Load();
      s.SetDspMode(mode);
      s.SetFlgWarning(warning);
      s.SetCurPath(dir);
      s.LoadedPath = dir;
    });
    return o;
  }
  // Runs the playback on its own deadlines until `until`.
  void Run(CPlayback& pb, std::int32_t until) {
    for (std::int32_t t = pb.NextDeadline(now); t <= until; t = pb.NextDeadline(now)) {
      now = t;
      pb.Pass(t);
    }
  }
  static bool FrameHasInk(const WindowSurface& w) {
    for (int y = 102; y < 374; ++y)
      for (int x = 0; x < 640; ++x)
        if (w.Picture().Row(y)[x] != 0) return true;
    return false;
  }

  TempFolder temp_;
  std::string dir = temp_.path();
  SilentMediaDevice device;
  std::int32_t now = 0;
};

TEST_F(SaverFixture, LayoutGivesTheWindowPictureAndGeometryOfTheMode) {
  auto o = Make(kDisplayWindow, true);
  ASSERT_TRUE(o->Layout(1024, 768));
  EXPECT_EQ(o->Window->Width(), 640);
  EXPECT_EQ(o->Window->Height(), 519);
  EXPECT_EQ(o->Geometry.FrameRect, (RectXYWH{0, 102, 640, 272}));
  EXPECT_EQ(o->WarningBitmap->width, kWarningWidth);
  EXPECT_EQ(o->WarningBitmap->height, kWarningHeight);
  EXPECT_EQ(o->Geometry.WarningRect, (RectLTRB{886, 740, 955, 754}));
  EXPECT_EQ(o->Stage->width, kStageWidth);

  o = Make(kDisplayDoubled);
  ASSERT_TRUE(o->Layout(1024, 768));
  EXPECT_EQ(o->Window->Width(), 1024);
  EXPECT_EQ(o->Geometry.SourceRect, (RectXYWH{64, 0, 512, 272}));
  EXPECT_EQ(o->WarningBitmap->width, 1);  // the warning is off: one black pixel
}

TEST_F(SaverFixture, AnEmptyDataFolderShowsTheNotice) {
  fs::create_directories(dir + "/Interval");
  auto o = Make(kDisplayWindow);
  ASSERT_TRUE(o->Layout(1024, 768));
  o->PrepareShows(1);
  EXPECT_EQ(o->Settings->GetScriptStatus(), 2);
  EXPECT_EQ(o->Intervals->Count(), 0);
  CPlayback& pb = o->Playback();
  pb.Begin(/*noLogo=*/true, false);
  EXPECT_EQ(pb.PlayState, kStartIntro);
  Run(pb, 2000 + 1000 + 10 * 33);
  EXPECT_EQ(pb.PlayState, kIntroPlaying);
  EXPECT_TRUE(FrameHasInk(*o->Window));
}

TEST_F(SaverFixture, AScriptOfTheDataFolderPlaysAndTheNextFollows) {
  fs::create_directories(dir + "/deep/er");
  std::ofstream(dir + "/deep/er/script_one.txt")
      << "<DATA TITLE=\"one\" VERSION=\"1.1\"><SOLID COLOR=\"WHITE\">"
         "<IMAGE STRING=\"x\" TIME=\"1\"></DATA>";
  auto o = Make(kDisplayWindow);
  ASSERT_TRUE(o->Layout(1024, 768));
  o->PrepareShows(7);
  EXPECT_EQ(o->Settings->GetScriptStatus(), 0);
  ASSERT_EQ(o->TimeLine->PlayableCount, 1);
  CPlayback& pb = o->Playback();
  pb.Begin(true, false);
  Run(pb, 500 + 1000 + 10 * 33);
  EXPECT_EQ(pb.PlayState, kScriptPlaying);
  // The script's names are looked up in its own folder while it plays.
  EXPECT_EQ(o->Settings->GetCurPath().rfind(dir + "/deep/er", 0), 0u);
  EXPECT_EQ(o->Window->Picture().Row(200)[10], 0xFFFFFFu);
  Run(pb, 500 + 1000 + 31 * 33);
  EXPECT_EQ(pb.PlayState, kWaiting);  // ended at tick 30 and cleaned up
  EXPECT_EQ(o->Settings->GetCurPath(), dir);
  EXPECT_EQ(o->Window->Picture().Row(200)[10], 0u);
  Run(pb, 3600);
  EXPECT_EQ(pb.PlayState, kScriptPlaying);  // the same script again: it is the only one
}

TEST_F(SaverFixture, AnIntervalPictureIsShownFirstWithTheLogoOn) {
  fs::create_directories(dir + "/Interval");
  fs::copy_file(std::string(ONDRELIX_SOURCE_DIR) + "/resources/NOTFOUND.bmp",
                dir + "/Interval/Pic.bmp");
  std::ofstream(dir + "/script_one.txt")
      << "<DATA TITLE=\"one\" VERSION=\"1.1\"><IMAGE STRING=\"x\" TIME=\"1\"></DATA>";
  auto o = Make(kDisplayWindow);
  ASSERT_TRUE(o->Layout(1024, 768));
  o->PrepareShows(3);
  ASSERT_EQ(o->Intervals->Count(), 1);
  CPlayback& pb = o->Playback();
  pb.Begin(/*noLogo=*/false, false);
  EXPECT_EQ(pb.PlayState, kStartIntro);
  // The picture fades in from 1 s to 3 s of the item.
  Run(pb, 2001 + 1000 + 95 * 33);
  EXPECT_EQ(pb.PlayState, kIntroPlaying);
  EXPECT_TRUE(FrameHasInk(*o->Window));
}

// Show after show, nothing a show took stays behind: when it has ended, every decoded picture is
// given back and no image is left on the layer. A picture or lease kept across shows fails here
// at once, where a soak of the real saver would need hours to tell it from fragmentation.
TEST_F(SaverFixture, ShowAfterShowEveryPictureIsGivenBack) {
  WritePictureKit(dir);
  constexpr int kScripts = 3;
  for (int i = 0; i < kScripts; ++i) {
    std::ofstream(dir + "/script_g" + std::to_string(i) + ".txt")
        << ShowGenerator(static_cast<std::uint32_t>(40 + i)).Script();
  }
  auto o = Make(kDisplayWindow);
  ASSERT_TRUE(o->Layout(1024, 768));
  o->PrepareShows(5);
  ASSERT_EQ(o->TimeLine->PlayableCount, kScripts);
  CPlayback& pb = o->Playback();
  pb.Begin(/*noLogo=*/true, false);
  const PictureBudget& pictures = o->Settings->Pictures();
  int shows = 0;
  bool inShow = false;
  std::uint64_t mostHeld = 0;
  while (shows < 3 * kScripts) {
    now = pb.NextDeadline(now);
    pb.Pass(now);
    mostHeld = std::max(mostHeld, pictures.Held());
    if (pb.PlayState == kScriptPlaying) inShow = true;
    if (pb.PlayState != kWaiting || !inShow) continue;
    inShow = false;
    ++shows;
    EXPECT_EQ(pictures.Held(), 0u) << "bytes still held after show " << shows;
    EXPECT_EQ(o->ImageLayer->count, 0) << "images still live after show " << shows;
  }
  EXPECT_GT(mostHeld, 0u);  // the shows did decode pictures
}

}  // namespace
