// The settings dialog.
#include "shell/settings/TSetteiForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QUrl>
#include <cstdlib>
#include <ctime>

#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/Picture.h"
#include "render/PixelOps.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"
#include "shell/bonus/TOmakeWin.h"
#include "shell/settings/TKakuninDlg.h"

namespace {

constexpr int kClientWidth = 281;
constexpr int kClientHeight = 258;
constexpr int kTimerMs = 33;
// The size of a page as laid out; controls kept at the bottom-right follow the real size.
constexpr int kDesignPageWidth = 257;
constexpr int kDesignPageHeight = 181;

constexpr const char* kMakerTop = " http://ondrelix.example/";
constexpr const char* kMakerHelp = " http://ondrelix.example/help/";
constexpr const char* kGroupTop = " http://lab.ondrelix.example/";
constexpr const char* kMakerSignature = "Ondrelix Works 2026";
constexpr const char* kGroupSignature = "made at the Ondrelix Lab";
constexpr const char* kCreditsVersion = "Version 1.10";

// A list that tells its owner before it opens.
class DropDownList : public QComboBox {
 public:
  DropDownList(QWidget* parent, std::function<void()> before)
      : QComboBox(parent), before_(std::move(before)) {}
  void showPopup() override {
    if (before_) before_();
    QComboBox::showPopup();
  }

 private:
  std::function<void()> before_;
};

// An edit that reports every loss of focus, as leaving the field should.
class ExitEdit : public QLineEdit {
 public:
  ExitEdit(QWidget* parent, std::function<void()> onExit)
      : QLineEdit(parent), onExit_(std::move(onExit)) {}

 protected:
  void focusOutEvent(QFocusEvent* e) override {
    QLineEdit::focusOutEvent(e);
    if (onExit_) onExit_();
  }

 private:
  std::function<void()> onExit_;
};

// A built-in picture; a plain grey one of the given size while it is missing.
Bitmap32 BuiltinOrPlain(const char* name, int w, int h) {
  Picture pic;
  if (LoadBuiltinPicture(name, &pic) == 0 && !pic.rgb.Empty()) return std::move(pic.rgb);
  Bitmap32 b;
  b.Create(w, h, 0x808080);
  return b;
}

QPixmap PixmapOf(const Bitmap32& b) {
  QImage img(reinterpret_cast<const uchar*>(b.pixels.data()), b.width, b.height, b.width * 4,
             QImage::Format_RGB32);
  return QPixmap::fromImage(img.copy());
}

void MakeLink(QLabel* label) {
  QFont f = label->font();
  f.setUnderline(true);
  label->setFont(f);
  label->setCursor(Qt::PointingHandCursor);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // Reachable with Tab as well, shown in the selection colours while it has the focus, and
  // opened with Return, Enter or Space (the dialog's event filter).
  label->setFocusPolicy(Qt::TabFocus);
  label->setStyleSheet(QStringLiteral(
      "QLabel { color: blue; } "
      "QLabel:focus { background: palette(highlight); color: palette(highlighted-text); }"));
}

bool IsActivationKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<const QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

}  // namespace

void BitmapView::paintEvent(QPaintEvent*) {
  if (!picture_ || picture_->Empty()) return;
  QImage img(reinterpret_cast<const uchar*>(picture_->pixels.data()), picture_->width,
             picture_->height, picture_->width * 4, QImage::Format_RGB32);
  QPainter p(this);
  p.drawImage(0, 0, img);
}

TSetteiForm::TSetteiForm(const SetteiFormOptions& options)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      options_(options) {
  if (!options_.confirm) options_.confirm = [](TKakuninDlg& d) { return d.exec() != 0; };
  if (!options_.showError)
    options_.showError = [this](const QString& m) {
      QMessageBox::critical(this, QStringLiteral("Ondrelix"), m);
    };
  if (!options_.openUrl)
    options_.openUrl = [](const QString& a) { QDesktopServices::openUrl(QUrl(a)); };
  if (!options_.browseFolder)
    options_.browseFolder = [this](const QString& start) {
      return QFileDialog::getExistingDirectory(
          this, QStringLiteral("設定ファイルのあるフォルダを選択して下さい。"), start,
          QFileDialog::ShowDirsOnly);
    };
  if (!options_.ctrlHeld)
    options_.ctrlHeld = [] {
      return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
    };

  setWindowTitle(QStringLiteral("Ondrelix"));
  setFont(DialogFont());
  setFixedSize(kClientWidth, kClientHeight);

  // The record and an engine that only catalogues scripts.
  settings_ = std::make_unique<CMainCtl>();
  if (!options_.storePath.empty()) settings_->SetStorePath(options_.storePath);
  timeLine_ = std::make_unique<CTimeLine>(settings_.get(), nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr);
  raster_ = std::make_unique<FontRaster>();
  LoadPictures();
  WriteCreditsVersion(*raster_, credits_, kCreditsVersion);
  aboutAnim_ = std::make_unique<AboutAnimation>(&kaigi_, &credits_, &dodon_);
  BuildControls();

  PreviewFrame = 0;
  DrawAboutAnimation();
  SetteiTimer.setInterval(kTimerMs);
  connect(&SetteiTimer, &QTimer::timeout, this, &TSetteiForm::SetteiTimerTimer);

  settings_->Load();
  const int scale = settings_->GetRenderScale();
  captionWork_.Create(kCaptionSampleWidth * scale, kCaptionSampleHeight * scale, 0);
  EdtSettei->setText(QString::fromStdString(settings_->GetCurPath()));
  fontFace_ = settings_->GetCptFont();

  // A box that changes runs its handler, and the caption box's handler also stores the warning
  // box: every value is read before the first box is set, so none is stored from a box that has
  // not been set yet.
  const bool caption = settings_->GetFlgCaption(), sound = settings_->GetFlgSound(),
             logo = settings_->GetFlgLogo(), warning = settings_->GetFlgWarning(),
             bold = settings_->GetFlgFontBold();
  SwitchWarning->setChecked(warning);
  SwitchCaption->setChecked(caption);
  SwitchSound->setChecked(sound);
  SwitchLogo->setChecked(logo);
  SwitchBold->setChecked(bold);
  fontBold_ = SwitchBold->isChecked();

  // Only faces the caption renderer can draw are offered; a system name selects the face it is
  // drawn with, and any other stored face that is not among them gives way to the first one.
  const std::vector<std::string> faces = CaptionFaces(FontRaster::JapaneseFamilies());
  for (const std::string& f : faces) CaptionFontList->addItem(QString::fromStdString(f));
  const std::string stored = settings_->GetCptFont();
  const CaptionFaceChoice choice =
      ChooseCaptionFace(faces, stored, FontRaster::SystemFaceFamily(stored));
  CaptionFontList->setCurrentIndex(choice.index);
  settings_->SetCptFont(choice.face);
  fontFace_ = settings_->GetCptFont();

  prevPos_ = pos();
  const int mode = settings_->GetDspMode();
  SetDspItems(mode == kDspWindowMode ? kDspModeCount : kDspModeCount - 1);
  DspList->setCurrentIndex(mode >= 0 && mode < DspList->count() ? mode : -1);

  SignatureCounter.Counter = 1;
  SampleIndex = 0;
  previewPeriod_ = PreviewPeriod(kTimerMs);
  samplePeriod_ = SamplePeriod(kTimerMs);
  slidePeriod_ = SlidePeriod(kTimerMs);
  SwitchCaptionClick();
  SwitchWarningClick();
  BtnHelp->move(BtnHelp->x(), HelpSlide::kHiddenTop);
  Slide = HelpSlide();
  if (!options_.random) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    options_.random = [] { return std::rand(); };
  }
  FillScriptList();
  DrawMonitorPreview();
  DrawCaptionSample();

  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect avail = s->availableGeometry();
    move(avail.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    prevPos_ = pos();
  }
  SetteiTimer.start();
}

TSetteiForm::~TSetteiForm() {
  // Hidden while the record still exists: hiding moves the focus, and leaving the folder edit
  // stores its text in the record.
  SetteiTimer.stop();
  omake_.reset();
  hide();
}

void TSetteiForm::SetOmakeWin(TOmakeWin* win) {
  omake_.reset(win);
}

void TSetteiForm::LoadPictures() {
  kaigi_ = BuiltinOrPlain("KAIGI", 244, 157);
  dodon_ = BuiltinOrPlain("DODON", 62, 71);
  credits_ = BuiltinOrPlain("ABOUT", 138, 537);
  gamenPics_[0] = BuiltinOrPlain("GAMEN1", kGamenWidth, kGamenHeight);
  gamenPics_[1] = BuiltinOrPlain("GAMEN2", kGamenWidth, kGamenHeight);
  gamenPics_[2] = BuiltinOrPlain("GAMEN3", kGamenWidth, kGamenHeight);
  lowPower_ = BuiltinOrPlain("LOWPOWER", 69, 14);
  gamen_.Create(kGamenWidth, kGamenHeight, 0);
  sample_.Create(kCaptionSampleWidth, kCaptionSampleHeight, 0);
  about_.Create(kaigi_.width, kaigi_.height, 0);
}

// ---- Controls ----

void TSetteiForm::BuildControls() {
  BtnOk = new QPushButton(QStringLiteral("OK"), this);
  BtnOk->setGeometry(8, 224, 57, 25);
  connect(BtnOk, &QPushButton::clicked, this, &TSetteiForm::BtnOkClick);
  BtnCansel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  BtnCansel->setGeometry(72, 224, 57, 25);
  connect(BtnCansel, &QPushButton::clicked, this, &TSetteiForm::BtnCanselClick);
  // Made before the pages, so that the pages lie over it until it slides out.
  BtnHelp = new QPushButton(QStringLiteral("ﾍﾙﾌﾟ"), this);
  BtnHelp->setGeometry(136, 224, 65, 25);
  BtnHelp->setFocusPolicy(Qt::ClickFocus);
  BtnHelp->setMouseTracking(true);
  BtnHelp->installEventFilter(this);
  connect(BtnHelp, &QPushButton::clicked, this, &TSetteiForm::BtnHelpClick);
  BtnBaron = new QPushButton(this);
  BtnBaron->setGeometry(208, 224, 65, 25);
  BtnBaron->installEventFilter(this);
  connect(BtnBaron, &QPushButton::clicked, this, &TSetteiForm::BtnBaronClick);

  PageCtl = new QTabWidget(this);
  PageCtl->setGeometry(8, 8, 265, 209);
  BuildPage1();
  BuildPage2();
  BuildPage3();
  BuildPage4();
  PageCtl->setCurrentIndex(0);
}

void TSetteiForm::BuildPage1() {
  TAB_Settei1 = new QWidget;
  PageCtl->addTab(TAB_Settei1, QStringLiteral("設定１"));
  Monitor = new QLabel(TAB_Settei1);
  Monitor->setGeometry(18, 19, 125, 100);
  Monitor->setPixmap(PixmapOf(BuiltinOrPlain("MONITOR", 125, 100)));
  Gamen = new BitmapView(TAB_Settei1, &gamen_);
  Gamen->setGeometry(27, 28, kGamenWidth, kGamenHeight);

  DspList = new DropDownList(TAB_Settei1, [this] { DspListDropDown(); });
  DspList->setFont(DialogFont(false));
  DspList->setGeometry(8, 140, 241, DspList->sizeHint().height());
  connect(DspList, &QComboBox::activated, this, [this](int) { DspListChange(); });

  GroupBox2 = new QGroupBox(TAB_Settei1);
  GroupBox2->setGeometry(160, 8, 89, 118);
  auto box = [this](const char* text, int top) {
    auto* b = new QCheckBox(QString::fromUtf8(text), GroupBox2);
    b->move(8, top);
    b->adjustSize();
    return b;
  };
  SwitchCaption = box("字幕", 14);
  connect(SwitchCaption, &QCheckBox::toggled, this, [this] { SwitchCaptionClick(); });
  SwitchSound = box("サウンド", 39);
  connect(SwitchSound, &QCheckBox::toggled, this, [this] { SwitchSoundClick(); });
  SwitchLogo = box("ＺＱロゴ", 65);
  SwitchLogo->setVisible(false);
  connect(SwitchLogo, &QCheckBox::toggled, this, [this] { SwitchLogoClick(); });
  SwitchWarning = box("速度警告", 91);
  connect(SwitchWarning, &QCheckBox::toggled, this, [this] { SwitchWarningClick(); });
  // Tab reads the page from the top: the switches, then the display list below them.
  setTabOrder(SwitchWarning, DspList);

  Signature = new QLabel(QString::fromUtf8(kMakerSignature), TAB_Settei1);
  QFont sf(QStringLiteral("Arial"));
  sf.setPixelSize(11);
  sf.setItalic(true);
  Signature->setFont(sf);
  QPalette sp = Signature->palette();
  sp.setColor(QPalette::WindowText, QColor(128, 128, 128));
  Signature->setPalette(sp);
  Signature->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Signature->setGeometry(115, 165, 133, 18);
  Signature->installEventFilter(this);
  TAB_Settei1->installEventFilter(this);
}

void TSetteiForm::BuildPage2() {
  TAB_Settei2 = new QWidget;
  PageCtl->addTab(TAB_Settei2, QStringLiteral("設定２"));
  CaptionGroup = new QGroupBox(QStringLiteral("字幕フォント"), TAB_Settei2);
  CaptionGroup->setGeometry(8, 8, 241, 81);
  CaptionFontList = new QComboBox(CaptionGroup);
  CaptionFontList->setMaxVisibleItems(5);
  CaptionFontList->setGeometry(8, 17, 161, CaptionFontList->sizeHint().height());
  connect(CaptionFontList, &QComboBox::activated, this, [this](int) { CaptionFontListChange(); });
  SwitchBold = new QCheckBox(QStringLiteral("Bold"), CaptionGroup);
  SwitchBold->move(176, 19);
  SwitchBold->adjustSize();
  connect(SwitchBold, &QCheckBox::toggled, this, [this] { SwitchBoldClick(); });
  CaptionSample = new BitmapView(CaptionGroup, &sample_);
  CaptionSample->setGeometry(8, 44, kCaptionSampleWidth, kCaptionSampleHeight);

  GroupBox1 = new QGroupBox(QStringLiteral("設定ファイルのフォルダ"), TAB_Settei2);
  GroupBox1->setGeometry(8, 96, 241, 73);
  EdtSettei = new ExitEdit(GroupBox1, [this] { EdtSetteiExit(); });
  EdtSettei->setGeometry(8, 24, 225, 20);
  BtnSansho = new QPushButton(QStringLiteral("参照"), GroupBox1);
  BtnSansho->setGeometry(176, 48, 51, 17);
  connect(BtnSansho, &QPushButton::clicked, this, &TSetteiForm::BtnSanshoClick);
}

void TSetteiForm::BuildPage3() {
  TAB_Settei3 = new QWidget;
  PageCtl->addTab(TAB_Settei3, QStringLiteral("設定３"));
  ScriptList = new QListWidget(TAB_Settei3);
  ScriptList->setGeometry(8, 8, 241, 161);
}

void TSetteiForm::BuildPage4() {
  TAB_About = new QWidget;
  PageCtl->addTab(TAB_About, QStringLiteral("About"));
  Panel1 = new QFrame(TAB_About);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(2);
  Panel1->setGeometry(6, 6, 245, 137);
  AboutWin = new BitmapView(Panel1, &about_);
  AboutWin->setGeometry(Panel1->contentsRect());
  AboutWin->installEventFilter(this);

  zqlink = new QLabel(QString::fromUtf8(kGroupTop).trimmed(), TAB_About);
  MakeLink(zqlink);
  // Right-aligned labels keep their right edge at the page's inner margin, however long the
  // address is.
  zqlink->adjustSize();
  zqlink->move(kDesignPageWidth - 8 - zqlink->width(), 147);
  zqlink->installEventFilter(this);
  Label3 = new QLabel(QStringLiteral("Support web site"), TAB_About);
  Label3->move(8, 166);
  Label3->adjustSize();
  velnorilink = new QLabel(QString::fromUtf8(kMakerTop).trimmed(), TAB_About);
  MakeLink(velnorilink);
  velnorilink->adjustSize();
  velnorilink->move(kDesignPageWidth - 8 - velnorilink->width(), 166);
  velnorilink->installEventFilter(this);
  TAB_About->installEventFilter(this);
}

bool TSetteiForm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type t = event->type();
  if (t == QEvent::Resize && (watched == TAB_Settei1 || watched == TAB_About)) {
    // Keep the signature and the maker's address at the page's bottom-right.
    const QSize s = static_cast<QWidget*>(watched)->size();
    const QPoint shift(s.width() - kDesignPageWidth, s.height() - kDesignPageHeight);
    if (watched == TAB_Settei1) Signature->move(QPoint(115, 165) + shift);
    if (watched == TAB_About)
      velnorilink->move(s.width() - 8 - velnorilink->width(), 166 + shift.y());
  } else if (t == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(event);
    if (watched == Signature) SignatureClick();
    if (watched == AboutWin) AboutWinMouseDown();
    if (watched == BtnBaron && me->button() == Qt::LeftButton)
      BtnBaronMouseDown(me->position().toPoint());
    if (watched == zqlink) zqlinkClick();
    if (watched == velnorilink) velnorilinkClick();
  } else if (IsActivationKey(event) && (watched == zqlink || watched == velnorilink)) {
    if (watched == zqlink) zqlinkClick();
    if (watched == velnorilink) velnorilinkClick();
    return true;
  } else if (t == QEvent::MouseButtonRelease && watched == AboutWin) {
    AboutWinMouseUp();
  } else if ((t == QEvent::MouseMove || t == QEvent::Enter) && watched == BtnHelp) {
    BtnHelpMouseMove();
  }
  return QWidget::eventFilter(watched, event);
}

void TSetteiForm::closeEvent(QCloseEvent* event) {
  if (omake_ && omake_->isVisible()) omake_->Finish(false);
  SetteiTimer.stop();
  event->accept();
}

// ---- Display modes ----

QSize TSetteiForm::ScreenSize() const {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return s ? s->geometry().size() : QSize(640, 480);
}

void TSetteiForm::SetDspItems(int count) {
  const QSize sz = ScreenSize();
  while (DspList->count() > count) DspList->removeItem(DspList->count() - 1);
  while (DspList->count() < count) {
    DspList->addItem(
        QString::fromStdString(DspItemText(DspList->count(), sz.width(), sz.height())));
  }
}

void TSetteiForm::DspListDropDown() {
  SetDspItems(DspCountOnDropDown(DspList->count(), DspList->currentIndex(), options_.ctrlHeld()));
}

void TSetteiForm::DspListChange() {
  settings_->SetDspMode(DspList->currentIndex());
  SetDspItems(DspCountOnChange(DspList->count(), DspList->currentIndex()));
  DrawMonitorPreview();
}

void TSetteiForm::DrawMonitorPreview() {
  const QSize sz = ScreenSize();
  const QColor face = palette().color(QPalette::Button);
  ::DrawMonitorPreview(gamen_, gamenPics_[PreviewFrame % 3], lowPower_, settings_->GetDspMode(),
                       sz.width(), sz.height(), settings_->GetFlgWarning(), face.rgb() & 0xFFFFFF);
  RefreshView(Gamen);
}

void TSetteiForm::RefreshView(BitmapView* view) {
  if (view) view->update();
}

// ---- Switches ----

void TSetteiForm::SwitchCaptionClick() {
  settings_->SetFlgCaption(SwitchCaption->isChecked());
  if (SwitchCaption->isChecked()) {
    gamenPics_[0] = BuiltinOrPlain("GAMEN1", kGamenWidth, kGamenHeight);
    gamenPics_[2] = BuiltinOrPlain("GAMEN3", kGamenWidth, kGamenHeight);
    SwitchWarningClick();
  } else {
    for (int i : {0, 2}) {
      FillRect(gamenPics_[i], kGamenCaptionLeft, kGamenCaptionTop,
               kGamenCaptionRight - kGamenCaptionLeft, kGamenCaptionBottom - kGamenCaptionTop, 0);
    }
  }
  DrawMonitorPreview();
}

void TSetteiForm::SwitchSoundClick() {
  settings_->SetFlgSound(SwitchSound->isChecked());
}

void TSetteiForm::SwitchLogoClick() {
  settings_->SetFlgLogo(SwitchLogo->isChecked());
  DrawMonitorPreview();
}

void TSetteiForm::SwitchWarningClick() {
  settings_->SetFlgWarning(SwitchWarning->isChecked());
  DrawMonitorPreview();
}

void TSetteiForm::SwitchBoldClick() {
  fontFace_ = settings_->GetCptFont();
  fontBold_ = SwitchBold->isChecked();
  settings_->SetFlgFontBold(fontBold_);
  DrawCaptionSample();
}

void TSetteiForm::CaptionFontListChange() {
  settings_->SetCptFont(CaptionFontList->currentText().toStdString());
  fontFace_ = settings_->GetCptFont();
  DrawCaptionSample();
}

void TSetteiForm::DrawCaptionSample() {
  if (captionWork_.Empty()) return;  // not made until the settings are loaded
  ::DrawCaptionSample(*raster_, captionWork_, sample_, fontFace_, fontBold_,
                      settings_->GetRenderScale(), &SampleIndex);
  RefreshView(CaptionSample);
}

// ---- Folder ----

void TSetteiForm::EdtSetteiExit() {
  const std::string folder =
      NormaliseFolder(EdtSettei->text().toStdString(), QDir::currentPath().toStdString());
  EdtSettei->setText(QString::fromStdString(folder));
  settings_->SetCurPath(folder);
}

void TSetteiForm::BtnSanshoClick() {
  const QString chosen = options_.browseFolder(EdtSettei->text());
  if (chosen.isEmpty()) return;
  EdtSettei->setText(chosen);
  settings_->SetCurPath(chosen.toStdString());
  EdtSetteiExit();
}

// ---- Script list ----

void TSetteiForm::FillScriptList() {
  ScriptList->clear();
  ScriptIdentities.clear();
  const int n = timeLine_->ScanFolder(settings_->GetCurPath() + "/");
  for (int i = 0; i < n; ++i) {
    std::string title;
    std::int32_t id = 0;
    if (timeLine_->ScriptIdentity(i, &title, &id) != 0) continue;
    auto* row = new QListWidgetItem(QString::fromStdString(Cp932ToUtf8(title)), ScriptList);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(settings_->NoExeContains(id) ? Qt::Unchecked : Qt::Checked);
    ScriptIdentities.push_back(id);
  }
}

void TSetteiForm::ApplyScriptList() {
  std::vector<bool> checked;
  for (int i = 0; i < ScriptList->count(); ++i)
    checked.push_back(ScriptList->item(i)->checkState() == Qt::Checked);
  ::ApplyScriptList(*settings_, ScriptIdentities, checked);
}

// ---- OK and Cancel ----

void TSetteiForm::BtnOkClick() {
  settings_->StartScanClock();
  const int n = settings_->CountScripts(settings_->GetCurPath());
  if (n <= 0) {
    TKakuninDlg dlg(this);
    dlg.SetTitle(QStringLiteral("フォルダ指定が微妙です"));
    QString message = QStringLiteral("指定された設定ファイル用フォルダ\n");
    message += dlg.ShortenPath(EdtSettei->text());
    message += QStringLiteral("\n");
    message += n == 0 ? QStringLiteral("配下にはスクリプトファイルが存在しません。\n\n")
                      : QStringLiteral("は複雑すぎるか大雑把すぎて探してられません。\n\n");
    message += QStringLiteral("このまま設定してもよろしいですか？");
    dlg.SetMessage(message);
    // The message may show the folder shortened; the pointer on it shows the whole path.
    dlg.Message->setToolTip(EdtSettei->text());
    if (!options_.confirm(dlg)) return;
  }
  ApplyScriptList();
  std::string error;
  if (settings_->Save(&error) != 0) {
    options_.showError(QString::fromStdString(error));
    return;
  }
  close();
}

void TSetteiForm::BtnCanselClick() {
  close();
}

// ---- Timer and animations ----

void TSetteiForm::SetteiTimerTimer() {
  const QPoint p = pos();
  moveX_ = p.x() - prevPos_.x();
  moveY_ = p.y() - prevPos_.y();
  prevPos_ = p;

  const int page = PageCtl->currentIndex();
  if (page == 0) {
    if (previewTicks_.Tick(previewPeriod_)) {
      PreviewFrame = (PreviewFrame + 1) % 3;
      DrawMonitorPreview();
    }
  } else if (page == 1) {
    if (sampleTicks_.Tick(samplePeriod_)) {
      ++SampleIndex;
      DrawCaptionSample();
    }
  } else {
    DrawAboutAnimation();
  }

  const int top = Slide.Tick(BtnHelp->y(), slidePeriod_);
  if (top != BtnHelp->y()) BtnHelp->move(BtnHelp->x(), top);
  aboutAnim_->Zoom(aboutHeld_);
}

void TSetteiForm::DrawAboutAnimation() {
  aboutAnim_->Step(about_);
  RefreshView(AboutWin);
}

void TSetteiForm::SetTimerInterval(int ms) {
  if (ms <= 0) {
    SetteiTimer.stop();
    return;
  }
  SetteiTimer.start(ms);
}

// ---- Help, the signature, the bonus button and the web links ----

void TSetteiForm::BtnHelpMouseMove() {
  Slide.PointerReached();
}

void TSetteiForm::BtnHelpClick() {
  OpenWebPage(QString::fromUtf8(kMakerHelp));
}

void TSetteiForm::SignatureClick() {
  bool group = false;
  if (SignatureCounter.Click(&group)) SwitchLogo->setVisible(true);
  Signature->setText(QString::fromUtf8(group ? kGroupSignature : kMakerSignature));
}

QRect TSetteiForm::DialogRect() const {
  return frameGeometry();
}

void TSetteiForm::BtnBaronMouseDown(const QPoint& at) {
  // The press point in the window's own coordinates, frame included, so that the picture of the
  // dialog hangs exactly from where the pointer went down.
  const QPoint frame = geometry().topLeft() - frameGeometry().topLeft();
  pressPoint_ = BtnBaron->pos() + at + frame;
}

void TSetteiForm::BtnBaronClick() {
  const int r = options_.random();
  if (r % 3 != 0 || Slide.Active) {
    if (omake_ && !omake_->isVisible()) omake_->show();
    return;
  }
  Slide.Start();
}

int TSetteiForm::RandomVariant() {
  return VariantOf(options_.random());
}

void TSetteiForm::OpenWebPage(const QString& address) {
  options_.openUrl(address.trimmed());
}

void TSetteiForm::velnorilinkClick() {
  OpenWebPage(QString::fromUtf8(kMakerTop));
}

void TSetteiForm::zqlinkClick() {
  OpenWebPage(QString::fromUtf8(kGroupTop));
}
