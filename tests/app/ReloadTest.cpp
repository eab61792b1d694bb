// Playing a show again after its file changed: compiled afresh, from its first tick, with the play
// order left where it stands.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/CPlayback.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string Show(const char* title, const char* colour) {
  return std::string("<DATA TITLE=\"") + title + "\" VERSION=\"1.1\"><SOLID COLOR=\"" + colour +
         "\"><IMAGE STRING=\"x\" TIME=\"20\"></DATA>";
}

struct ReloadFixture : ::testing::Test {
  ReloadFixture() {
    std::ofstream(dir + "/script_a.txt") << Show("a", "WHITE");
    std::ofstream(dir + "/script_b.txt") << Show("b", "WHITE");
    objects = std::make_unique<SaverObjects>(&device, [&](CMainCtl& s) {
      s.SetStorePath("/dev/null/no-store.reg");
      s.Load();
      s.SetDspMode(kDisplayWindow);
      s.SetCurPath(dir);
      s.LoadedPath = dir;
    });
  }

  void Run(CPlayback& pb, std::int32_t until) {
    for (std::int32_t t = pb.NextDeadline(now); t <= until; t = pb.NextDeadline(now)) {
      now = t;
      pb.Pass(t);
    }
  }
  std::uint32_t Pixel() const { return objects->Window->Picture().Row(200)[10]; }

  TempFolder temp_;
  std::string dir = temp_.path();
  SilentMediaDevice device;
  std::unique_ptr<SaverObjects> objects;
  std::int32_t now = 0;
};

TEST_F(ReloadFixture, AnEditedShowPlaysAgainFromItsStartInThePlayOrderPosition) {
  ASSERT_TRUE(objects->Layout(1024, 768));
  objects->PrepareShows(5);
  ASSERT_EQ(objects->TimeLine->PlayableCount, 2);
  CPlayback& pb = objects->Playback();
  pb.Begin(/*noLogo=*/true, false);
  Run(pb, 500 + 1000 + 200 * 33);
  ASSERT_EQ(pb.PlayState, kScriptPlaying);
  ASSERT_GT(pb.TickNo, 150);
  const std::string path(pb.ShowPath());
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.rfind(dir + "/script_", 0), 0u);
  EXPECT_EQ(Pixel(), 0xFFFFFFu);
  const int orderPos = objects->TimeLine->OrderPos;

  std::ofstream(path, std::ios::trunc) << Show("edited", "RED");
  ASSERT_EQ(pb.RestartShow(), 0);
  EXPECT_EQ(pb.PlayState, kWaiting);
  EXPECT_EQ(pb.NextState, kScriptPlaying);
  EXPECT_EQ(Pixel(), 0u);  // cleared as at the end of a show
  const std::int32_t restarted = now;
  // The show from tick 0 at once, without the pauses before a show: the edit is what plays.
  Run(pb, restarted + 5 * 33);
  EXPECT_EQ(pb.PlayState, kScriptPlaying);
  EXPECT_LE(pb.TickNo, 6);
  EXPECT_EQ(Pixel(), 0xFF0000u);
  EXPECT_EQ(pb.ShowPath(), path);
  EXPECT_EQ(objects->TimeLine->OrderPos, orderPos);
}

TEST_F(ReloadFixture, AnEditThatMovesTheShowsTagIsReadFromItsNewPlace) {
  // Both shows in one file, each after a note; the notes are deleted while one plays, which
  // moves both tags towards the start.
  fs::remove(dir + "/script_b.txt");
  const std::string note(300, ' ');
  std::ofstream(dir + "/script_a.txt", std::ios::trunc)
      << note << Show("a", "WHITE") << note << Show("b", "WHITE");
  ASSERT_TRUE(objects->Layout(1024, 768));
  objects->PrepareShows(5);
  ASSERT_EQ(objects->TimeLine->PlayableCount, 2);
  CPlayback& pb = objects->Playback();
  pb.Begin(/*noLogo=*/true, false);
  Run(pb, 500 + 1000 + 10 * 33);
  ASSERT_EQ(pb.PlayState, kScriptPlaying);
  const int playing = objects->TimeLine->PlayOrder[0];
  const std::string title = objects->TimeLine->Catalogue[playing]->Title;

  std::ofstream(dir + "/script_a.txt", std::ios::trunc)
      << Show("a", title == "a" ? "RED" : "WHITE") << Show("b", title == "b" ? "RED" : "WHITE");
  ASSERT_EQ(pb.RestartShow(), 0);
  Run(pb, now + 5 * 33);
  EXPECT_EQ(pb.PlayState, kScriptPlaying);
  EXPECT_EQ(Pixel(), 0xFF0000u);
  EXPECT_EQ(objects->TimeLine->Catalogue[playing]->Title, title);
}

TEST_F(ReloadFixture, NothingRestartsWhenNoShowIsOn) {
  ASSERT_TRUE(objects->Layout(1024, 768));
  objects->PrepareShows(5);
  CPlayback& pb = objects->Playback();
  pb.Begin(/*noLogo=*/false, false);  // the logo comes first
  Run(pb, 100);
  EXPECT_TRUE(pb.ShowPath().empty());
  const int state = pb.PlayState;
  EXPECT_EQ(pb.RestartShow(), -1);
  EXPECT_EQ(pb.PlayState, state);
}

TEST_F(ReloadFixture, AShowWhoseFileVanishedEndsAsABrokenShowWould) {
  ASSERT_TRUE(objects->Layout(1024, 768));
  objects->PrepareShows(5);
  CPlayback& pb = objects->Playback();
  pb.Begin(/*noLogo=*/true, false);
  Run(pb, 500 + 1000 + 10 * 33);
  ASSERT_EQ(pb.PlayState, kScriptPlaying);
  fs::remove(pb.ShowPath());
  ASSERT_EQ(pb.RestartShow(), 0);
  EXPECT_EQ(pb.NextState, kScriptEnded);
  Run(pb, now + kWaitNoLogoMs + 3000);  // and the next show follows
  EXPECT_NE(pb.PlayState, kScriptEnded);
}

}  // namespace
