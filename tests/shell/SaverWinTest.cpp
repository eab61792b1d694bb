// The saver window on the offscreen platform: input rules, the resize rule, the control panel,
// the display modes on the window's screen and the picture it paints.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QVideoWidget>
#include <algorithm>
#include <fstream>
#include <memory>

#include "app/CPlayback.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "settings/CMainCtl.h"
#include "shell/app/QtMediaDevice.h"
#include "shell/app/TSaverWin.h"
#include "tests/shell/LayoutChecks.h"
#include "tests/shell/MediaFiles.h"
#include "tests/shell/ShellTestApp.h"

namespace {

class SaverWin : public ::testing::Test {
 protected:
  void SetUp() override {
    shelltest::App();
    data.Write("script_demo.txt", shelltest::DemoScript(30));
  }

  std::unique_ptr<TSaverWin> Make(int mode) {
    SaverWinOptions o;
    o.loadSettings = shelltest::Settings(store, mode, data.path());
    o.device = &device;
    o.clock = [this] { return now; };
    o.seed = 7;
    o.autoRun = false;
    auto w = std::make_unique<TSaverWin>(o);
    w->ShowError = [this](const QString& m) { errors.push_back(m); };
    return w;
  }

  // Runs passes from deadline to deadline until `done` holds (at most `limitMs` of clock).
  void PlayUntil(TSaverWin& w, const std::function<bool()>& done, int limitMs = 20000) {
    const std::int32_t end = now + limitMs;
    while (!done() && now < end) {
      w.RunPass();
      if (done()) break;
      now = w.Playback().NextDeadline(now);
    }
  }
  void PlayUntilPlaying(TSaverWin& w) {
    PlayUntil(w, [&] { return w.Playback().PassCount > 0; });
    ASSERT_GT(w.Playback().PassCount, 0);
  }
  // Plays on until the script's frame has been presented (its solid fill is in the picture).
  void PlayUntilScriptShown(TSaverWin& w) {
    const RectXYWH f = w.Objects().Geometry.FrameRect;
    PlayUntil(w, [&] {
      return w.Playback().PlayState == kScriptPlaying &&
             (w.Objects().Window->Picture().Row(f.y + f.height / 8)[f.x + 4] & 0xFFFFFF) == kBlue;
    });
    ASSERT_EQ(w.Playback().PlayState, kScriptPlaying);
  }

  static void MoveMouse(QWidget& w, QPoint global) {
    QMouseEvent e(QEvent::MouseMove, w.mapFromGlobal(QPointF(global)), QPointF(global),
                  Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
  }
  static void Click(QWidget& w) {
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
  }
  static void Key(QWidget& w) {
    QKeyEvent e(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(&w, &e);
  }

  static constexpr std::uint32_t kBlue = 0x191970;  // MIDNIGHTBLUE
  TempFolder store, data;
  SilentMediaDevice device;
  std::int32_t now = 1000;
  QStringList errors;
};

TEST_F(SaverWin, MouseMustMoveMoreThanThirtyPixelsAfterTheFirstPlayingPass) {
  auto w = Make(kDisplayCentred);
  w->show();
  const QPoint start = w->StartPos;

  // Before playback has made a playing pass, no movement ends the saver.
  ASSERT_EQ(w->Playback().PassCount, 0);
  MoveMouse(*w, start + QPoint(200, 200));
  EXPECT_TRUE(w->isVisible());

  PlayUntilPlaying(*w);
  for (QPoint d : {QPoint(30, 0), QPoint(-30, 0), QPoint(0, 30), QPoint(0, -30), QPoint(30, 30)}) {
    MoveMouse(*w, start + d);
    EXPECT_TRUE(w->isVisible()) << d.x() << "," << d.y();
  }
  MoveMouse(*w, start + QPoint(0, -31));
  EXPECT_FALSE(w->isVisible());

  auto w2 = Make(kDisplayCentred);
  w2->show();
  PlayUntilPlaying(*w2);
  MoveMouse(*w2, w2->StartPos + QPoint(31, 0));
  EXPECT_FALSE(w2->isVisible());
}

TEST_F(SaverWin, ClickOrKeyEndsTheFullScreenModes) {
  for (int mode : {kDisplayExclusive, kDisplayCentred, kDisplayStretched, kDisplayDoubled}) {
    auto a = Make(mode);
    a->show();
    Click(*a);
    EXPECT_FALSE(a->isVisible()) << "mode " << mode;
    auto b = Make(mode);
    b->show();
    EXPECT_EQ(b->cursor().shape(), Qt::BlankCursor);
    Key(*b);
    EXPECT_FALSE(b->isVisible()) << "mode " << mode;
  }
}

TEST_F(SaverWin, WindowModeIgnoresClicksKeysAndMovement) {
  auto w = Make(kDisplayWindow);
  w->show();
  PlayUntilPlaying(*w);
  Click(*w);
  Key(*w);
  MoveMouse(*w, w->StartPos + QPoint(300, 300));
  EXPECT_TRUE(w->isVisible());
  EXPECT_NE(w->cursor().shape(), Qt::BlankCursor);
  w->Exit->click();
  EXPECT_FALSE(w->isVisible());
}

TEST_F(SaverWin, OnlySizesImposedAfterShowingCloseTheWindow) {
  auto full = Make(kDisplayCentred);
  const QSize screen = full->screen()->geometry().size();
  full->resize(300, 200);  // while it is being made: no effect
  full->setGeometry(full->screen()->geometry());
  full->show();
  full->resize(screen);  // the window manager settling the full-screen window
  EXPECT_TRUE(full->isVisible());
  full->resize(screen.width() - 10, screen.height());
  EXPECT_FALSE(full->isVisible());

  auto win = Make(kDisplayWindow);
  win->show();
  EXPECT_EQ(win->size(), QSize(640, 519));
  win->setMinimumSize(0, 0);
  win->setMaximumSize(4000, 4000);
  win->resize(700, 519);
  EXPECT_FALSE(win->isVisible());
}

// Window mode shows the control panel in the band below the 640 x 480 picture: every control
// whole and clear of the others, in the window, and reached by Tab from left to right. The
// full-screen modes show none of it. (What each control does to the show is tested below.)
TEST_F(SaverWin, ControlPanelInWindowModeOnlyEveryControlWholeAndReachable) {
  auto w = Make(kDisplayWindow);
  w->show();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Ondrelix"));
  EXPECT_EQ(w->size(), QSize(640, 519));
  EXPECT_EQ(w->Control->geometry(), QRect(0, 480, 640, 39));
  EXPECT_TRUE(w->Control->isVisible());
  EXPECT_EQ(QFontInfo(w->NoLogo->font()).family(), QStringLiteral("IPAPGothic"));
  EXPECT_TRUE(w->NoLogo->isChecked());
  EXPECT_TRUE(w->Counter->isChecked());
  EXPECT_EQ(w->SpeedBar->minimum(), 0);
  EXPECT_EQ(w->SpeedBar->maximum(), 1000);
  EXPECT_EQ(w->SpeedBar->value(), 33);
  EXPECT_EQ(w->SpeedEdit->text(), QStringLiteral("33"));
  EXPECT_EQ(w->SpeedEdit->maxLength(), 4);
  // The places the panel is designed with (the speed label and box may grow to fit their text).
  EXPECT_EQ(w->NoLogo->text(), QStringLiteral("No Logo"));
  EXPECT_EQ(w->NoLogo->geometry(), QRect(8, 4, 81, 17));
  EXPECT_EQ(w->Counter->text(), QStringLiteral("Timer"));
  EXPECT_EQ(w->Counter->geometry(), QRect(8, 20, 65, 17));
  EXPECT_EQ(w->LogWrite->geometry(), QRect(80, 8, 49, 25));
  EXPECT_EQ(w->ReturnTop->text(), QStringLiteral("Return to Top"));
  EXPECT_EQ(w->ReturnTop->geometry(), QRect(168, 8, 89, 25));
  EXPECT_EQ(w->SpeedBar->geometry(), QRect(320, 8, 150, 25));
  EXPECT_EQ(w->StartStop->text(), QStringLiteral("Stop"));
  EXPECT_EQ(w->StartStop->geometry(), QRect(536, 8, 49, 25));
  EXPECT_EQ(w->Exit->geometry(), QRect(592, 488, 43, 25));

  w->SpeedEdit->setText(QStringLiteral("1000"));  // the widest speed the box holds
  w->StartStop->click();                          // "Start": the longer caption
  const QRect picture(0, 0, 640, 480);
  for (QWidget* c : layoutcheck::Controls(w.get()))
    EXPECT_FALSE(layoutcheck::Ink(c, w.get()).intersects(picture))
        << layoutcheck::Name(c).toStdString() << " covers the picture";
  for (const QString& s : layoutcheck::Overlaps(w.get())) ADD_FAILURE() << s.toStdString();
  for (const QString& s : layoutcheck::Outside(w.get())) ADD_FAILURE() << s.toStdString();
  for (const QString& s : layoutcheck::Clipped(w.get())) ADD_FAILURE() << s.toStdString();
  const std::vector<QWidget*> cycle = layoutcheck::TabCycle(w.get());
  for (const QString& s : layoutcheck::TabProblems(w.get(), cycle))
    ADD_FAILURE() << s.toStdString();
  EXPECT_EQ(cycle, (std::vector<QWidget*>{w->NoLogo, w->Counter, w->LogWrite, w->ReturnTop,
                                          w->SpeedBar, w->SpeedEdit, w->StartStop, w->Exit}));

  for (int mode : {kDisplayExclusive, kDisplayCentred, kDisplayStretched, kDisplayDoubled}) {
    auto full = Make(mode);
    full->show();
    EXPECT_FALSE(full->Control->isVisible()) << "mode " << mode;
    EXPECT_FALSE(full->Exit->isVisible()) << "mode " << mode;
    EXPECT_TRUE(layoutcheck::Controls(full.get()).empty()) << "mode " << mode;
    EXPECT_FALSE(full->NoLogo->isChecked()) << "mode " << mode;
    EXPECT_FALSE(full->Counter->isChecked()) << "mode " << mode;
  }
}

TEST_F(SaverWin, StartStopPausesAndResumes) {
  auto w = Make(kDisplayWindow);
  w->show();
  w->StartStop->click();
  EXPECT_EQ(w->Playback().Paused, 1);
  EXPECT_EQ(w->StartStop->text(), QStringLiteral("Start"));
  w->StartStop->click();
  EXPECT_EQ(w->Playback().Paused, 0);
  EXPECT_EQ(w->StartStop->text(), QStringLiteral("Stop"));
}

TEST_F(SaverWin, SpeedBarAndSpeedEditSetTheTickLength) {
  auto w = Make(kDisplayWindow);
  w->SpeedBar->setValue(100);
  EXPECT_EQ(w->SpeedEdit->text(), QStringLiteral("100"));
  EXPECT_EQ(w->Playback().FrameInterval, 100);

  w->SpeedEdit->setText(QStringLiteral("250"));
  EXPECT_EQ(w->SpeedBar->value(), 250);
  EXPECT_EQ(w->Playback().FrameInterval, 250);

  // The bar keeps the value within its range.
  w->SpeedEdit->setText(QStringLiteral("5000"));
  EXPECT_EQ(w->SpeedBar->value(), 1000);
  EXPECT_EQ(w->Playback().FrameInterval, 1000);
  w->SpeedEdit->setText(QStringLiteral("-7"));
  EXPECT_EQ(w->SpeedBar->value(), 0);
  EXPECT_EQ(w->Playback().FrameInterval, 0);
  EXPECT_TRUE(errors.isEmpty());

  // Text that is no number: an error box, and the speed stays.
  w->SpeedEdit->setText(QStringLiteral("40"));
  w->SpeedEdit->setText(QStringLiteral("4x"));
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("'4x'")));
  EXPECT_EQ(w->Playback().FrameInterval, 40);
  EXPECT_EQ(w->SpeedBar->value(), 40);

  // Clearing the box to type a new number is not an error.
  w->SpeedEdit->setText(QString());
  EXPECT_EQ(errors.size(), 1);
  EXPECT_EQ(w->Playback().FrameInterval, 40);
}

TEST_F(SaverWin, ReturnTopEndsTheShowAndBlanksThePicture) {
  auto w = Make(kDisplayWindow);
  w->show();
  PlayUntilScriptShown(*w);
  w->ReturnTop->click();
  EXPECT_EQ(w->Playback().PlayState, kScriptEnded);
  const Bitmap32& pic = w->Objects().Window->Picture();
  for (int y = 0; y < 480; y += 37)
    for (int x = 0; x < 640; x += 41) ASSERT_EQ(pic.Row(y)[x] & 0xFFFFFF, 0u) << x << "," << y;
}

TEST_F(SaverWin, CounterAndNoLogoReachPlayback) {
  auto w = Make(kDisplayWindow);
  w->show();
  PlayUntilScriptShown(*w);
  ASSERT_TRUE(w->Playback().Counter);
  w->RunPass();  // the timer text at (5, 5)
  auto lit = [&] {
    const Bitmap32& pic = w->Objects().Window->Picture();
    int n = 0;
    for (int y = 5; y < 17; ++y)
      for (int x = 5; x < 120; ++x) n += (pic.Row(y)[x] & 0xFFFFFF) != 0;
    return n;
  };
  const int before = lit();
  EXPECT_GT(before, 0);
  w->Counter->click();
  EXPECT_FALSE(w->Playback().Counter);
  EXPECT_LT(lit(), before) << "the timer text is written over with spaces";
  w->NoLogo->click();
  EXPECT_FALSE(w->Playback().NoLogo);
}

TEST_F(SaverWin, LogWritesTheScriptLogBesideTheScript) {
  auto w = Make(kDisplayWindow);
  w->show();
  PlayUntilScriptShown(*w);
  w->LogWrite->click();
  std::ifstream log(data.File("Script.log"));
  EXPECT_TRUE(log.good());
}

// The window lays the frame out for the screen it is on (the offscreen screen here).
TEST_F(SaverWin, GeometryFollowsTheWindowsScreen) {
  auto probe = Make(kDisplayCentred);
  const QSize s = probe->screen()->geometry().size();
  const int sw = s.width(), sh = s.height();

  const RectXYWH centred = probe->Objects().Geometry.FrameRect;
  EXPECT_EQ(centred, (RectXYWH{sw / 2 - 320, sh / 2 - 136, 640, 272}));
  EXPECT_EQ(probe->Objects().Window->Width(), sw);

  auto stretched = Make(kDisplayStretched);
  const double k = sh / 480.0;
  EXPECT_EQ(stretched->Objects().Geometry.FrameRect,
            (RectXYWH{0, static_cast<int>(k * 102), sw, static_cast<int>(k * 272)}));

  auto exclusive = Make(kDisplayExclusive);
  EXPECT_EQ(exclusive->DisplayMode(), kDisplayExclusive);
  EXPECT_EQ(exclusive->Objects().Window->Width(), 640);
  EXPECT_EQ(exclusive->Objects().Window->Height(), 480);

  auto window = Make(kDisplayWindow);
  EXPECT_EQ(window->Objects().Window->Width(), 640);
  EXPECT_EQ(window->Objects().Window->Height(), 519);
}

// What the window paints is the engine's picture, pixel for pixel.
TEST_F(SaverWin, PaintsTheEnginesPicture) {
  for (int mode : {kDisplayWindow, kDisplayStretched}) {
    auto w = Make(mode);
    w->show();
    PlayUntilScriptShown(*w);
    const QImage shot = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const Bitmap32& pic = w->Objects().Window->Picture();
    const int h = mode == kDisplayWindow ? 480 : pic.height;  // the panel covers the rest
    int wrong = 0;
    for (int y = 0; y < h; y += 3)
      for (int x = 0; x < pic.width; x += 3)
        wrong += (shot.pixel(x, y) & 0xFFFFFF) != (pic.Row(y)[x] & 0xFFFFFF);
    EXPECT_EQ(wrong, 0) << "mode " << mode;
  }
}

// Mode 0 shows the 640 x 480 picture scaled to the screen's height, centred, without smoothing.
TEST_F(SaverWin, ExclusiveModeScalesThePictureToTheScreenHeight) {
  auto w = Make(kDisplayExclusive);
  w->show();
  PlayUntilScriptShown(*w);
  const QSize screen = w->size();
  const QRect r = w->PictureRect();
  ASSERT_EQ(screen, w->screen()->geometry().size());
  // The screen's height, unless the screen is too narrow for the 4:3 picture at that height.
  const int h = std::min(screen.height(), screen.width() * 480 / 640);
  EXPECT_EQ(r.height(), h);
  EXPECT_EQ(r.width(), 640 * h / 480);
  EXPECT_EQ(r.x(), (screen.width() - r.width()) / 2);
  EXPECT_EQ(r.y(), (screen.height() - r.height()) / 2);

  const QImage shot = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const Bitmap32& pic = w->Objects().Window->Picture();
  int wrong = 0;
  for (int sy = 1; sy < 480; sy += 7)
    for (int sx = 1; sx < 640; sx += 7) {
      // The middle of each picture pixel's area on the screen.
      const int x = r.x() + static_cast<int>((sx + 0.5) * r.width() / 640);
      const int y = r.y() + static_cast<int>((sy + 0.5) * r.height() / 480);
      wrong += (shot.pixel(x, y) & 0xFFFFFF) != (pic.Row(sy)[sx] & 0xFFFFFF);
    }
  EXPECT_EQ(wrong, 0);
}

}  // namespace

// An interval movie plays through the Qt device in the saver window, centred in the client area
// (in mode 0 on the scaled picture), and the window goes back to shows when it ends.
class SaverWinMovie : public ::testing::Test {
 protected:
  void SetUp() override {
    shelltest::App();
    ASSERT_EQ(::mkdir(data.File("Interval").c_str(), 0755), 0);
    ASSERT_TRUE(testmedia::WriteAvi(data.File("Interval/clip.avi"), 320, 240, 4));
    data.Write("script_demo.txt", shelltest::DemoScript(2));
  }
  std::unique_ptr<TSaverWin> Make(int mode) {
    SaverWinOptions o;
    o.loadSettings = shelltest::Settings(store, mode, data.path(), /*logo=*/true);
    o.clock = [this] { return now; };
    o.seed = 5;
    o.autoRun = false;
    return std::make_unique<TSaverWin>(o);
  }
  TempFolder store, data;
  std::int32_t now = 1000;
};

TEST_F(SaverWinMovie, IntervalMoviePlaysCentredAndEnds) {
  for (int mode : {kDisplayWindow, kDisplayExclusive}) {
    SCOPED_TRACE(mode);
    auto w = Make(mode);
    w->NoLogo->setChecked(false);
    w->NoLogoClick();
    w->show();
    QtMediaDevice* dev = w->QtDevice();
    ASSERT_NE(dev, nullptr);
    // With the logo on, interval items come between shows: here the movie.
    for (int i = 0; i < 2000 && w->Playback().PlayState != kMoviePlaying; ++i) {
      w->RunPass();
      now = w->Playback().NextDeadline(now);
    }
    ASSERT_EQ(w->Playback().PlayState, kMoviePlaying);
    const int cw = w->Objects().Window->Width(), ch = w->Objects().Window->Height();
    EXPECT_EQ(dev->Destination(), QRect((cw - 320) / 2, (ch - 240) / 2, 320, 240));
    EXPECT_TRUE(dev->VideoShown());
    const QRect onScreen = w->findChild<QVideoWidget*>()->geometry();
    if (mode == kDisplayWindow) {
      EXPECT_EQ(onScreen, QRect(160, 139, 320, 240));
    } else {
      // The movie's rectangle follows the picture's scale onto the screen.
      const QRect p = w->PictureRect();
      EXPECT_NEAR(onScreen.width(), 320 * p.width() / 640, 1);
      EXPECT_NEAR(onScreen.x(), p.x() + 160 * p.width() / 640, 1);
    }
    // The movie ends by itself; the window closes it and goes on.
    ASSERT_TRUE(shelltest::SpinUntil([&] { return dev->Stopped(); }, 5000));
    now += 40;
    w->RunPass();
    EXPECT_EQ(w->Playback().PlayState, kMovieEnded);
    now += 1;
    w->RunPass();
    EXPECT_FALSE(dev->VideoShown());
  }
}
