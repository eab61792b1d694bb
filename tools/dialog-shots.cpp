// Writes pictures of the settings dialog's four pages, the folder question and frames of both
// bonus variants as PNG files, to look at after a change of layout, artwork or fonts:
//   tool_dialog-shots OUT_DIR
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise; each window is drawn as
// Qt draws it, without the window manager's frame. The layout tests check what can be checked.
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "shell/app/TSaverWin.h"
#include "shell/bonus/TOmakeWin.h"
#include "shell/settings/TKakuninDlg.h"
#include "shell/settings/TSetteiForm.h"

namespace {

std::string folder;

void Settle() {
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
}

void Shot(QWidget& w, const std::string& name) {
  Settle();
  const std::string path = folder + "/" + name + ".png";
  if (!w.grab().save(QString::fromStdString(path))) {
    std::fprintf(stderr, "dialog-shots: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::printf("%s\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  folder = argv[1];
  ::mkdir(folder.c_str(), 0755);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  PrepareSaverApplication();
  QApplication app(argc, argv);

  // A store of its own, so the user's settings are neither read nor written.
  char store[] = "/tmp/ox-shots-XXXXXX";
  if (!::mkdtemp(store)) return 1;
  std::deque<int> randoms;
  SetteiFormOptions o;
  o.storePath = std::string(store) + "/Pralvex.reg";
  o.random = [&] {
    if (randoms.empty()) return 1;
    const int r = randoms.front();
    randoms.pop_front();
    return r;
  };
  TSetteiForm f(o);
  auto* omake = new TOmakeWin(&f);
  f.show();
  for (int i = 0; i < f.PageCtl->count(); ++i) {
    f.PageCtl->setCurrentIndex(i);
    Shot(f, "page" + std::to_string(i + 1));
  }
  f.activateWindow();
  f.zqlink->setFocus(Qt::TabFocusReason);  // how a link looks when Tab reaches it
  Shot(f, "page4-link-focused");
  f.PageCtl->setCurrentIndex(0);

  {
    TKakuninDlg d(&f);
    d.SetTitle(QStringLiteral("フォルダ指定が微妙です"));
    d.SetMessage(QStringLiteral("指定された設定ファイル用フォルダ\n") +
                 d.ShortenPath(QStringLiteral("/usr/share/games/some/deep/place/Velnori")) +
                 QStringLiteral("\n配下にはスクリプトファイルが存在しません。\n\n"
                                "このまま設定してもよろしいですか？"));
    d.show();
    Shot(d, "confirm");
  }

  randoms = {1, 0, 100};  // the bouncing head, falling 100 pixels into the dialog
  f.BtnBaronMouseDown(QPoint(30, 12));
  f.BtnBaronClick();
  omake->Timer1.stop();
  for (int frame = 0; frame < 3; ++frame) {
    for (int i = 0; i < 9; ++i) omake->Timer1Timer();
    Shot(*omake, "bounce" + std::to_string(frame));
  }
  while (omake->isVisible()) omake->Timer1Timer();

  randoms = {1, 2};  // the falling dialog
  f.BtnBaronMouseDown(QPoint(30, 12));
  f.BtnBaronClick();
  omake->Timer1.stop();
  int tick = 0;
  for (int at : {1, 12, 30, 45}) {
    while (tick < at) omake->Timer1Timer(), ++tick;
    Shot(*omake, "fall" + std::to_string(at));
  }
  while (omake->Fall().stage != FallingDialog::kRocking && omake->isVisible()) omake->Timer1Timer();
  for (int i = 0; i < 5; ++i) omake->Timer1Timer();
  Shot(*omake, "rock");
  while (omake->isVisible()) omake->Timer1Timer();
  Shot(f, "back");
  std::remove(o.storePath.c_str());
  ::rmdir(store);
  return 0;
}
