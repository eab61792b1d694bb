// Window mode on the offscreen platform with the real clock: saving the playing show's file
// restarts the show, and the edit is what plays next.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <memory>

#include "app/CPlayback.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "settings/CMainCtl.h"
#include "shell/app/QtShowWatcher.h"
#include "shell/app/TSaverWin.h"
#include "tests/shell/ShellTestApp.h"

namespace {

std::string Show(const char* colour) {
  return std::string("<DATA TITLE=\"Reload\" VERSION=\"1.10\">\n<SOLID COLOR=") + colour +
         ">\n<IMAGE STRING=\"x\" TIME=60>\n</IMAGE>\n</DATA>\n";
}

class HotReload : public ::testing::Test {
 protected:
  void SetUp() override {
    shelltest::App();
    data.Write("script_one.txt", Show("MIDNIGHTBLUE"));
  }

  std::unique_ptr<TSaverWin> Make(int mode) {
    SaverWinOptions o;
    o.loadSettings = shelltest::Settings(store, mode, data.path());
    o.device = &device;
    o.seed = 3;
    auto w = std::make_unique<TSaverWin>(o);
    w->ShowError = [](const QString&) {};
    return w;
  }
  static std::uint32_t FramePixel(TSaverWin& w) {
    const RectXYWH f = w.Objects().Geometry.FrameRect;
    return w.Objects().Window->Picture().Row(f.y + f.height / 8)[f.x + 4] & 0xFFFFFF;
  }

  TempFolder store;
  TempFolder data;
  SilentMediaDevice device;
};

TEST_F(HotReload, SavingThePlayingShowRestartsItWithTheEdit) {
  auto w = Make(kDisplayWindow);
  ASSERT_NE(w->ShowWatcher(), nullptr);
  w->show();
  ASSERT_TRUE(shelltest::SpinUntil([&] { return FramePixel(*w) == 0x191970u; }, 6000));
  const std::string path = data.File("script_one.txt");
  EXPECT_EQ(w->ShowWatcher()->Path().toStdString(), path);

  // Saved in place.
  std::ofstream(path, std::ios::trunc) << Show("RED");
  ASSERT_TRUE(shelltest::SpinUntil([&] { return FramePixel(*w) == 0xFF0000u; }, 3000));
  EXPECT_LT(w->Playback().TickNo, 40);  // played again from its beginning

  // Saved the way many editors do: a new file renamed over the old one. The watch follows.
  ASSERT_NE(data.Write("script_one.txt.new", Show("WHITE")), "");
  ASSERT_EQ(rename(data.File("script_one.txt.new").c_str(), path.c_str()), 0);
  ASSERT_TRUE(shelltest::SpinUntil([&] { return FramePixel(*w) == 0xFFFFFFu; }, 3000));
  EXPECT_LT(w->Playback().TickNo, 40);
  w->close();
}

TEST_F(HotReload, OnlyWindowModeWatches) {
  auto w = Make(kDisplayDoubled);
  EXPECT_EQ(w->ShowWatcher(), nullptr);
}

}  // namespace
