// The settings dialog and the confirmation dialog as a user meets them: what they show from a
// stored record, what OK, Cancel and the close box do to the store, and the hidden extras.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <fstream>
#include <sstream>

#include "render/FontRaster.h"
#include "settings/CMainCtl.h"
#include "settings/DialogLogic.h"
#include "shell/settings/TKakuninDlg.h"
#include "shell/settings/TSetteiForm.h"
#include "tests/shell/LayoutChecks.h"
#include "tests/shell/ShellTestApp.h"

namespace {

using shelltest::App;

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

const std::string kScript =
    "<DATA TITLE=\"First show\" VERSION=\"1.10\">\n<SOLID COLOR=BLACK>\n</DATA>\n"
    "<DATA TITLE=\"Second show\" VERSION=\"1.10\">\n<SOLID COLOR=WHITE>\n</DATA>\n";

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    store = dir.File("Pralvex.reg");
    ::mkdir(dir.File("data").c_str(), 0755);
    ::mkdir(dir.File("empty").c_str(), 0755);
    dir.Write("data/script_shows.txt", kScript);
  }

  // Writes a store holding these values (a settings record saved as the dialog would).
  void Store(int mode, const std::string& font, const std::string& folder) {
    CMainCtl s;
    s.SetStorePath(store);
    s.Load();
    s.SetDspMode(mode);
    s.SetCptFont(font);
    s.SetCurPath(folder);
    ASSERT_EQ(s.Save(), 0);
  }

  std::unique_ptr<TSetteiForm> Open() {
    SetteiFormOptions o;
    o.storePath = store;
    o.confirm = [this](TKakuninDlg& d) {
      questions.push_back(d.Message->text());
      titles.push_back(d.windowTitle());
      if (inspect) inspect(d);
      return answer;
    };
    o.showError = [this](const QString& m) { errors.push_back(m); };
    o.openUrl = [this](const QString& a) { opened.push_back(a); };
    o.ctrlHeld = [this] { return ctrl; };
    o.random = [this] {
      if (randoms.empty()) return 0;
      const int r = randoms.front();
      randoms.pop_front();
      return r;
    };
    auto f = std::make_unique<TSetteiForm>(o);
    f->show();
    return f;
  }

  CMainCtl Reload() {
    CMainCtl s;
    s.SetStorePath(store);
    s.Load();
    return s;
  }

  TempFolder dir;
  std::string store;
  std::vector<QString> questions, titles, errors, opened;
  std::deque<int> randoms;
  std::function<void(TKakuninDlg&)> inspect;  // looks at the question while it is asked
  bool answer = true;
  bool ctrl = false;
};

// Each page as a user meets it in the fonts installed here: every control shows whole, inside
// its page and the dialog and clear of the others, and Tab walks the controls in reading order.
// The Help button is no tab stop and lies hidden behind the pages until it slides out.
TEST_F(DialogTest, EveryPageShowsItsControlsWholeAndTabWalksThemInReadingOrder) {
  Store(kDspWindowMode, "IPAGothic", dir.File("data"));  // all five display items listed
  auto f = Open();
  EXPECT_EQ(QFontInfo(f->font()).family(), QStringLiteral("IPAPGothic"));
  EXPECT_EQ(f->windowTitle(), QStringLiteral("Ondrelix"));
  EXPECT_EQ(f->size(), QSize(281, 258));
  EXPECT_EQ(f->PageCtl->currentIndex(), 0);
  EXPECT_FALSE(f->SwitchLogo->isVisible());
  EXPECT_EQ(f->SetteiTimer.interval(), 33);
  EXPECT_TRUE(f->SetteiTimer.isActive());

  // The places the dialog is designed with.
  EXPECT_EQ(f->BtnOk->geometry(), QRect(8, 224, 57, 25));
  EXPECT_EQ(f->BtnCansel->text(), QStringLiteral("ｷｬﾝｾﾙ"));
  EXPECT_TRUE(f->BtnBaron->text().isEmpty());
  EXPECT_EQ(f->PageCtl->geometry(), QRect(8, 8, 265, 209));
  ASSERT_EQ(f->PageCtl->count(), 4);
  EXPECT_EQ(f->PageCtl->tabText(3), QStringLiteral("About"));
  EXPECT_EQ(f->BtnHelp->geometry(), QRect(136, 180, 65, 25));
  EXPECT_TRUE(f->PageCtl->geometry().contains(f->BtnHelp->geometry()));
  EXPECT_LT(f->children().indexOf(f->BtnHelp), f->children().indexOf(f->PageCtl));  // beneath

  auto expectSound = [&](const char* when, std::vector<std::pair<QWidget*, QWidget*>> allowed) {
    SCOPED_TRACE(when);
    allowed.emplace_back(f->Monitor, f->Gamen);  // the preview is the monitor's screen
    for (const QString& s : layoutcheck::Overlaps(f.get(), allowed))
      ADD_FAILURE() << s.toStdString();
    for (const QString& s : layoutcheck::Outside(f.get())) ADD_FAILURE() << s.toStdString();
    for (const QString& s : layoutcheck::Clipped(f.get())) ADD_FAILURE() << s.toStdString();
    const std::vector<QWidget*> cycle = layoutcheck::TabCycle(f.get());
    for (const QString& s : layoutcheck::TabProblems(f.get(), cycle))
      ADD_FAILURE() << s.toStdString();
    for (QWidget* b : {f->BtnOk, f->BtnCansel, f->BtnBaron})
      EXPECT_NE(std::find(cycle.begin(), cycle.end(), b), cycle.end())
          << layoutcheck::Name(b).toStdString();
    EXPECT_EQ(std::find(cycle.begin(), cycle.end(), f->BtnHelp), cycle.end());
  };
  for (int page = 0; page < f->PageCtl->count(); ++page) {
    f->PageCtl->setCurrentIndex(page);
    expectSound(f->PageCtl->tabText(page).toUtf8().constData(), {{f->BtnHelp, f->PageCtl}});
  }
  f->PageCtl->setCurrentIndex(0);
  for (int i = 0; i < 20; ++i) f->SignatureClick();
  ASSERT_TRUE(f->SwitchLogo->isVisible());
  expectSound("logo switch revealed", {{f->BtnHelp, f->PageCtl}});
  f->BtnHelp->move(f->BtnHelp->x(), 224);
  expectSound("help button out", {});
}

TEST_F(DialogTest, StoredWindowModeShowsFiveItemsUntilAnotherIsChosen) {
  Store(4, "IPAGothic", dir.File("data"));
  auto f = Open();
  ASSERT_EQ(f->DspList->count(), 5);
  EXPECT_EQ(f->DspList->currentIndex(), 4);
  EXPECT_EQ(f->DspList->itemText(4), QStringLiteral(" 640 x  480 ウィンドウ表示"));
  f->DspList->setCurrentIndex(1);
  f->DspListChange();
  EXPECT_EQ(f->DspList->count(), 4);
  EXPECT_EQ(f->DspList->currentIndex(), 1);
  EXPECT_EQ(f->Settings().GetDspMode(), 1);
}

TEST_F(DialogTest, CtrlOnOpeningAddsTheWindowItemAndOpeningWithoutItRemovesIt) {
  Store(2, "IPAGothic", dir.File("data"));
  auto f = Open();
  ASSERT_EQ(f->DspList->count(), 4);
  const QSize screen = f->screen()->geometry().size();
  EXPECT_EQ(f->DspList->itemText(2).toStdString(), DspItemText(2, screen.width(), screen.height()));
  ctrl = true;
  f->DspList->showPopup();
  EXPECT_EQ(f->DspList->count(), 5);
  f->DspList->hidePopup();
  ctrl = false;
  f->DspList->showPopup();
  f->DspList->hidePopup();
  EXPECT_EQ(f->DspList->count(), 4);
  EXPECT_EQ(f->DspList->currentIndex(), 2);
}

TEST_F(DialogTest, UninstalledStoredFontGivesWayToTheFirstListedAndIsSaved) {
  const std::vector<std::string> faces = CaptionFaces(FontRaster::JapaneseFamilies());
  if (faces.empty()) GTEST_SKIP() << "no Japanese face installed";
  Store(0, "No Such Font Mincho", dir.File("data"));
  auto f = Open();
  ASSERT_EQ(f->CaptionFontList->count(), static_cast<int>(faces.size()));
  EXPECT_EQ(f->CaptionFontList->currentIndex(), 0);
  EXPECT_EQ(f->Settings().GetCptFont(), faces[0]);
  f->BtnOk->click();
  EXPECT_TRUE(questions.empty());
  EXPECT_FALSE(f->isVisible());
  EXPECT_EQ(Reload().GetCptFont(), faces[0]);
}

// Opening the dialog and pressing OK keeps every stored value, byte for byte: each combination
// of the five switches, with the display modes, faces (system names too) and switched-off
// scripts taken in turn.
TEST_F(DialogTest, OkWithoutChangesWritesBackWhatWasStored) {
  if (CaptionFaces(FontRaster::JapaneseFamilies()).empty())
    GTEST_SKIP() << "no Japanese face installed";
  // Each stored face and the listed face that draws it.
  const char* const fonts[][2] = {{"ＭＳ ゴシック", "IPAGothic"},
                                  {"ＭＳ Ｐゴシック", "IPAPGothic"},
                                  {"IPAPGothic", "IPAPGothic"},
                                  {"IPAGothic", "IPAGothic"}};
  std::int32_t second = 0;
  Store(0, "IPAGothic", dir.File("data"));
  {
    auto f = Open();
    ASSERT_EQ(f->ScriptIdentities.size(), 2u);
    second = f->ScriptIdentities[1];
    f->close();
  }
  for (int i = 0; i < 32; ++i) {
    CMainCtl s;
    s.SetStorePath(store);
    s.Load();
    s.SetFlgCaption(i & 1);
    s.SetFlgSound(i & 2);
    s.SetFlgLogo(i & 4);
    s.SetFlgWarning(i & 8);
    s.SetFlgFontBold(i & 16);
    s.SetDspMode(i % 5);
    s.SetCptFont(fonts[i % 4][0]);
    s.SetCurPath(dir.File("data"));
    s.NoExeClear();
    if (i % 3 == 0) s.NoExeAdd(second);
    ASSERT_EQ(s.Save(), 0);
    const std::string before = ReadAll(store);
    auto f = Open();
    EXPECT_EQ(f->SwitchWarning->isChecked(), (i & 8) != 0) << "case " << i;
    EXPECT_EQ(f->CaptionFontList->currentText().toStdString(), fonts[i % 4][1]) << "case " << i;
    f->BtnOk->click();
    ASSERT_FALSE(f->isVisible()) << "case " << i;
    EXPECT_EQ(ReadAll(store), before) << "case " << i;
  }
}

TEST_F(DialogTest, LeavingTheFolderEditMakesItAbsolute) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  const QString cwd = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(dir.path()));
  f->PageCtl->setCurrentIndex(1);
  f->EdtSettei->setText(QStringLiteral("./data/../empty/"));
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);  // leaving the edit
  QApplication::sendEvent(f->EdtSettei, &leave);
  QDir::setCurrent(cwd);
  EXPECT_EQ(f->EdtSettei->text().toStdString(), dir.File("empty"));
  EXPECT_EQ(f->Settings().GetCurPath(), dir.File("empty"));
}

TEST_F(DialogTest, FolderBrowserChoiceIsNormalisedAndCancelChangesNothing) {
  Store(0, "IPAGothic", dir.File("data"));
  SetteiFormOptions o;
  o.storePath = store;
  QString chosen = QString::fromStdString(dir.File("empty") + "/");
  QString started;
  o.browseFolder = [&](const QString& start) {
    started = start;
    return chosen;
  };
  TSetteiForm f(o);
  f.BtnSanshoClick();
  EXPECT_EQ(started.toStdString(), dir.File("data"));
  EXPECT_EQ(f.Settings().GetCurPath(), dir.File("empty"));
  chosen.clear();
  f.BtnSanshoClick();
  EXPECT_EQ(f.EdtSettei->text().toStdString(), dir.File("empty"));
}

TEST_F(DialogTest, OkOnAnEmptyFolderAsksAndSavesOnlyWhenTheAnswerIsOk) {
  Store(0, "IPAGothic", dir.File("empty"));
  const std::string before = ReadAll(store);
  auto f = Open();
  f->SwitchSound->setChecked(false);
  answer = false;
  f->BtnOk->click();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(titles[0], QStringLiteral("フォルダ指定が微妙です"));
  const QString q = questions[0];
  EXPECT_TRUE(q.startsWith(QStringLiteral("指定された設定ファイル用フォルダ\n")));
  EXPECT_TRUE(q.contains(QStringLiteral("\n配下にはスクリプトファイルが存在しません。\n\n")));
  EXPECT_TRUE(q.endsWith(QStringLiteral("このまま設定してもよろしいですか？")));
  EXPECT_TRUE(q.contains(QStringLiteral("empty\n")));
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(ReadAll(store), before);  // nothing saved

  answer = true;
  f->BtnOk->click();
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_FALSE(f->isVisible());
  EXPECT_FALSE(Reload().GetFlgSound());
}

TEST_F(DialogTest, FolderTooLargeToCountAsksWithItsOwnWording) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  std::int64_t now = 1000;
  f->Settings().SetSecondsClock([&now] { return now += 3; });  // the budget runs out at once
  answer = false;
  f->BtnOk->click();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_TRUE(questions[0].contains(
      QStringLiteral("\nは複雑すぎるか大雑把すぎて探してられません。\n\nこのまま")));
  EXPECT_TRUE(f->isVisible());
}

TEST_F(DialogTest, CancelAndTheCloseBoxLeaveTheStoreUntouched) {
  auto f = Open();  // no store yet: defaults
  f->SwitchWarning->setChecked(true);
  f->BtnCansel->click();
  EXPECT_FALSE(f->isVisible());
  struct stat st;
  EXPECT_NE(::stat(store.c_str(), &st), 0);
  auto g = Open();
  g->SwitchWarning->setChecked(true);
  g->close();
  EXPECT_NE(::stat(store.c_str(), &st), 0);
}

TEST_F(DialogTest, SaveFailureIsShownAndTheDialogStaysOpen) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  f->Settings().SetStoreWriter([](int, std::string_view) { return false; });
  f->BtnOk->click();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].endsWith(QStringLiteral("の設定に失敗しました")))
      << errors[0].toStdString();
  EXPECT_TRUE(f->isVisible());
}

TEST_F(DialogTest, UncheckedScriptsAreSavedAsSwitchedOffAndListedSoNextTime) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  ASSERT_EQ(f->ScriptList->count(), 2);
  EXPECT_EQ(f->ScriptList->item(0)->text(), QStringLiteral("First show"));
  EXPECT_EQ(f->ScriptList->item(1)->checkState(), Qt::Checked);
  f->ScriptList->item(1)->setCheckState(Qt::Unchecked);
  const std::int32_t second = f->ScriptIdentities[1];
  f->BtnOk->click();
  CMainCtl s = Reload();
  EXPECT_EQ(s.NoExeAt(0), second);
  EXPECT_EQ(s.NoExeAt(1), 0);
  auto g = Open();
  EXPECT_EQ(g->ScriptList->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(g->ScriptList->item(1)->checkState(), Qt::Unchecked);
}

TEST_F(DialogTest, TwentiethSignatureClickRevealsTheLogoSwitch) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  const QString maker = f->Signature->text();
  auto click = [&] {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f->Signature, &press);
  };
  click();
  const QString group = f->Signature->text();
  EXPECT_NE(group, maker);
  click();
  EXPECT_EQ(f->Signature->text(), maker);
  for (int i = 3; i <= 19; ++i) click();
  EXPECT_FALSE(f->SwitchLogo->isVisible());
  click();
  EXPECT_TRUE(f->SwitchLogo->isVisible());
  f->SwitchLogo->setChecked(!f->SwitchLogo->isChecked());
  EXPECT_EQ(f->Settings().GetFlgLogo(), f->SwitchLogo->isChecked());
}

TEST_F(DialogTest, BaronButtonEitherSlidesTheHelpButtonOutOrOpensTheBonusWindow) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  f->SetteiTimer.stop();
  randoms = {3};  // a multiple of 3: the Help button comes out
  f->BtnBaron->click();
  EXPECT_TRUE(f->Slide.Active);
  for (int i = 0; i < 40; ++i) f->SetteiTimerTimer();
  EXPECT_EQ(f->BtnHelp->y(), 224);
  f->BtnHelpMouseMove();
  for (int i = 0; i < 6; ++i) f->SetteiTimerTimer();
  EXPECT_EQ(f->BtnHelp->y(), 176);
  EXPECT_FALSE(f->Slide.Active);

  f->BtnHelpClick();
  f->zqlinkClick();
  f->velnorilinkClick();
  ASSERT_EQ(opened.size(), 3u);
  for (const QString& a : opened) {
    EXPECT_TRUE(a.startsWith(QStringLiteral("http://"))) << a.toStdString();
  }
  EXPECT_EQ(opened[2], f->velnorilink->text());
}

// The two web addresses on the About page are tab stops, not only mouse targets, and open with
// the keys a focused push button answers to.
TEST_F(DialogTest, AboutPageLinksAreTabStopsThatOpenWithTheKeyboard) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  f->PageCtl->setCurrentIndex(3);
  const std::vector<QWidget*> cycle = layoutcheck::TabCycle(f.get());
  int n = 0;
  for (QLabel* link : {f->zqlink, f->velnorilink}) {
    EXPECT_NE(std::find(cycle.begin(), cycle.end(), link), cycle.end())
        << link->text().toStdString();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(link, &press);
      ASSERT_EQ(opened.size(), static_cast<std::size_t>(++n)) << key;
      EXPECT_EQ(opened.back(), link->text());
    }
  }
  QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
  QApplication::sendEvent(f->velnorilink, &other);
  EXPECT_EQ(opened.size(), 6u);
}

TEST_F(DialogTest, PreviewAndSampleAdvanceOnTheirPeriods) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  f->SetteiTimer.stop();
  for (int i = 0; i < 30; ++i) f->SetteiTimerTimer();
  EXPECT_EQ(f->PreviewFrame, 0);
  f->SetteiTimerTimer();
  EXPECT_EQ(f->PreviewFrame, 1);
  f->PageCtl->setCurrentIndex(1);
  for (int i = 0; i < 61; ++i) f->SetteiTimerTimer();
  EXPECT_EQ(f->SampleIndex, 1);
  f->PageCtl->setCurrentIndex(3);
  const int offset = f->About().ScrollOffset;
  f->AboutWinMouseDown();
  for (int i = 0; i < 10; ++i) f->SetteiTimerTimer();
  EXPECT_EQ(f->About().ScrollOffset, offset + 10);
  EXPECT_NEAR(f->About().ZoomFactor, 0.4, 1e-9);
  f->AboutWinMouseUp();
  f->SetteiTimerTimer();
  EXPECT_NEAR(f->About().ZoomFactor, 0.38, 1e-9);
}

TEST_F(DialogTest, CaptionSwitchBlanksTheCaptionLineOfThePreview) {
  Store(0, "IPAGothic", dir.File("data"));
  auto f = Open();
  auto captionInk = [&] {
    int ink = 0;
    const Bitmap32& g = f->GamenPicture();
    for (int y = 64; y < 76; ++y)
      for (int x = 10; x < 76; ++x) ink += (g.Row(y)[x] & 0xFFFFFF) != 0;
    return ink;
  };
  ASSERT_GT(captionInk(), 0);
  f->SwitchCaption->setChecked(false);
  EXPECT_EQ(captionInk(), 0);
  EXPECT_FALSE(f->Settings().GetFlgCaption());
  f->SwitchCaption->setChecked(true);
  EXPECT_GT(captionInk(), 0);
}

class ConfirmTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

TEST_F(ConfirmTest, EnterAnswersOkAndEscOrTheCloseBoxCancel) {
  auto answerTo = [](auto action) {
    TKakuninDlg d;
    int result = -1;
    QTimer::singleShot(0, &d, [&] { action(d); });
    result = d.exec();
    return result;
  };
  auto key = [](TKakuninDlg& d, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(d.focusWidget() ? d.focusWidget() : &d, &press);
  };
  EXPECT_EQ(answerTo([&](TKakuninDlg& d) { key(d, Qt::Key_Return); }), QDialog::Accepted);
  EXPECT_EQ(answerTo([&](TKakuninDlg& d) { key(d, Qt::Key_Escape); }), QDialog::Rejected);
  EXPECT_EQ(answerTo([](TKakuninDlg& d) { d.close(); }), QDialog::Rejected);
  EXPECT_EQ(answerTo([](TKakuninDlg& d) { d.CancelBtn->click(); }), QDialog::Rejected);
}

// Layout faults of a question box, one line each.
std::vector<QString> LayoutFaults(TKakuninDlg& d) {
  std::vector<QString> out = layoutcheck::Overlaps(&d);
  for (const auto& list : {layoutcheck::Outside(&d), layoutcheck::Clipped(&d),
                           layoutcheck::TabProblems(&d, layoutcheck::TabCycle(&d))})
    out.insert(out.end(), list.begin(), list.end());
  return out;
}

TEST_F(ConfirmTest, PathsShortenedToTheMessageWidth) {
  TKakuninDlg d;
  EXPECT_EQ(d.size(), QSize(363, 116));
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Ondrelix - Notice"));
  EXPECT_EQ(d.Message->geometry(), QRect(88, 8, 265, 65));
  EXPECT_TRUE(d.OKBtn->isDefault());
  EXPECT_EQ(d.ShortenPath(QStringLiteral("/usr/share/Velnori")),
            QStringLiteral("/usr/share/Velnori"));
  const QString deep =
      QStringLiteral("/") + QString(60, QLatin1Char('x')) + QStringLiteral("/share/Velnori");
  EXPECT_EQ(d.ShortenPath(deep), QStringLiteral("/.../share/Velnori"));
  // A name too wide on its own keeps its two ends.
  const QString wide =
      QStringLiteral("/usr/") + QString(80, QLatin1Char('w')) + QStringLiteral("end");
  const QString cut = d.ShortenPath(wide);
  EXPECT_LE(d.Message->fontMetrics().horizontalAdvance(cut), 265);
  EXPECT_TRUE(cut.startsWith(QStringLiteral("www"))) << cut.toStdString();
  EXPECT_TRUE(cut.endsWith(QStringLiteral("wend"))) << cut.toStdString();
}

// Both questions of the settings dialog, with a path as wide as the message allows, show whole
// in the question box: five lines in the message, the picture and both buttons clear of each
// other, OK and then Cancel under Tab.
TEST_F(ConfirmTest, BothQuestionsShowWhole) {
  for (const char* reason : {"配下にはスクリプトファイルが存在しません。",
                             "は複雑すぎるか大雑把すぎて探してられません。"}) {
    TKakuninDlg d;
    d.show();
    const QString path =
        d.ShortenPath(QStringLiteral("/home/user/") + QString(60, QLatin1Char('W')) +
                      QStringLiteral("/") + QString(30, QLatin1Char('W')));
    d.SetMessage(QStringLiteral("指定された設定ファイル用フォルダ\n") + path +
                 QStringLiteral("\n") + QString::fromUtf8(reason) +
                 QStringLiteral("\n\nこのまま設定してもよろしいですか？"));
    EXPECT_EQ(QFontInfo(d.Message->font()).family(), QStringLiteral("IPAPGothic"));
    for (const QString& s : LayoutFaults(d)) ADD_FAILURE() << reason << ": " << s.toStdString();
    EXPECT_EQ(layoutcheck::TabCycle(&d), (std::vector<QWidget*>{d.OKBtn, d.CancelBtn}));
  }
}

// Asked about a deep folder, the question shortens the path to fit and still shows the whole
// message; the full path stays at hand as the message's tool tip.
TEST_F(DialogTest, QuestionAboutADeepFolderFitsAndKeepsTheFullPath) {
  std::string deep = dir.File("empty");
  for (int i = 0; i < 4; ++i) {
    deep += "/a-folder-with-quite-a-long-name-" + std::to_string(i);
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
  }
  Store(0, "IPAGothic", deep);
  auto f = Open();
  bool asked = false;
  inspect = [&](TKakuninDlg& d) {
    asked = true;
    d.show();
    for (const QString& s : LayoutFaults(d)) ADD_FAILURE() << s.toStdString();
    const QStringList lines = d.Message->text().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("/.../"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("a-folder-with-quite-a-long-name-3")));
    EXPECT_EQ(d.Message->toolTip(), QString::fromStdString(deep));
  };
  answer = false;
  f->BtnOk->click();
  EXPECT_TRUE(asked);
}

}  // namespace
