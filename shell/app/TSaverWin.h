// The window of the running saver: shows the engine's picture in one of five display modes,
// drives the playback passes from the event loop, ends on input, and in window mode offers the
// control panel for watching and testing scripts.
#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CMainCtl;
class CPlayback;
struct FrameMove;
class MediaDevice;
class PassDriver;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScreen;
class QSlider;
class QtMediaDevice;
class QtFrameScaler;
class QtPictureWindow;
class QtShmResource;
class QtShowWatcher;
class QtScreenSaverInhibit;
class SaverObjects;
class WindowSurface;

struct SaverWinOptions {
  // Loads the settings record right after it is made (default: from the store).
  std::function<void(CMainCtl&)> loadSettings;
  // The media device; null makes a Qt Multimedia one shown in this window.
  MediaDevice* device = nullptr;
  // The millisecond clock; null reads the steady clock.
  std::function<std::int32_t()> clock;
  // The screen to fill; null is the primary screen.
  QScreen* screen = nullptr;
  // Seed of the play order and the interval playlist; 0 takes the time of day.
  unsigned seed = 0;
  // Whether showing the window starts the passes (tests drive them by hand).
  bool autoRun = true;
};

// Which screens a full-screen saver blacks out besides the one it plays on (`showScreen`, an index
// into `screens`): every other one, except a screen that only mirrors one already counted (the
// same rectangle), since a cover there would hide the show or be a second cover. Empty
// rectangles are left alone.
QList<int> ScreensToCover(const QList<QRect>& screens, int showScreen);

class TSaverWin : public QWidget {
  Q_OBJECT

 public:
  explicit TSaverWin(const SaverWinOptions& options = SaverWinOptions());
  ~TSaverWin() override;

  // The display mode in force (mode 0 may have fallen back to 1).
  int DisplayMode() const { return mode_; }
  CPlayback& Playback();
  SaverObjects& Objects() { return *objects_; }
  // The native picture window fed from shared memory, where the picture is shown so (else null).
  QtPictureWindow* PictureWindow() const { return pictureWin_; }
  // The X server's stretch of the frame in modes 2 and 3, where it is used (else null).
  QtFrameScaler* FrameScaler() const { return scaler_.get(); }
  QtMediaDevice* QtDevice() const { return qtDevice_.get(); }
  // Window mode: watches the playing show's file, so a saved edit plays at once (else null).
  QtShowWatcher* ShowWatcher() const { return showWatcher_.get(); }
  // Modes 1 to 3: the black windows over the other screens while the saver is shown.
  int CoverCount() const { return static_cast<int>(covers_.size()); }
  // Input on a cover window ends the saver as it would on this one.
  void CoverInput(QEvent* event);
  // Where the window's picture lands, in the window's own coordinates.
  QRect PictureRect() const;
  // Runs one pass now (as the pass timer does) and arms the timer for the next deadline.
  void RunPass();
  // The cursor position recorded when the window was shown (start of the mouse test).
  QPoint StartPos;
  // Shows the standard error box; replaced where no box may block (tests).
  std::function<void(const QString&)> ShowError;

  // The control panel, as designed.
  QWidget* Control = nullptr;
  QCheckBox* NoLogo = nullptr;
  QCheckBox* Counter = nullptr;
  QPushButton* LogWrite = nullptr;
  QPushButton* ReturnTop = nullptr;
  QLabel* Label1 = nullptr;
  QSlider* SpeedBar = nullptr;
  QLineEdit* SpeedEdit = nullptr;
  QPushButton* StartStop = nullptr;
  QPushButton* Exit = nullptr;

  void StartStopClick();
  void ExitClick();
  void ReturnTopClick();
  void LogWriteClick();
  void CounterClick();
  void NoLogoClick();
  void SpeedBarChange(int position);
  void SpeedEditChange(const QString& text);

 protected:
  void showEvent(QShowEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate(const SaverWinOptions& options);
  void BuildControlPanel();
  bool StartExclusiveDisplay();
  void ShowDamage();
  void PresentParts(const QRect* parts, int count, const FrameMove* move);
  void MoveFrame(const FrameMove& move);
  void UseFrameScaler();
  void ScheduleNextPass();
  void AfterInput();
  bool FullScreenMode() const { return mode_ >= 0 && mode_ <= 3; }
  QRect SurfaceToWidget(const QRect& r) const;
  void WatchShowFile();
  void OpenCovers();
  void OpenCover(QScreen* screen);
  void CloseCovers();
  void ShowFileChanged();

  std::unique_ptr<QtMediaDevice> qtDevice_;
  std::unique_ptr<QtShmResource> shm_;  // the picture's memory on an X11 server with MIT-SHM
  std::unique_ptr<WindowSurface> surface_;
  QtPictureWindow* pictureWin_ = nullptr;  // a child window; null when Qt paints the picture
  // Modes 2 and 3 on a server that stretches frames as we do: the frame goes to it unstretched.
  std::unique_ptr<QtFrameScaler> scaler_;
  std::unique_ptr<SaverObjects> objects_;
  std::unique_ptr<QtShowWatcher> showWatcher_;
  std::string watchedPath_;  // the show file given to showWatcher_ last
  // Top-level windows of their own, so the program's last clean-up may delete them before the
  // saver: they are watched, not owned.
  std::vector<QPointer<QWidget>> covers_;
  // Window mode: keeps the desktop's own screen saver off while the window is open.
  std::unique_ptr<QtScreenSaverInhibit> inhibit_;
  // The clock, the seed, the settings loader and the pass rule.
  std::unique_ptr<PassDriver> driver_;
  QScreen* screen_ = nullptr;
  QImage image_;  // Format_RGB32 over the window surface's pixels
  QTimer passTimer_;
  QSize laidOutSize_;
  int mode_ = 4;
  double ratio_ = 1.0;  // device pixels per window unit for the surface in modes 1 to 3
  bool autoRun_ = true;
  bool shown_ = false;
  bool inPass_ = false;
  bool closing_ = false;
  std::int32_t lastShown_ = INT32_MIN / 2;  // clock of the last repaint request
  std::int32_t armedFor_ = INT32_MIN;       // the deadline the pass timer was started for
  bool armedPlaying_ = false;               // ...while a show or a built-in item was playing

  // How punctual the timer-driven passes are, for measuring (ONDRELIX_PASS_STATS names a file
  // that receives a summary once a second).
  struct PassStats {
    QString path;
    std::int64_t passes = 0;
    std::int64_t overOneTick = 0;  // frame passes more than one tick after their deadline
    std::int32_t worstLateMs = 0;
    std::int32_t longestPassMs = 0;  // the work of one pass (a show loading, music opening)
    std::int64_t shows = 0;          // shows started, so a soak run can sample once per show
    std::int64_t showsEnded = 0;     // shows whose play ended (the pause and the next load follow)
    std::int64_t pixelsShown = 0;    // window pixels sent to the server (or stretched by it)
    bool wasPlayingShow = false;
    std::int32_t nextWrite = 0;
  } stats_;
  void RecordPass(std::int32_t now);
  void TrimAfterShowChange();
  bool playedShow_ = false;  // a show was playing after the last pass
};

// The Qt media backend is chosen and the sound libraries quieted before the application object
// exists.
void PrepareSaverApplication();
