// Module mode: the command line and environment that choose it, and, on a real X server, the
// program playing inside a window this test makes, ending on SIGTERM with 0 within a second.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "app/EntryPoint.h"
#include "platform/Signals.h"
#include "shell/app/TModuleWin.h"
#include "tests/shell/ShellTestApp.h"
#include "tests/shell/TestProgram.h"

namespace {

TEST(ModuleCommandLine, RootAndWindowIdChooseModuleModeInEveryForm) {
  CommandLine cl = ParseCommandLine({"-root"});
  EXPECT_EQ(cl.mode, SaverMode::kModule);
  EXPECT_TRUE(cl.root);
  for (auto args : std::vector<std::vector<std::string>>{
           {"-window-id", "0x2a"}, {"--window-id", "42"}, {"--window-id=0X2A", "--data", "/d"}}) {
    cl = ParseCommandLine(args);
    EXPECT_EQ(cl.mode, SaverMode::kModule) << args[0];
    EXPECT_EQ(cl.windowId, 42u) << args[0];
    EXPECT_TRUE(cl.error.empty()) << cl.error;
  }
  for (const char* bad : {"", "0", "x1", "0x", "0x100000000", "4294967296", "12a", "-5"}) {
    cl = ParseCommandLine({"-window-id", bad});
    EXPECT_FALSE(cl.error.empty()) << bad;
  }
  EXPECT_FALSE(ParseCommandLine({"-window-id"}).error.empty());
}

TEST(ModuleCommandLine, ScreenSaverWindowVariableAppliesOnlyWithoutAnOwnSwitch) {
  CommandLine cl = ParseCommandLine({"-root"});
  ApplyScreenSaverWindow("0x1e00007\n", cl);
  EXPECT_EQ(cl.windowId, 0x1e00007u);
  cl = ParseCommandLine({});
  ApplyScreenSaverWindow("77", cl);
  EXPECT_EQ(cl.mode, SaverMode::kModule);
  EXPECT_EQ(cl.windowId, 77u);
  // An explicit switch or window wins over what the environment happens to hold.
  cl = ParseCommandLine({"/c"});
  ApplyScreenSaverWindow("77", cl);
  EXPECT_EQ(cl.mode, SaverMode::kConfig);
  cl = ParseCommandLine({"-window-id", "5"});
  ApplyScreenSaverWindow("77", cl);
  EXPECT_EQ(cl.windowId, 5u);
  cl = ParseCommandLine({"-root"});
  ApplyScreenSaverWindow("junk", cl);
  EXPECT_FALSE(cl.error.empty());
}

TEST(ModuleCommandLine, DisplayModeFillsTheWindowUnlessCentredFits) {
  EXPECT_EQ(ModuleDisplayMode(1, QSize(800, 600)), 1);
  EXPECT_EQ(ModuleDisplayMode(4, QSize(640, 480)), 1);
  EXPECT_EQ(ModuleDisplayMode(1, QSize(400, 300)), 2);  // centred would cut the picture
  for (int m : {0, 2, 3}) EXPECT_EQ(ModuleDisplayMode(m, QSize(1920, 1080)), 2) << m;
}

TEST(QuitSignals, SignalLandsInThePipeAndOnlyTheFirstArmsTheCutOff) {
  const int fd = InstallQuitSignals(5000);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(InstallQuitSignals(5000), fd);
  EXPECT_EQ(TakeQuitSignal(), 0);
  ::raise(SIGTERM);
  ::raise(SIGINT);
  EXPECT_EQ(TakeQuitSignal(), SIGINT);
  EXPECT_EQ(TakeQuitSignal(), 0);
  RemoveQuitSignals();  // also disarms the cut-off, or this test program would end
  EXPECT_EQ(TakeQuitSignal(), 0);
}

// ---- On a real X server ----

bool OnX11() {
  return qEnvironmentVariable("ONDRELIX_MODULE_CHILD") == QLatin1String("1");
}

// Starts the program in the window, takes a screenshot after `waitMs`, then ends it with
// SIGTERM. Returns the screenshot and the time the program took to end and its status.
struct ModuleRun {
  QImage shot;
  int endMs = -1;
  int status = -1;
};

// Starts the module on window `id`, takes screenshots until `ready` holds for one (or `waitMs`
// have passed: a sanitizer build on a loaded machine starts slowly), then ends it with SIGTERM.
ModuleRun PlayInWindow(WId id, const std::string& data, int waitMs,
                       const std::function<bool(const QImage&)>& ready = nullptr) {
  ModuleRun run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string idText = "0x" + QString::number(id, 16).toStdString();
    ::execl(ONDRELIX_BUILD_DIR "/ondrelix", "ondrelix", "-window-id", idText.c_str(), "--data",
            data.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string png = "/tmp/ondrelix-module-" + std::to_string(::getpid()) + ".png";
  const auto started = std::chrono::steady_clock::now();
  const int firstMs = ready ? std::min(waitMs, 2000) : waitMs;
  shelltest::Spin(firstMs);
  while (true) {
    if (std::system(
            ("import -window root " + shelltest::ShellQuote(png) + " 2>/dev/null").c_str()) == 0)
      run.shot = QImage(QString::fromStdString(png));
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
    if (!ready || run.shot.isNull() || ready(run.shot) || spent >= waitMs) break;
    shelltest::Spin(500);
  }
  if (const char* keep = std::getenv("ONDRELIX_MODULE_SHOTS"))
    std::system(("cp " + shelltest::ShellQuote(png) + " " + shelltest::ShellQuote(keep) + "/" +
                 std::to_string(waitMs) + ".png")
                    .c_str());
  std::remove(png.c_str());
  const auto t0 = std::chrono::steady_clock::now();
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 300; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      run.endMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - t0)
                                       .count());
      run.status = status;
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return run;
}

// Share of pixels in `r` that are not black.
double Lit(const QImage& img, QRect r) {
  int lit = 0, all = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x, ++all)
      if ((img.pixel(x, y) & 0xFFFFFF) > 0x101010) ++lit;
  return all ? static_cast<double>(lit) / all : 0.0;
}

class ModuleOnX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnX11()) GTEST_SKIP() << "runs in the Xvfb child of ModuleXvfb";
    shelltest::App();
  }
};

// The picture goes to the window from shared memory, or (ONDRELIX_NO_SHM, as on a server
// without MIT-SHM) in bands through the connection.
class ModuleOnX11Ways : public ModuleOnX11, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ModuleOnX11::SetUp();
    if (!GetParam()) qputenv("ONDRELIX_NO_SHM", "1");
  }
  void TearDown() override { qunsetenv("ONDRELIX_NO_SHM"); }
};

INSTANTIATE_TEST_SUITE_P(SharedOrNot, ModuleOnX11Ways, ::testing::Bool());

TEST_P(ModuleOnX11Ways, PlaysIntoTheWindowAndEndsOnSigtermWithZero) {
  TempFolder dir;
  // A white stage after the logo: the frame's band of the window turns from black to white.
  ASSERT_NE(dir.Write("script_white.txt",
                      "<DATA TITLE=\"white\" VERSION=1.10>\n"
                      "<SOLID COLOR=WHITE>\n"
                      "<IMAGE STRING=\"Ondrelix\" TIME=30 SIZE=200>\n"
                      "</IMAGE>\n</DATA>\n"),
            "");
  QWindow host;
  host.setGeometry(100, 100, 400, 300);
  host.show();
  shelltest::SpinUntil([&] { return host.isExposed(); }, 2000);
  const ModuleRun run = PlayInWindow(host.winId(), dir.path(), 30000, [](const QImage& shot) {
    return Lit(shot, QRect(100, 160, 400, 180)) > 0.03;
  });
  ASSERT_FALSE(run.shot.isNull()) << "no screenshot (imagemagick import)";
  // The saver's logo or the white stage, stretched into the window's frame band.
  EXPECT_GT(Lit(run.shot, QRect(100, 160, 400, 180)), 0.03) << "the show did not reach the window";
  EXPECT_LT(Lit(run.shot, QRect(600, 500, 100, 100)), 0.01) << "drawn outside the window";
  ASSERT_GE(run.endMs, 0) << "still running a few seconds after SIGTERM";
  EXPECT_LT(run.endMs, 1000);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
}

TEST_F(ModuleOnX11, SmallWindowShowsThePreviewAnimation) {
  QWindow host;
  host.setGeometry(50, 50, 140, 100);
  host.show();
  shelltest::SpinUntil([&] { return host.isExposed(); }, 2000);
  const ModuleRun run = PlayInWindow(host.winId(), "/nonexistent", 20000, [](const QImage& shot) {
    return Lit(shot, QRect(50, 50, 140, 100)) > 0.02;
  });
  ASSERT_FALSE(run.shot.isNull());
  EXPECT_GT(Lit(run.shot, QRect(50, 50, 140, 100)), 0.02) << "no figures in the small window";
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
}

TEST(ModuleXvfb, ChildCasesPassOnARealXServer) {
  if (OnX11()) GTEST_SKIP() << "this is the child";
  if (std::system("command -v Xvfb >/dev/null && command -v import >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb or imagemagick is not installed";
  EXPECT_EQ(shelltest::RunOnXvfb("-screen 0 800x600x24",
                                 "XDG_CONFIG_HOME=$d ONDRELIX_MODULE_CHILD=1 \"$1\" "
                                 "--gtest_filter='*ModuleOnX11*' >$d/log 2>&1"),
            0);
}

}  // namespace
