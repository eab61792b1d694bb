// Music and movie player over a fake device: movie sizes and placement, the music switch-off rule.
#include <gtest/gtest.h>

#include <cstring>

#include "app/CMPlayer.h"
#include "settings/CMainCtl.h"
#include "tests/app/FakeMedia.h"

namespace {

struct PlayerFixture : ::testing::Test {
  PlayerFixture() { settings.SetCurPath("/data"); }
  CMainCtl settings;
  FakeMediaDevice device;
  CMPlayer player{&settings, &device};

  std::vector<int> MovieAt(int w, int h, int cw = 640, int ch = 519) {
    device.videoWidth = w;
    device.videoHeight = h;
    EXPECT_EQ(player.PlayMovie("/data/Interval/m.avi", cw, ch), 0);
    return device.destination;
  }
};

CTimeBgm Bgm(int sw, const char* file) {
  CTimeBgm e;
  e.Switch = sw;
  std::strncpy(e.FileName, file, sizeof e.FileName - 1);
  return e;
}

TEST_F(PlayerFixture, MoviesAreNeverEnlargedAndShrinkToFit640x480KeepingTheAspect) {
  EXPECT_EQ(MovieAt(320, 240), (std::vector<int>{160, 139, 320, 240}));
  EXPECT_EQ(MovieAt(800, 600), (std::vector<int>{0, 19, 640, 480}));
  EXPECT_EQ(MovieAt(1280, 480), (std::vector<int>{0, 139, 640, 240}));
  EXPECT_EQ(MovieAt(480, 960), (std::vector<int>{200, 19, 240, 480}));
  EXPECT_EQ(MovieAt(640, 480, 1024, 768), (std::vector<int>{192, 144, 640, 480}));
  EXPECT_TRUE(device.display);
}

TEST_F(PlayerFixture, AMovieWithoutVideoOrThatCannotOpenIsAFailureAndLeavesTheDeviceClosed) {
  device.videoWidth = -1;
  EXPECT_EQ(player.PlayMovie("/data/Interval/audio-only.avi", 640, 519), -1);
  EXPECT_EQ(device.Count("play"), 0);
  EXPECT_FALSE(device.display);
  EXPECT_EQ(device.log.back(), "close");

  device.videoWidth = 320;
  device.failOpen = true;
  EXPECT_EQ(player.PlayMovie("/data/Interval/broken.avi", 640, 519), -1);
  device.failOpen = false;
  device.failPlay = true;
  EXPECT_EQ(player.PlayMovie("/data/Interval/m.avi", 640, 519), -1);
}

TEST_F(PlayerFixture, MovieEndIsSeenByPollingAndClosingTurnsTheDisplayOff) {
  device.moviePolls = 2;
  ASSERT_EQ(player.PlayMovie("/data/Interval/m.avi", 640, 519), 0);
  EXPECT_FALSE(player.MovieStopped());
  EXPECT_TRUE(player.MovieStopped());
  player.CloseMovie();
  EXPECT_FALSE(device.display);
  EXPECT_EQ(device.log.back(), "close");
}

TEST_F(PlayerFixture, AFailedAdvanceOpeningSwitchesMusicOffForTheRestOfTheRun) {
  device.failOpen = true;
  EXPECT_EQ(player.Preload("BGM\\MISSING.MID"), -1);
  EXPECT_EQ(player.Enabled, 0);
  EXPECT_EQ(player.MusicOpen, 0);
  device.failOpen = false;
  device.log.clear();
  // Later scripts with valid files stay silent.
  EXPECT_EQ(player.HandleBgm(Bgm(kBgmStart, "GOOD.WAV")), 0);
  EXPECT_EQ(player.HandleBgm(Bgm(kBgmStartPreloaded, "")), 0);
  EXPECT_TRUE(device.log.empty());
}

TEST_F(PlayerFixture, BgmSwitches) {
  ASSERT_EQ(player.Preload("song.mp3"), 0);
  EXPECT_EQ(player.MusicOpen, 1);
  EXPECT_EQ(device.opened, "/data/song.mp3");
  device.log.clear();
  EXPECT_EQ(player.HandleBgm(Bgm(kBgmStartPreloaded, "song.mp3")), 0);
  EXPECT_EQ(device.log, (std::vector<std::string>{"play"}));
  EXPECT_EQ(player.HandleBgm(Bgm(kBgmStop, "")), 0);
  EXPECT_EQ(player.HandleBgm(Bgm(kBgmStart, "other.wav")), 0);
  EXPECT_EQ(device.log, (std::vector<std::string>{"play", "stop", "open /data/other.wav", "play"}));
  EXPECT_EQ(player.HandleBgm(Bgm(2, "x.wav")), -1);
  EXPECT_EQ(player.HandleBgm(Bgm(0, "x.wav")), -1);

  device.log.clear();
  player.StopMusic();
  EXPECT_EQ(device.log, (std::vector<std::string>{"stop", "close"}));
  EXPECT_EQ(player.MusicOpen, 0);
  // Music started without an advance opening is closed too, without a stop.
  device.log.clear();
  player.StopMusic();
  EXPECT_EQ(device.log, (std::vector<std::string>{"close"}));
}

TEST_F(PlayerFixture, AStartWhoseFileCannotOpenActsLikeAFailedAdvanceOpening) {
  device.failOpen = true;
  EXPECT_EQ(player.HandleBgm(Bgm(kBgmStart, "GONE.WAV")), -1);
  EXPECT_EQ(player.Enabled, 0);
  EXPECT_EQ(device.Count("play"), 0);
}

}  // namespace
