// Screenshots of the settings dialog, the confirmation dialog and the bonus window on a real X
// server, for looking at: run under xvfb-run with QT_QPA_PLATFORM=xcb and
// ONDRELIX_DIALOG_SHOTS=<folder>. Skipped otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QTabWidget>
#include <cstdlib>
#include <deque>

#include "shell/bonus/TOmakeWin.h"
#include "shell/settings/TKakuninDlg.h"
#include "shell/settings/TSetteiForm.h"
#include "tests/shell/ShellTestApp.h"

namespace {

using shelltest::App;
using shelltest::Spin;

class DialogShots : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* out = std::getenv("ONDRELIX_DIALOG_SHOTS");
    if (!out || qgetenv("QT_QPA_PLATFORM") != "xcb") GTEST_SKIP() << "screenshots not asked for";
    folder = out;
    App();
  }
  // The whole screen as the X server shows it.
  QImage Shot(const std::string& name) {
    Spin(150);
    const std::string path = folder + "/" + name + ".png";
    const std::string cmd = "import -window root '" + path + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return QImage(QString::fromStdString(path));
  }
  std::string folder;
  TempFolder dir;
};

TEST_F(DialogShots, PagesConfirmationAndBothBonusVariants) {
  std::deque<int> randoms;
  SetteiFormOptions o;
  o.storePath = dir.File("Pralvex.reg");
  o.random = [&] {
    if (randoms.empty()) return 1;
    const int r = randoms.front();
    randoms.pop_front();
    return r;
  };
  TSetteiForm f(o);
  auto* omake = new TOmakeWin(&f);
  f.show();
  const char* pages[] = {"page1", "page2", "page3", "page4"};
  for (int i = 0; i < 4; ++i) {
    f.PageCtl->setCurrentIndex(i);
    const QImage img = Shot(pages[i]);
    // The dialog stands on the black root window at its place, in the button-face colour.
    const QRect r = f.DialogRect();
    EXPECT_EQ(img.pixelColor(r.left() + 2, r.bottom() - 2), f.palette().color(QPalette::Window));
  }
  f.PageCtl->setCurrentIndex(0);

  {
    TKakuninDlg d(&f);
    d.SetTitle(QStringLiteral("フォルダ指定が微妙です"));
    d.SetMessage(QStringLiteral("指定された設定ファイル用フォルダ\n") +
                 d.ShortenPath(QStringLiteral("/usr/share/games/some/deep/place/Velnori")) +
                 QStringLiteral("\n配下にはスクリプトファイルが存在しません。\n\n"
                                "このまま設定してもよろしいですか？"));
    d.show();
    Shot("confirm");
  }

  randoms = {1, 0, 100};  // variant 0, falling 100 pixels into the dialog
  f.BtnBaronMouseDown(QPoint(30, 12));
  f.BtnBaronClick();
  omake->Timer1.stop();
  for (int frame = 0; frame < 3; ++frame) {
    for (int i = 0; i < 9; ++i) omake->Timer1Timer();
    Shot("bounce" + std::to_string(frame));
  }
  while (omake->isVisible()) omake->Timer1Timer();

  randoms = {1, 2};
  f.BtnBaronMouseDown(QPoint(30, 12));
  f.BtnBaronClick();
  omake->Timer1.stop();
  int tick = 0;
  for (int at : {1, 12, 30, 45}) {
    while (tick < at) omake->Timer1Timer(), ++tick;
    Shot("fall" + std::to_string(at));
  }
  while (omake->Fall().stage != FallingDialog::kRocking && omake->isVisible()) omake->Timer1Timer();
  for (int i = 0; i < 5; ++i) omake->Timer1Timer();
  Shot("rock");
  while (omake->isVisible()) omake->Timer1Timer();
  Shot("back");
  EXPECT_TRUE(f.isVisible());
}

}  // namespace
