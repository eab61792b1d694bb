// Several monitors: which screens a full-screen saver covers in black, and the cover windows of a
// saver on the offscreen platform (which has one screen, so none).
#include <algorithm>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QRect>
#include <QScreen>
#include <memory>

#include "app/DisplayGeometry.h"
#include "app/MediaDevice.h"
#include "shell/app/TSaverWin.h"
#include "tests/shell/ShellTestApp.h"

namespace {

const QRect kLeft(0, 0, 1920, 1080);
const QRect kRight(1920, 0, 1280, 1024);
const QRect kAbove(0, -768, 1024, 768);

TEST(ScreensToCover, EveryScreenButTheShowsOne) {
  EXPECT_EQ(ScreensToCover({kLeft}, 0), QList<int>());
  EXPECT_EQ(ScreensToCover({kLeft, kRight}, 0), QList<int>({1}));
  EXPECT_EQ(ScreensToCover({kLeft, kRight, kAbove}, 1), QList<int>({0, 2}));
  // A show screen that is not in the list (gone since): every screen goes black.
  EXPECT_EQ(ScreensToCover({kLeft, kRight}, -1), QList<int>({0, 1}));
  EXPECT_EQ(ScreensToCover({}, 0), QList<int>());
}

TEST(ScreensToCover, MirroredAndEmptyScreensGetNoCover) {
  // A mirror of the show's screen would put a black window over the show.
  EXPECT_EQ(ScreensToCover({kLeft, kLeft, kRight}, 0), QList<int>({2}));
  EXPECT_EQ(ScreensToCover({kLeft, kRight, kRight}, 0), QList<int>({1}));
  EXPECT_EQ(ScreensToCover({kLeft, QRect(), kRight}, 0), QList<int>({2}));
}

class Covers : public ::testing::Test {
 protected:
  std::unique_ptr<TSaverWin> Make(int mode) {
    shelltest::App();
    SaverWinOptions o;
    o.loadSettings = shelltest::Settings(store, mode, data.path());
    o.device = &device;
    o.clock = [] { return 0; };
    o.autoRun = false;
    auto w = std::make_unique<TSaverWin>(o);
    w->ShowError = [](const QString&) {};
    return w;
  }
  TempFolder store;
  TempFolder data;
  SilentMediaDevice device;
};

TEST_F(Covers, OneCoverForEachOtherScreenInTheFullScreenModes) {
  const int others = std::max(0, static_cast<int>(QGuiApplication::screens().size()) - 1);
  for (int mode : {kDisplayCentred, kDisplayStretched, kDisplayDoubled}) {
    auto w = Make(mode);
    w->show();
    EXPECT_EQ(w->CoverCount(), others) << "mode " << mode;
    w->close();
    EXPECT_EQ(w->CoverCount(), 0);
  }
  auto w = Make(kDisplayWindow);
  w->show();
  EXPECT_EQ(w->CoverCount(), 0);
  w->close();
}

TEST_F(Covers, InputPassedOnFromACoverEndsTheSaver) {
  auto w = Make(kDisplayStretched);
  w->show();
  ASSERT_TRUE(w->isVisible());
  QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
  w->CoverInput(&key);
  EXPECT_FALSE(w->isVisible());
}

}  // namespace
