// Several monitors on a real X server: Xvfb with one wide screen split into RandR monitors, which
// Qt sees as separate screens. The real program in a full-screen mode plays on the primary
// monitor and blacks out the other one; a monitor that mirrors the show's gets no cover. Each
// layout is made by the parent test, which runs the ScreensOnX11 case for it in a child.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/DisplayGeometry.h"
#include "tests/shell/ShellTestApp.h"
#include "tests/shell/TestProgram.h"

namespace {

constexpr QRgb kShowColour = 0xFF0000;     // the show's SOLID colour
constexpr QRgb kDesktopColour = 0xFF00FF;  // what the test puts on every monitor first
// Most of the 640 x 272 stage, so stray pixels in the colour cannot pass for the show.
constexpr int kStagePixels = 640 * 272 * 9 / 10;

bool IsChild() {
  return qEnvironmentVariableIsSet("ONDRELIX_SCREENS_CHILD");
}

QImage Grab(QScreen* s) {
  return s->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// Keeps what every monitor shows where ONDRELIX_SHOT_DIR names a folder, to look at.
void KeepScreens() {
  const QString dir = qEnvironmentVariable("ONDRELIX_SHOT_DIR");
  if (dir.isEmpty()) return;
  const QString test =
      QString::fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name());
  for (QScreen* s : QGuiApplication::screens())
    Grab(s).save(dir + "/" + test + "-" + s->name() + ".png");
}

int Count(const QImage& img, QRgb rgb) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < img.width(); ++x) n += (row[x] & 0xFFFFFF) == rgb;
  }
  return n;
}

int Pixels(const QImage& img) {
  return img.width() * img.height();
}

class ScreensOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsChild()) GTEST_SKIP() << "runs on the monitors ScreensXvfb sets up";
    shelltest::App();
    screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2) << "Qt does not see the two monitors";
    ASSERT_TRUE(shelltest::StoreSettingsWithoutLogo(home));
    ASSERT_NE(data.Write("script_one.txt",
                         "<DATA TITLE=\"Screens\" VERSION=\"1.10\">\n<SOLID COLOR=RED>\n"
                         "<IMAGE STRING=\"x\" TIME=60>\n</IMAGE>\n</DATA>\n"),
              "");
    // A coloured desktop on every monitor, so that black on one is the saver's doing.
    for (QScreen* s : screens) {
      auto w = std::make_unique<QWidget>();
      w->setWindowFlags(Qt::FramelessWindowHint);
      w->setStyleSheet(QStringLiteral("background: #ff00ff"));
      w->setScreen(s);
      w->setGeometry(s->geometry());
      w->show();
      desktops.push_back(std::move(w));
    }
    ASSERT_TRUE(shelltest::SpinUntil(
        [&] {
          for (QScreen* s : screens)
            if (!Desktop(s)) return false;
          return true;
        },
        5000));
  }

  static bool Desktop(QScreen* s) {
    const QImage shot = Grab(s);
    return Count(shot, kDesktopColour) >= Pixels(shot) * 9 / 10;
  }

  // Plays in display `mode` until the show is on `show`'s monitor, and checks the other one:
  // black, or (a mirror) showing the show too.
  void PlayAndCheck(int mode, QScreen* show, QScreen* other, bool mirror) {
    ASSERT_TRUE(program.Start(
        {"/s", "--mode", std::to_string(mode), "--data", data.path()},
        {"XDG_CONFIG_HOME=" + home.path(), "XDG_RUNTIME_DIR=" + home.path(), "HOME=" + home.path()},
        {"DBUS_SESSION_BUS_ADDRESS"}));
    // A sanitizer build on a loaded machine takes a few seconds to start.
    ASSERT_TRUE(
        shelltest::SpinUntil([&] { return Count(Grab(show), kShowColour) >= kStagePixels; }, 15000))
        << "the show never reached " << show->name().toStdString();
    shelltest::Spin(300);
    KeepScreens();
    const QImage shot = Grab(other);
    if (mirror) {
      EXPECT_GE(Count(shot, kShowColour), kStagePixels) << "the mirror does not show the show";
    } else {
      EXPECT_EQ(Count(shot, 0), Pixels(shot)) << "the other monitor is not black";
    }

    int status = 0;
    EXPECT_GE(program.Stop(&status), 0) << "still running after SIGTERM";
    EXPECT_EQ(shelltest::Ended(status), "exit code 0");
    // The black was the saver's: the desktop comes back with it gone.
    EXPECT_TRUE(shelltest::SpinUntil([&] { return Desktop(other); }, 3000))
        << "the cover outlived the saver";
  }

  QList<QScreen*> screens;
  std::vector<std::unique_ptr<QWidget>> desktops;
  TempFolder home, data;
  shelltest::TestProgram program;
};

TEST_F(ScreensOnX11, CentredOnThePrimaryTheOtherMonitorGoesBlack) {
  QScreen* primary = QGuiApplication::primaryScreen();
  ASSERT_EQ(primary->geometry(), QRect(0, 0, 1024, 768));
  PlayAndCheck(kDisplayCentred, primary, screens[0] == primary ? screens[1] : screens[0], false);
}

TEST_F(ScreensOnX11, StretchedOnAPrimaryToTheRight) {
  QScreen* primary = QGuiApplication::primaryScreen();
  ASSERT_EQ(primary->geometry(), QRect(1024, 0, 800, 600));
  PlayAndCheck(kDisplayStretched, primary, screens[0] == primary ? screens[1] : screens[0], false);
}

TEST_F(ScreensOnX11, AMirrorOfTheShowsMonitorGetsNoCover) {
  ASSERT_EQ(screens[0]->geometry(), screens[1]->geometry());
  QScreen* primary = QGuiApplication::primaryScreen();
  // Both monitors show the same pixels: a cover over the mirror would hide the show.
  PlayAndCheck(kDisplayCentred, primary, screens[0] == primary ? screens[1] : screens[0], true);
}

// Two X screens of one server are two desktops side by side even where their places are the
// same, so neither is a mirror of the other.
TEST_F(ScreensOnX11, AnotherXScreenOfTheSameSizeGoesBlack) {
  ASSERT_EQ(screens[0]->geometry(), screens[1]->geometry());
  ASSERT_FALSE(screens[0]->virtualSiblings().contains(screens[1]));
  QScreen* primary = QGuiApplication::primaryScreen();
  PlayAndCheck(kDisplayCentred, primary, screens[0] == primary ? screens[1] : screens[0], false);
}

// Starts Xvfb with `screens` (its -screen options), makes monitors with `monitors` (xrandr
// commands) and runs the child case `name` on them.
void RunOnMonitors(const std::string& monitors, const std::string& name,
                   const std::string& screens = "-screen 0 1824x768x24") {
  if (IsChild()) GTEST_SKIP() << "this is the child";
  if (std::system("command -v Xvfb >/dev/null && command -v xrandr >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb or xrandr is not installed";
  if (::access(shelltest::ProgramPath(), X_OK) != 0) GTEST_SKIP() << "ondrelix is not built";
  // -noreset: monitors are server state, and a server that resets when its last client goes
  // forgets them between the xrandr calls.
  const std::string body = monitors +
                           "\nONDRELIX_SCREENS_CHILD=1 \"$1\" --gtest_filter=ScreensOnX11." + name +
                           " >$d/log 2>&1";
  EXPECT_EQ(shelltest::RunOnXvfb(screens + " -noreset", body), 0);
}

// The output's own monitor is replaced by the left one; the right one has no output of its own.
const char kSideBySide[] =
    "xrandr --setmonitor L 1024/260x768/195+0+0 screen >/dev/null\n"
    "xrandr --setmonitor R 800/203x600/152+1024+0 none\n";

TEST(ScreensXvfb, PrimaryLeftOtherRight) {
  RunOnMonitors(kSideBySide, "CentredOnThePrimaryTheOtherMonitorGoesBlack");
}

TEST(ScreensXvfb, PrimaryRight) {
  RunOnMonitors(
      "xrandr --setmonitor L 1024/260x768/195+0+0 screen >/dev/null\n"
      "xrandr --setmonitor '*R' 800/203x600/152+1024+0 none\n",
      "StretchedOnAPrimaryToTheRight");
}

TEST(ScreensXvfb, Mirrored) {
  RunOnMonitors(
      "xrandr --setmonitor L 1024/260x768/195+0+0 screen >/dev/null\n"
      "xrandr --setmonitor M 1024/260x768/195+0+0 none\n",
      "AMirrorOfTheShowsMonitorGetsNoCover");
}

TEST(ScreensXvfb, TwoXScreens) {
  RunOnMonitors("", "AnotherXScreenOfTheSameSizeGoesBlack",
                "-screen 0 1024x768x24 -screen 1 1024x768x24");
}

}  // namespace
