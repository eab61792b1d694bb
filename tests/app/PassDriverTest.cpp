// The pass rule the windows share: a pass at most once per millisecond, the delay to the next
// deadline, and the settings loader, seed and clock with their defaults.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/CPlayback.h"
#include "app/PassDriver.h"
#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// A script engine whose every script loads and holds no events: the show plays on, tick after
// tick.
class EmptyShows : public ShowEngine {
 public:
  int PeekEventKind(int) override { return 0; }
  CTimeDat* PopEvent() override { return nullptr; }
  void ResetTimeline() override {}
  int LoadNextScript() override { return 0; }
  void StartBuiltIn(const std::string&) override {}
};

TEST(PassDriver, RunsAPassAtMostOncePerMillisecondAndSleepsUntilTheNextDeadline) {
  CMainCtl settings;
  settings.SetStorePath("/dev/null/no-store.reg");
  EmptyShows engine;
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0);
  PlaybackParts parts;
  parts.settings = &settings;
  parts.engine = &engine;
  parts.stage = &stage;
  CPlayback playback(parts);
  playback.Begin(true, false);
  std::int32_t now = 1000;
  PassDriver driver(PassDriverOptions{nullptr, [&] { return now; }, 5});

  EXPECT_FALSE(driver.Due(now));  // nothing to drive yet
  driver.Drive(&playback);
  ASSERT_TRUE(driver.Due(now));
  EXPECT_EQ(driver.Delay(now), 0);
  driver.Pass(now);  // loads the script; its first tick comes after the wait
  EXPECT_EQ(playback.PlayState, kWaiting);
  EXPECT_EQ(driver.LastPass(), 1000);
  EXPECT_FALSE(driver.Due(now));
  // Right after a pass the timer sleeps until the deadline, not a millisecond at a time.
  EXPECT_EQ(driver.Delay(now), kWaitNoLogoMs);
  EXPECT_EQ(driver.NextDue(), 1000 + kWaitNoLogoMs);
  EXPECT_EQ(driver.Delay(1200), kWaitNoLogoMs - 200);
  EXPECT_EQ(driver.Delay(1600), 0);  // overdue: at once, never a negative delay

  now = 1500;
  driver.Pass(now);  // the wait is over: the first tick a second later
  driver.Pass(++now);
  EXPECT_EQ(playback.PlayState, kScriptPlaying);
  EXPECT_EQ(driver.NextDue(), 1500 + kFirstTickDelayMs);
  now = driver.NextDue();
  driver.Pass(now);
  EXPECT_EQ(playback.TickNo, 1);
  EXPECT_EQ(driver.NextDue(), now + kDefaultFrameInterval);
  EXPECT_EQ(driver.Delay(now), kDefaultFrameInterval);
  EXPECT_EQ(driver.Delay(now + 3), kDefaultFrameInterval - 3);

  // A new playback (the module window made its objects again) gets a pass at once.
  driver.Drive(&playback);
  EXPECT_TRUE(driver.Due(now));
  EXPECT_EQ(driver.Delay(now), 0);
}

TEST(PassDriver, SettingsSeedAndClockComeFromTheOptionsOrTheirDefaults) {
  TempFolder temp;
  const fs::path dir = temp.path();
  fs::create_directories(dir / "Velnori");
  std::ofstream(dir / "Velnori" / "Pralvex.reg")
      << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\n\"DspMode\"=dword:00000003\n";
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string kept = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  CMainCtl fromStore, given;
  if (old) {
    ::setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }

  const std::time_t before = std::time(nullptr);
  const PassDriver defaults;
  EXPECT_GE(defaults.Now(), 0);
  EXPECT_LT(defaults.Now(), 1000);  // counted from the driver's making
  EXPECT_GE(defaults.Seed(), static_cast<unsigned>(before));  // the time of day
  defaults.LoadSettings(fromStore);
  EXPECT_EQ(fromStore.GetDspMode(), 3);

  const PassDriver chosen(PassDriverOptions{[](CMainCtl& s) { s.SetDspMode(1); },
                                            [] { return 77; }, 9});
  EXPECT_EQ(chosen.Now(), 77);
  EXPECT_EQ(chosen.Seed(), 9u);
  chosen.LoadSettings(given);
  EXPECT_EQ(given.GetDspMode(), 1);
}

}  // namespace
