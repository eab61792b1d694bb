// The mouse rule with real pointer events: the real program plays on Xvfb in each full-screen
// mode, over both ways its picture reaches the server (shared memory and the ordinary puts), and
// xdotool moves the X pointer. 30 pixels from where the pointer was keeps the saver; 31 ends it.
// The saver window's title is read from the server on the way.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdlib>
#include <string>

#include "tests/shell/ShellTestApp.h"
#include "tests/shell/TestProgram.h"

namespace {

constexpr QRgb kShowColour = 0xFF0000;
constexpr int kStartX = 640;  // the middle of the 1280 x 1024 screen: on the picture in every mode
constexpr int kStartY = 512;

bool IsChild() {
  return qEnvironmentVariableIsSet("ONDRELIX_MOUSE_CHILD");
}

bool MovePointer(int x, int y) {
  const std::string cmd = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y);
  return std::system(cmd.c_str()) == 0;
}

// The middle 600 x 240 of the screen lies on the stage in every mode; the show fills it with its
// colour but for the small text picture in the centre.
bool ShowOnScreen() {
  const QImage shot = QGuiApplication::primaryScreen()
                          ->grabWindow(0, kStartX - 300, kStartY - 120, 600, 240)
                          .toImage()
                          .convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < shot.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    for (int x = 0; x < shot.width(); ++x) n += (row[x] & 0xFFFFFF) == kShowColour;
  }
  return n >= 600 * 240 * 95 / 100;
}

struct MouseCase {
  int mode;
  bool shm;
};

class MouseOnX11 : public ::testing::TestWithParam<MouseCase> {
 protected:
  void SetUp() override {
    if (!IsChild()) GTEST_SKIP() << "runs on the Xvfb server MouseXvfb starts";
    shelltest::App();
    ASSERT_TRUE(shelltest::StoreSettingsWithoutLogo(home));
    ASSERT_NE(data.Write("script_one.txt",
                         "<DATA TITLE=\"Mouse\" VERSION=\"1.10\">\n<SOLID COLOR=RED>\n"
                         "<IMAGE STRING=\"x\" TIME=600>\n</IMAGE>\n</DATA>\n"),
              "");
  }

  TempFolder home, data;
  shelltest::TestProgram program;
};

TEST_P(MouseOnX11, ThirtyPixelsKeepTheSaverThirtyOneEndIt) {
  const MouseCase c = GetParam();
  ASSERT_TRUE(MovePointer(kStartX, kStartY));
  std::vector<std::string> env = {"XDG_CONFIG_HOME=" + home.path(),
                                  "XDG_RUNTIME_DIR=" + home.path(), "HOME=" + home.path()};
  if (!c.shm) env.push_back("ONDRELIX_NO_SHM=1");
  ASSERT_TRUE(program.Start({"/s", "--mode", std::to_string(c.mode), "--data", data.path()}, env,
                            {"DBUS_SESSION_BUS_ADDRESS"}, home.File("stderr")));
  // The saver waits a few seconds before its first show; a loaded machine adds to that.
  ASSERT_TRUE(shelltest::SpinUntil(ShowOnScreen, 45000)) << "the show never reached the screen";
  // The X server holds each window's title as its own text, with nothing added to it.
  EXPECT_EQ(std::system("xdotool search --name '^Ondrelix$' >/dev/null"), 0);
  EXPECT_NE(std::system("xdotool search --name 'Ondrelix.' >/dev/null"), 0);

  for (const QPoint d : {QPoint(30, 0), QPoint(30, 30), QPoint(-30, -30), QPoint(0, 30)}) {
    ASSERT_TRUE(MovePointer(kStartX + d.x(), kStartY + d.y()));
    shelltest::Spin(150);
    ASSERT_TRUE(program.Running()) << "a move to " << d.x() << ", " << d.y() << " ended it";
  }
  ASSERT_TRUE(MovePointer(kStartX, kStartY + 31));
  int status = -1;
  EXPECT_TRUE(program.Wait(&status, 3000)) << "a 31-pixel move did not end the saver";
  EXPECT_EQ(shelltest::Ended(status), "exit code 0");
}

INSTANTIATE_TEST_SUITE_P(ModesAndPaths, MouseOnX11,
                         ::testing::Values(MouseCase{0, true}, MouseCase{1, true},
                                           MouseCase{2, true}, MouseCase{3, true},
                                           MouseCase{0, false}, MouseCase{1, false},
                                           MouseCase{2, false}, MouseCase{3, false}),
                         [](const ::testing::TestParamInfo<MouseCase>& i) {
                           return "Mode" + std::to_string(i.param.mode) +
                                  (i.param.shm ? "Shm" : "NoShm");
                         });

TEST(MouseXvfb, ChildCasesPassWithRealPointerEvents) {
  if (IsChild()) GTEST_SKIP() << "this is the child";
  if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb or xdotool is not installed";
  if (::access(shelltest::ProgramPath(), X_OK) != 0) GTEST_SKIP() << "ondrelix is not built";
  EXPECT_EQ(shelltest::RunOnXvfb("-screen 0 1280x1024x24",
                                 "ONDRELIX_MOUSE_CHILD=1 \"$1\" --gtest_filter='ModesAndPaths/"
                                 "MouseOnX11.*' >$d/log 2>&1"),
            0);
}

}  // namespace
