// The settings dialog: data folder, caption font, display mode, switches and the script list,
// with its small animations (display-mode picture, caption sample, About page, Help button).
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "render/Bitmap.h"
#include "settings/DialogLogic.h"
#include "shell/bonus/OmakeHost.h"

class CMainCtl;
class CTimeLine;
class FontRaster;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class TKakuninDlg;
class TOmakeWin;

// Shows a 32-bit engine picture at its natural size, clipped to the widget.
class BitmapView : public QWidget {
 public:
  BitmapView(QWidget* parent, const Bitmap32* picture) : QWidget(parent), picture_(picture) {}

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const Bitmap32* picture_;
};

// Hooks that stand in for the desktop in tests; every one has a working default.
struct SetteiFormOptions {
  // Where the settings record loads from and saves to; empty: the user's store.
  std::string storePath;
  // Asks the confirmation question; true for OK. Default: the dialog shown modally.
  std::function<bool(TKakuninDlg&)> confirm;
  // Shows an error box. Default: QMessageBox::critical.
  std::function<void(const QString&)> showError;
  // Opens an address in the web browser. Default: QDesktopServices::openUrl.
  std::function<void(const QString&)> openUrl;
  // Lets the user choose a folder, starting at the given one; empty when cancelled.
  std::function<QString(const QString&)> browseFolder;
  // Whether Ctrl is held now. Default: the keyboard's state.
  std::function<bool()> ctrlHeld;
  // The random source (non-negative numbers). Default: rand(), seeded with the time.
  std::function<int()> random;
};

class TSetteiForm : public QWidget, public OmakeHost {
  Q_OBJECT

 public:
  explicit TSetteiForm(const SetteiFormOptions& options = SetteiFormOptions());
  ~TSetteiForm() override;

  CMainCtl& Settings() { return *settings_; }

  // Operations of the dialog.
  void DrawMonitorPreview();
  void DrawCaptionSample();
  void DrawAboutAnimation();
  void FillScriptList();
  void ApplyScriptList();
  void OpenWebPage(const QString& address);

  // What the bonus window uses (OmakeHost); the press point is on BtnBaron.
  QWidget* HostWindow() override { return this; }
  void SetOmakeWin(TOmakeWin* win) override;
  int RandomVariant() override;
  int Random() override { return options_.random(); }
  QRect DialogRect() const override;
  int DialogVelocityX() const override { return moveX_ * 256; }
  int DialogVelocityY() const override { return moveY_ * 256; }
  QPoint PressPoint() const override { return pressPoint_; }
  void SetTimerInterval(int ms) override;
  TOmakeWin* OmakeWin() const { return omake_.get(); }

  // Event handlers.
  void BtnOkClick();
  void BtnCanselClick();
  void BtnHelpClick();
  void BtnHelpMouseMove();
  void BtnBaronClick();
  void BtnBaronMouseDown(const QPoint& at);
  void DspListChange();
  void DspListDropDown();
  void SwitchCaptionClick();
  void SwitchSoundClick();
  void SwitchLogoClick();
  void SwitchWarningClick();
  void SwitchBoldClick();
  void CaptionFontListChange();
  void EdtSetteiExit();
  void BtnSanshoClick();
  void SignatureClick();
  void SetteiTimerTimer();
  void AboutWinMouseDown() { aboutHeld_ = true; }
  void AboutWinMouseUp() { aboutHeld_ = false; }
  void velnorilinkClick();
  void zqlinkClick();

  // Controls, as designed.
  QPushButton* BtnOk = nullptr;
  QPushButton* BtnCansel = nullptr;
  QPushButton* BtnHelp = nullptr;
  QPushButton* BtnBaron = nullptr;
  QTabWidget* PageCtl = nullptr;
  QWidget* TAB_Settei1 = nullptr;
  QWidget* TAB_Settei2 = nullptr;
  QWidget* TAB_Settei3 = nullptr;
  QWidget* TAB_About = nullptr;
  QLabel* Monitor = nullptr;
  BitmapView* Gamen = nullptr;
  QComboBox* DspList = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QCheckBox* SwitchCaption = nullptr;
  QCheckBox* SwitchSound = nullptr;
  QCheckBox* SwitchLogo = nullptr;
  QCheckBox* SwitchWarning = nullptr;
  QLabel* Signature = nullptr;
  QGroupBox* CaptionGroup = nullptr;
  QComboBox* CaptionFontList = nullptr;
  QCheckBox* SwitchBold = nullptr;
  BitmapView* CaptionSample = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* EdtSettei = nullptr;
  QPushButton* BtnSansho = nullptr;
  QListWidget* ScriptList = nullptr;
  QFrame* Panel1 = nullptr;
  BitmapView* AboutWin = nullptr;
  QLabel* zqlink = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* velnorilink = nullptr;
  QTimer SetteiTimer;

  // State the tests look at.
  int PreviewFrame = 0;
  int SampleIndex = 0;
  HelpSlide Slide;
  SignatureClicks SignatureCounter;
  std::vector<std::int32_t> ScriptIdentities;
  const Bitmap32& GamenPicture() const { return gamen_; }
  AboutAnimation& About() { return *aboutAnim_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildPage1();
  void BuildPage2();
  void BuildPage3();
  void BuildPage4();
  void LoadPictures();
  void SetDspItems(int count);
  void RefreshView(BitmapView* view);
  QSize ScreenSize() const;

  SetteiFormOptions options_;
  std::unique_ptr<CMainCtl> settings_;
  std::unique_ptr<CTimeLine> timeLine_;
  std::unique_ptr<FontRaster> raster_;
  std::unique_ptr<TOmakeWin> omake_;

  // Pictures: the scene, the head, the credits, three sample screens and the badge.
  Bitmap32 kaigi_, dodon_, credits_, gamenPics_[3], lowPower_;
  Bitmap32 gamen_, captionWork_, sample_, about_;
  std::unique_ptr<AboutAnimation> aboutAnim_;
  std::string fontFace_;  // the face of the caption work bitmap
  bool fontBold_ = false;

  int previewPeriod_ = 0, samplePeriod_ = 0, slidePeriod_ = 0;
  TickDivider previewTicks_, sampleTicks_;
  bool aboutHeld_ = false;
  QPoint prevPos_;
  int moveX_ = 0, moveY_ = 0;
  QPoint pressPoint_;
};
