// Hot reload as an author sees it: the real program plays a show in window mode on an X server,
// the show's file is saved with an edit, and the screen shows the edit shortly after. The test
// starts Xvfb and runs the HotReloadOnX11 cases of this same program on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/shell/ShellTestApp.h"
#include "tests/shell/TestProgram.h"

namespace {

using shelltest::Clock;
using shelltest::MsSince;

bool IsChild() {
  return qEnvironmentVariableIsSet("ONDRELIX_HOTRELOAD_CHILD");
}

// A show filling the stage with one colour for a minute; `before` is text above its DATA tag.
std::string Show(const std::string& colour, const std::string& before = {}) {
  return before + "<DATA TITLE=\"Reload\" VERSION=\"1.10\">\n<SOLID COLOR=" + colour +
         ">\n<IMAGE STRING=\"x\" TIME=60>\n</IMAGE>\n</DATA>\n";
}

QImage Screen() {
  return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
      QImage::Format_RGB32);
}

// Keeps a screenshot where ONDRELIX_SHOT_DIR names a folder, to look at.
void KeepScreen(const char* name) {
  const QString dir = qEnvironmentVariable("ONDRELIX_SHOT_DIR");
  if (!dir.isEmpty()) Screen().save(dir + "/" + name + ".png");
}

// Pixels of the whole screen that have exactly colour `rgb`.
int CountColour(QRgb rgb) {
  const QImage shot = Screen();
  int n = 0;
  for (int y = 0; y < shot.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    for (int x = 0; x < shot.width(); ++x) n += (row[x] & 0xFFFFFF) == rgb;
  }
  return n;
}

// Polls the screen until `done` holds or `ms` have passed; the time it took, or -1.
template <typename Done>
int PollScreen(int ms, Done done) {
  const Clock::time_point t = Clock::now();
  while (MsSince(t) < shelltest::Patient(ms)) {
    if (done()) return MsSince(t);
    shelltest::Spin(20);
  }
  return done() ? MsSince(t) : -1;
}

class HotReloadOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsChild()) GTEST_SKIP() << "runs on the Xvfb server HotReloadXvfb starts";
    shelltest::App();
    // No logo before the show: it would only make the wait longer.
    ASSERT_TRUE(shelltest::StoreSettingsWithoutLogo(config));
  }
  bool StartWindowMode() {
    return program.Start({"/s", "--mode", "4", "--data", data.path()},
                         {"XDG_CONFIG_HOME=" + config.path(), "XDG_RUNTIME_DIR=" + config.path(),
                          "HOME=" + config.path()},
                         {"DBUS_SESSION_BUS_ADDRESS"});
  }

  // Most of the 640 x 272 stage, so a text picture or a panel in the colour cannot pass for it.
  static constexpr int kStagePixels = 640 * 272 * 9 / 10;
  TempFolder config, data;
  shelltest::TestProgram program;
};

TEST_F(HotReloadOnX11, SavingThePlayingShowPutsTheEditOnTheScreen) {
  ASSERT_NE(data.Write("script_one.txt", Show("MIDNIGHTBLUE")), "");
  const Clock::time_point started = Clock::now();
  ASSERT_TRUE(StartWindowMode());
  // A sanitizer build on a loaded machine takes a few seconds to start.
  const int shown = PollScreen(15000, [] { return CountColour(0x191970) >= kStagePixels; });
  ASSERT_GE(shown, 0) << "the show never reached the screen";
  std::printf("first picture %d ms after the start\n", MsSince(started));
  KeepScreen("hotreload-before");
  shelltest::Spin(300);  // the watch is set when the show starts; give it a moment

  // Saved in place, with a line added above the DATA tag, which moves the tag.
  ASSERT_NE(data.Write("script_one.txt", Show("RED", "Reloaded with a note above the show\n")), "");
  const Clock::time_point saved = Clock::now();
  const int cleared = PollScreen(5000, [] { return CountColour(0x191970) < kStagePixels; });
  const int edited = PollScreen(8000, [] { return CountColour(0xFF0000) >= kStagePixels; });
  std::printf("after the save: old picture gone in %d ms, the edit on the screen in %d ms\n",
              cleared, edited >= 0 ? MsSince(saved) : -1);
  EXPECT_GE(cleared, 0) << "the show did not restart";
  ASSERT_GE(edited, 0) << "the edit never reached the screen";
  KeepScreen("hotreload-after");
  EXPECT_TRUE(program.Running());

  int status = 0;
  EXPECT_GE(program.Stop(&status), 0) << "still running after SIGTERM";
  EXPECT_EQ(shelltest::Ended(status), "exit code 0");
}

TEST(HotReloadXvfb, ChildCasesPassOnARealXServer) {
  if (IsChild()) GTEST_SKIP() << "this is the child";
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  if (::access(shelltest::ProgramPath(), X_OK) != 0) GTEST_SKIP() << "ondrelix is not built";
  EXPECT_EQ(
      shelltest::RunOnXvfb("-screen 0 1024x768x24",
                           "ONDRELIX_HOTRELOAD_CHILD=1 \"$1\" --gtest_filter='HotReloadOnX11.*' "
                           ">$d/log 2>&1"),
      0);
}

}  // namespace
