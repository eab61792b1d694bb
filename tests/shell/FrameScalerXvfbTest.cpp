// The X server's stretch of full-screen frames against our own, pixel for pixel, on a real Xvfb
// with RENDER: modes 2 and 3 at the screen sizes that matter, whole frames and changed parts,
// and the fall-back to our stretch on a server without RENDER. The test starts the servers and
// runs the FrameScalerChild cases of this same program on them.
#include <gtest/gtest.h>

#include <QWidget>
#include <cstdlib>
#include <memory>

#include "app/CPlayback.h"
#include "app/DisplayGeometry.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "render/PixelOps.h"
#include "shell/app/QtFrameScaler.h"
#include "shell/app/TSaverWin.h"
#include "shell/platform/QtShmResource.h"
#include "shell/platform/QtXcb.h"
#include "tests/shell/ShellTestApp.h"
#include "tests/shell/TestProgram.h"

namespace {

bool IsChild() {
  return qEnvironmentVariableIsSet("ONDRELIX_SCALER_CHILD");
}

TEST(FrameScalerXvfb, ChildCasesPassOnRealXServers) {
  if (IsChild()) GTEST_SKIP() << "this is the child";
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  const char* exact =
      R"(ONDRELIX_SCALER_CHILD=1 "$1" --gtest_filter='FrameScalerChild.*' >$d/log 2>&1)";
  EXPECT_EQ(shelltest::RunOnXvfb("-screen 0 3840x2160x24", exact), 0);
  const char* without =
      R"(ONDRELIX_SCALER_CHILD=1 "$1" --gtest_filter='NoRenderChild.*' >$d/log 2>&1)";
  EXPECT_EQ(shelltest::RunOnXvfb("-screen 0 1280x1024x24 -extension RENDER", without), 0);
}

// A window over the whole screen, whose pixels the test reads back.
class FrameScalerChild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsChild()) GTEST_SKIP() << "runs on the Xvfb server the parent test starts";
    shelltest::App();
    shm = QtShmResource::Open();
    ASSERT_NE(shm, nullptr);
    window = std::make_unique<QWidget>();
    window->setAttribute(Qt::WA_NativeWindow);
    window->setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    window->setGeometry(0, 0, 3840, 2160);
    window->setStyleSheet(QStringLiteral("background: #000000"));
    window->show();
    ASSERT_TRUE(shelltest::SpinUntil([&] { return window->isVisible(); }, 3000));
    shelltest::Spin(200);
  }

  // The window's pixels in `r`.
  Bitmap32 Read(const RectXYWH& r) {
    Bitmap32 out;
    out.Create(r.width, r.height);
    EXPECT_TRUE(XcbReadPixels(static_cast<xcb_window_t>(window->winId()), r.x, r.y, r.width,
                              r.height, out.pixels.data()));
    for (std::uint32_t& p : out.pixels) p &= 0xFFFFFF;
    return out;
  }

  std::unique_ptr<QtShmResource> shm;
  std::unique_ptr<QWidget> window;
};

// For each screen size and both full-screen modes: a random frame, then frames changed in a few
// random rectangles, each sent as its parts; the window shows exactly our stretch of the frame
// every time.
TEST_F(FrameScalerChild, ServerStretchEqualsOursAtEveryScreenSize) {
  std::uint32_t seed = 2160;
  auto below = [&](int n) {
    return static_cast<int>(((seed = seed * 1103515245u + 12345u) >> 8) % static_cast<unsigned>(n));
  };
  const QSize sizes[] = {{1280, 1024}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
  for (const QSize& screen : sizes)
    for (const int mode : {kDisplayStretched, kDisplayDoubled}) {
      const DisplayGeometry g = ComputeDisplayGeometry(mode, screen.width(), screen.height(),
                                                       screen.width(), screen.height(), 69, 14);
      const RectXYWH src =
          mode == kDisplayDoubled ? g.SourceRect : RectXYWH{0, 0, kStageWidth, kStageHeight};
      const auto scaler =
          QtFrameScaler::Create(static_cast<xcb_window_t>(window->winId()), g.FrameRect, src, *shm);
      ASSERT_NE(scaler, nullptr) << "the server's stretch differs at " << screen.width() << "x"
                                 << screen.height() << " mode " << mode;
      StageBitmap frame;
      frame.Create(kStageWidth, kStageHeight);
      for (std::uint32_t& p : frame.pixels) p = static_cast<std::uint32_t>(below(1 << 24));
      for (int round = 0; round < 3; ++round) {
        if (round == 0) {
          ASSERT_TRUE(
              scaler->ScalePart(frame, g.FrameRect, src, {0, 0, kStageWidth, kStageHeight}));
        }
        for (int k = 0; round > 0 && k < 4; ++k) {
          const RectXYWH part{below(kStageWidth - 1), below(kStageHeight - 1), 1 + below(120),
                              1 + below(60)};
          FillRect(frame, part.x, part.y, part.width, part.height,
                   static_cast<std::uint32_t>(below(1 << 24)));
          ASSERT_TRUE(scaler->ScalePart(frame, g.FrameRect, src, part));
        }
        scaler->Send();
        scaler->Settle();
        Bitmap32 want;
        want.Create(g.FrameRect.width, g.FrameRect.height);
        StretchBlt(want, 0, 0, want.width, want.height, frame, src.x, src.y, src.width, src.height,
                   kStretchDrop);
        const Bitmap32 got = Read(g.FrameRect);
        int wrong = 0;
        for (std::size_t i = 0; i < want.pixels.size(); ++i)
          wrong += got.pixels[i] != want.pixels[i];
        ASSERT_EQ(wrong, 0) << "seed 2160, " << screen.width() << "x" << screen.height() << " mode "
                            << mode << " round " << round;
      }
      // Another geometry is not this scaler's: the surface stretches such frames itself.
      EXPECT_FALSE(scaler->ScalePart(frame, {0, 0, 100, 100}, src, {0, 0, 10, 10}));
    }
}

class NoRenderChild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsChild()) GTEST_SKIP() << "runs on the Xvfb server the parent test starts";
    shelltest::App();
  }
};

// Without RENDER there is no scaler, and the stretched mode stretches into the picture as before.
TEST_F(NoRenderChild, StretchedModeKeepsItsOwnStretch) {
  TempFolder store, data;
  data.Write("script_demo.txt", shelltest::DemoScript(30));
  SilentMediaDevice device;
  std::int32_t now = 1000;
  SaverWinOptions o;
  o.loadSettings = shelltest::Settings(store, kDisplayStretched, data.path());
  o.device = &device;
  o.clock = [&] { return now; };
  o.seed = 3;
  o.autoRun = false;
  TSaverWin w(o);
  w.show();
  ASSERT_TRUE(shelltest::SpinUntil([&] { return w.isVisible(); }, 3000));
  ASSERT_NE(w.PictureWindow(), nullptr);
  EXPECT_EQ(w.FrameScaler(), nullptr);
  const RectXYWH f = w.Objects().Geometry.FrameRect;
  for (const std::int32_t end = now + 20000; now < end; now = w.Playback().NextDeadline(now)) {
    w.RunPass();
    const std::uint32_t p = w.Objects().Window->Picture().Row(f.y + 4)[f.x + 4] & 0xFFFFFF;
    if (w.Playback().PlayState == kScriptPlaying && p == 0x191970) break;
  }
  EXPECT_EQ(w.Playback().PlayState, kScriptPlaying);
  EXPECT_FALSE(w.Objects().Window->ServerShowsFrame());
}

}  // namespace
