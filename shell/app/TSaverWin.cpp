// The saver window: display modes, the pass timer, input and the window-mode control panel.
#include "shell/app/TSaverWin.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOption>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/CPlayback.h"
#include "app/DisplayGeometry.h"
#include "app/PassDriver.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "platform/DisplayCheck.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"
#include "shell/app/QtFrameScaler.h"
#include "shell/app/QtMediaDevice.h"
#include "shell/app/QtPictureWindow.h"
#include "shell/app/QtShowWatcher.h"
#include "shell/platform/QtQuietSound.h"
#include "shell/platform/QtScreenSaverInhibit.h"
#include "shell/platform/QtShmResource.h"

namespace {

// Pixels a region covers (its rectangles do not overlap).
std::int64_t AreaOf(const QRegion& region) {
  std::int64_t area = 0;
  for (const QRect& r : region) area += static_cast<std::int64_t>(r.width()) * r.height();
  return area;
}

constexpr int kMouseSlack = 30;  // a movement of more than this many pixels ends the saver
constexpr int kPanelHeight = 39;
constexpr int kSpeedMax = 1000;
constexpr int kSpeedEditChars = 4;
constexpr int kCoalesceMs = 8;    // a pass due this soon shows its change with the last one's
constexpr int kHoldLimitMs = 16;  // but no change waits longer than this to be shown

QFont PanelFont() {
  // The panel's face, with the installed Japanese Gothic faces standing in for it.
  QFont f;
  f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                 QStringLiteral("IPAGothic")});
  f.setPixelSize(12);
  return f;
}

// A black, frameless, cursorless window over one screen that the show does not play on. Input
// on it goes to the saver window.
class CoverWindow : public QWidget {
 public:
  CoverWindow(TSaverWin* saver, QScreen* screen) : saver_(saver) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setCursor(Qt::BlankCursor);
    setMouseTracking(true);
    setScreen(screen);
    setGeometry(screen->geometry());
    setWindowState(Qt::WindowFullScreen);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter(this).fillRect(event->rect(), Qt::black);
  }
  void mouseMoveEvent(QMouseEvent* event) override { saver_->CoverInput(event); }
  void mousePressEvent(QMouseEvent* event) override { saver_->CoverInput(event); }
  void keyPressEvent(QKeyEvent* event) override { saver_->CoverInput(event); }

 private:
  TSaverWin* saver_;
};

// The width of the speed box that shows its longest number whole in the box's font.
int SpeedEditWidth(const QLineEdit& edit) {
  int digit = 0;
  for (char c = '0'; c <= '9'; ++c)
    digit = qMax(digit, edit.fontMetrics().horizontalAdvance(QLatin1Char(c)));
  QStyleOptionFrame opt;
  opt.initFrom(&edit);
  opt.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, &edit);
  const QMargins m = edit.textMargins();
  const int text =
      digit * kSpeedEditChars + 2 * 2 + m.left() + m.right();  // 2: the edit's own margin
  return edit.style()->sizeFromContents(QStyle::CT_LineEdit, &opt, QSize(text, 20), &edit).width();
}

}  // namespace

QList<int> ScreensToCover(const QList<QRect>& screens, int showScreen) {
  QList<int> cover;
  QList<QRect> taken;
  if (showScreen >= 0 && showScreen < screens.size()) taken.append(screens[showScreen]);
  for (int i = 0; i < screens.size(); ++i) {
    if (i == showScreen || screens[i].isEmpty() || taken.contains(screens[i])) continue;
    taken.append(screens[i]);
    cover.append(i);
  }
  return cover;
}

namespace {

// The saver plays for hours while shows come and go, each with pictures of a few hundred
// kilobytes to megabytes, music buffers and media threads. Three settings of the C library's
// allocator, made before any thread starts, keep its resident memory near what is in use without
// making a frame pay for fresh pages:
// - Blocks from 1 MiB up always get pages of their own, given back when freed. By default the
//   threshold rises to the largest block freed so far, and from then on such blocks come from
//   the heaps, where the small blocks allocated between them keep the freed space from going
//   back (in a 2-hour soak, anonymous memory crept up by about 10 MB an hour that way). Not
//   lower: a caption's bitmaps (up to 760 KiB full screen on 1920 x 1080) are made again for
//   every caption, and pages of their own were faulted in page by page each time (a quarter of
//   the page faults of the lanterns show full screen); from the heap they reuse its pages.
// - Up to 4 MiB free at the top of the main heap stays there (by default anything over
//   128 KiB goes back, and the next picture or caption faults it in again); the trim at each
//   show's start still gives it all back.
// - Two heaps instead of eight per core: each thread heap keeps its own free pages, and the
//   media threads' allocations are few.
void TuneAllocator() {
#ifdef __GLIBC__
  constexpr int kOwnPagesFromBytes = 1024 * 1024;
  constexpr int kKeptFreeTopBytes = 4 * 1024 * 1024;
  constexpr int kHeaps = 2;
  mallopt(M_MMAP_THRESHOLD, kOwnPagesFromBytes);
  mallopt(M_TRIM_THRESHOLD, kKeptFreeTopBytes);
  mallopt(M_ARENA_MAX, kHeaps);
#endif
}

}  // namespace

void PrepareSaverApplication() {
  TuneAllocator();
  SelectMediaBackend();
  QuietSoundSystems();
}

TSaverWin::TSaverWin(const SaverWinOptions& options) {
  FormCreate(options);
}

TSaverWin::~TSaverWin() {
  passTimer_.stop();
  if (surface_) surface_->AllowFrameMoves(false);  // the frame it moved lives in the playback
  for (const QPointer<QWidget>& cover : covers_) delete cover.data();  // none is in an event now
  covers_.clear();
  showWatcher_.reset();
  inhibit_.reset();
  // The playback objects hold the device; they go first, then the device and its video widget.
  objects_.reset();
  qtDevice_.reset();
  if (surface_) surface_->SetFrameScaler(nullptr);
  scaler_.reset();
  delete pictureWin_;  // before the memory it shows
  surface_.reset();
}

CPlayback& TSaverWin::Playback() {
  return objects_->Playback();
}

void TSaverWin::FormCreate(const SaverWinOptions& options) {
  autoRun_ = options.autoRun;
  screen_ = options.screen ? options.screen : QGuiApplication::primaryScreen();
  driver_ = std::make_unique<PassDriver>(
      PassDriverOptions{options.loadSettings, options.clock, options.seed});
  ShowError = [this](const QString& message) {
    if (HeadlessPlatform()) {
      qWarning("%s", qPrintable(message));
      return;
    }
    QMessageBox::critical(this, windowTitle(), message);
  };

  setWindowTitle(QStringLiteral("Ondrelix"));
  // The form's black background is painted with the picture (paintEvent); the controls keep
  // the application's palette.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFont(PanelFont());

  MediaDevice* device = options.device;
  if (device == nullptr) {
    qtDevice_ = std::make_unique<QtMediaDevice>(this);
    device = qtDevice_.get();
  }
  // The picture lives where the X server can read it, when it can.
  shm_ = QtShmResource::Open();
  surface_ = std::make_unique<WindowSurface>(PictureMemory(shm_.get()));
  objects_ = std::make_unique<SaverObjects>(
      device, [this](CMainCtl& s) { driver_->LoadSettings(s); }, surface_.get());
  CMainCtl& settings = *objects_->Settings;
  mode_ = settings.GetDspMode();
  if (mode_ < 0 || mode_ > 4) mode_ = 1;

  BuildControlPanel();
  const QRect screenRect = screen_ ? screen_->geometry() : QRect(0, 0, 640, 480);
  if (FullScreenMode()) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setGeometry(screenRect);
    setWindowState(Qt::WindowFullScreen);
    Control->hide();
    StartStop->hide();
    Exit->hide();
    NoLogo->setChecked(false);
    Counter->setChecked(false);
    setCursor(Qt::BlankCursor);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setMouseTracking(true);
  } else {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kWindowClientWidth, kWindowClientHeight);
    NoLogo->setChecked(true);
    Counter->setChecked(true);
    showWatcher_ = std::make_unique<QtShowWatcher>();
    showWatcher_->OnChanged = [this] { ShowFileChanged(); };
    inhibit_ = std::make_unique<QtScreenSaverInhibit>();
  }

  if (mode_ == kDisplayExclusive && !StartExclusiveDisplay()) {
    mode_ = kDisplayCentred;
    settings.SetDspMode(mode_);  // for this run only; nothing is saved
  }

  // Modes 1 to 3 lay the picture out in device pixels, so a scaled screen shows it sharp.
  int screenW = screenRect.width(), screenH = screenRect.height();
  ratio_ = 1.0;
  if (mode_ >= 1 && mode_ <= 3 && screen_) {
    ratio_ = screen_->devicePixelRatio();
    screenW = static_cast<int>(std::lround(screenW * ratio_));
    screenH = static_cast<int>(std::lround(screenH * ratio_));
  }
  laidOutSize_ =
      FullScreenMode() ? screenRect.size() : QSize(kWindowClientWidth, kWindowClientHeight);
  objects_->Layout(screenW, screenH);
  WindowSurface& surface = *objects_->Window;
  image_ = QImage(reinterpret_cast<uchar*>(surface.Picture().pixels.data()), surface.Width(),
                  surface.Height(), surface.Width() * 4, QImage::Format_RGB32);
  image_.setDevicePixelRatio(ratio_);
  if (qtDevice_) {
    qtDevice_->SetDestinationMapper([this](const QRect& r) { return SurfaceToWidget(r); });
  }

  objects_->PrepareShows(driver_->Seed());
  Playback().PaceForDisplay();
  Playback().Begin(NoLogo->isChecked(), Counter->isChecked());
  driver_->Drive(&Playback());

  stats_.path = qEnvironmentVariable("ONDRELIX_PASS_STATS");
  passTimer_.setSingleShot(true);
  passTimer_.setTimerType(Qt::PreciseTimer);
  connect(&passTimer_, &QTimer::timeout, this, &TSaverWin::RunPass);
}

void TSaverWin::BuildControlPanel() {
  Control = new QWidget(this);
  Control->setGeometry(0, 480, 640, kPanelHeight);
  Control->setAutoFillBackground(true);

  NoLogo = new QCheckBox(QStringLiteral("No Logo"), Control);
  NoLogo->setGeometry(8, 4, 81, 17);
  Counter = new QCheckBox(QStringLiteral("Timer"), Control);
  Counter->setGeometry(8, 20, 65, 17);
  LogWrite = new QPushButton(QStringLiteral("Log"), Control);
  LogWrite->setGeometry(80, 8, 49, 25);
  ReturnTop = new QPushButton(QStringLiteral("Return to Top"), Control);
  ReturnTop->setGeometry(168, 8, 89, 25);
  Label1 = new QLabel(QStringLiteral("Speed"), Control);
  // The designed box fits the caption in the original face; in a wider stand-in face it grows
  // to the left, into the free space, rather than cut the word or run under the speed bar.
  const QSize need = Label1->sizeHint().expandedTo(QSize(31, 12));
  Label1->setGeometry(288 + 31 - need.width(), 14, need.width(), need.height());
  SpeedBar = new QSlider(Qt::Horizontal, Control);
  SpeedBar->setGeometry(320, 8, 150, 25);
  SpeedBar->setRange(0, kSpeedMax);
  SpeedBar->setValue(33);
  SpeedBar->setTickInterval(1);
  SpeedBar->setTickPosition(QSlider::TicksBelow);
  SpeedEdit = new QLineEdit(QStringLiteral("33"), Control);
  SpeedEdit->setMaxLength(kSpeedEditChars);
  SpeedEdit->setGeometry(472, 8, qMax(33, SpeedEditWidth(*SpeedEdit)), 20);
  StartStop = new QPushButton(QStringLiteral("Stop"), Control);
  StartStop->setGeometry(536, 8, 49, 25);
  Exit = new QPushButton(QStringLiteral("Exit"), this);
  Exit->setGeometry(592, 488, 43, 25);
  Exit->raise();

  connect(StartStop, &QPushButton::clicked, this, &TSaverWin::StartStopClick);
  connect(Exit, &QPushButton::clicked, this, &TSaverWin::ExitClick);
  connect(ReturnTop, &QPushButton::clicked, this, &TSaverWin::ReturnTopClick);
  connect(LogWrite, &QPushButton::clicked, this, &TSaverWin::LogWriteClick);
  connect(Counter, &QCheckBox::clicked, this, &TSaverWin::CounterClick);
  connect(NoLogo, &QCheckBox::clicked, this, &TSaverWin::NoLogoClick);
  connect(SpeedBar, &QSlider::valueChanged, this, &TSaverWin::SpeedBarChange);
  connect(SpeedEdit, &QLineEdit::textChanged, this, &TSaverWin::SpeedEditChange);
}

// The 640 x 480 picture of mode 0 is shown scaled onto the whole screen; that needs a screen
// at least that large.
bool TSaverWin::StartExclusiveDisplay() {
  if (screen_ == nullptr) return false;
  const QSize s = screen_->geometry().size();
  return s.width() >= kPictureWidth && s.height() >= kPictureHeight;
}

QRect TSaverWin::PictureRect() const {
  if (mode_ != kDisplayExclusive)
    return QRect(QPoint(0, 0), image_.deviceIndependentSize().toSize());
  // Scaled to the screen's height (to its width on screens narrower than 4:3), centred.
  const double dpr = devicePixelRatioF();
  const int hDev = static_cast<int>(std::lround(height() * dpr));
  const int wDev = static_cast<int>(std::lround(width() * dpr));
  int outH = hDev;
  int outW = kPictureWidth * outH / kPictureHeight;
  if (outW > wDev) {
    outW = wDev;
    outH = kPictureHeight * outW / kPictureWidth;
  }
  const QRectF dev((wDev - outW) / 2, (hDev - outH) / 2, outW, outH);
  return QRect(static_cast<int>(dev.x() / dpr), static_cast<int>(dev.y() / dpr),
               static_cast<int>(std::lround(dev.width() / dpr)),
               static_cast<int>(std::lround(dev.height() / dpr)));
}

// Surface pixels to window coordinates (for repaints and the movie's rectangle).
QRect TSaverWin::SurfaceToWidget(const QRect& r) const {
  if (mode_ != kDisplayExclusive) {
    if (ratio_ == 1.0) return r;
    const int l = static_cast<int>(std::floor(r.left() / ratio_));
    const int t = static_cast<int>(std::floor(r.top() / ratio_));
    const int rr = static_cast<int>(std::ceil((r.left() + r.width()) / ratio_));
    const int b = static_cast<int>(std::ceil((r.top() + r.height()) / ratio_));
    return QRect(l, t, rr - l, b - t);
  }
  const QRect p = PictureRect();
  const double sx = static_cast<double>(p.width()) / kPictureWidth;
  const double sy = static_cast<double>(p.height()) / kPictureHeight;
  const int l = p.x() + static_cast<int>(std::floor(r.left() * sx));
  const int t = p.y() + static_cast<int>(std::floor(r.top() * sy));
  const int rr = p.x() + static_cast<int>(std::ceil((r.left() + r.width()) * sx));
  const int b = p.y() + static_cast<int>(std::ceil((r.top() + r.height()) * sy));
  return QRect(l, t, rr - l, b - t);
}

// ---- Driving the engine ----

void TSaverWin::RunPass() {
  if (inPass_ || closing_) return;  // a device waiting inside a pass runs the event loop
  const std::int32_t now = driver_->Now();
  if (!driver_->Due(now)) {
    passTimer_.start(driver_->Delay(now));
    return;
  }
  if (!stats_.path.isEmpty()) RecordPass(now);
  inPass_ = true;
  driver_->Pass(now);
  inPass_ = false;
  TrimAfterShowChange();
  WatchShowFile();
  if (!stats_.path.isEmpty())
    stats_.longestPassMs = std::max(stats_.longestPassMs, driver_->Now() - now);
  // A change that another pass will follow within a few milliseconds (a scrolling text stepping
  // just before a tick) is shown together with that one, so the screen gets one picture, not two.
  const std::int32_t next = driver_->NextDue();
  if (next - now > kCoalesceMs || now - lastShown_ >= kHoldLimitMs) ShowDamage();
  ScheduleNextPass();
}

// A show has just started: the one before it has given back its pictures and its music, much of
// it freed in the media threads' own heaps, which keep free pages. Handing them back to the
// system keeps the resident size near what is in use instead of at the high-water mark of the
// largest show so far. Once per show, so it costs nothing per frame.
void TSaverWin::TrimAfterShowChange() {
  const bool playing = Playback().PlayState == kScriptPlaying;
#ifdef __GLIBC__
  if (playing && !playedShow_) malloc_trim(0);
#endif
  playedShow_ = playing;
}

void TSaverWin::ScheduleNextPass() {
  if (closing_ || !autoRun_ || !shown_) return;
  armedFor_ = driver_->NextDue();
  armedPlaying_ = Playback().PlayState == kIntroPlaying || Playback().PlayState == kScriptPlaying;
  passTimer_.start(driver_->Delay(driver_->Now()));
}

void TSaverWin::RecordPass(std::int32_t now) {
  // Frames only: a pass that loads a show may take long, and the wait after it absorbs that.
  if (armedFor_ != INT32_MIN && armedPlaying_) {
    const std::int32_t late = now - armedFor_;
    ++stats_.passes;
    if (late > stats_.worstLateMs) stats_.worstLateMs = late;
    if (late > Playback().FrameInterval) ++stats_.overOneTick;
  }
  const bool playingShow = Playback().PlayState == kScriptPlaying;
  const bool showStarts = playingShow && !stats_.wasPlayingShow;
  const bool showEnds = !playingShow && stats_.wasPlayingShow;
  if (showStarts) ++stats_.shows;
  if (showEnds) ++stats_.showsEnded;
  stats_.wasPlayingShow = playingShow;
  // A show's start and end are written at once, so that a measurement can begin and end on them.
  if (now < stats_.nextWrite && !showStarts && !showEnds) return;
  stats_.nextWrite = now + 1000;
  // Written beside and renamed over the old summary, so a reader never sees half of one. Not
  // synced to the disk: a summary lost in a crash costs nothing, and a sync every second would
  // cost the saver more processor time than a still frame does, which the record is there to
  // measure.
  QByteArray text =
      QStringLiteral(
          "passes %1\nlate_over_one_tick %2\nworst_late_ms %3\nlongest_pass_ms %4\nshows %5\n"
          "time_ms %6\npixels_shown %7\nshows_ended %8\n")
          .arg(stats_.passes)
          .arg(stats_.overOneTick)
          .arg(stats_.worstLateMs)
          .arg(stats_.longestPassMs)
          .arg(stats_.shows)
          .arg(now)
          .arg(stats_.pixelsShown)
          .arg(stats_.showsEnded)
          .toUtf8();
#ifdef __GLIBC__
  // The allocator's own view, so that a soak can tell memory in use from free memory the heaps
  // keep (fragmentation): bytes handed out, bytes held free, bytes taken from the system.
  const struct mallinfo2 m = mallinfo2();
  text += QStringLiteral("heap_in_use_kb %1\nheap_free_kb %2\nheap_system_kb %3\n")
              .arg((m.uordblks + m.hblkhd) / 1024)
              .arg(m.fordblks / 1024)
              .arg((m.arena + m.hblkhd) / 1024)
              .toUtf8();
#endif
  const QString fresh = stats_.path + QStringLiteral(".new");
  QFile f(fresh);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  const bool whole = f.write(text) == text.size();
  f.close();
  if (!whole || std::rename(QFile::encodeName(fresh).constData(),
                            QFile::encodeName(stats_.path).constData()) != 0)
    QFile::remove(fresh);
}

// A control changed what the next pass does: look again at the deadline.
// Every pass looks, so the path is compared as it lies in the catalogue and made a QString only
// when another show plays.
void TSaverWin::WatchShowFile() {
  if (!showWatcher_) return;
  const std::string_view path = Playback().ShowPath();
  if (path == watchedPath_) return;
  watchedPath_.assign(path);
  showWatcher_->Watch(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
}

void TSaverWin::ShowFileChanged() {
  if (closing_) return;
  if (inPass_) {
    // A device is waiting inside a pass; restart once the pass is over.
    QTimer::singleShot(QtShowWatcher::kSettleMs, this, [this] { ShowFileChanged(); });
    return;
  }
  if (Playback().RestartShow() == 0) AfterInput();
}

void TSaverWin::AfterInput() {
  ShowDamage();
  if (closing_ || !autoRun_ || !shown_ || inPass_) return;
  armedFor_ = INT32_MIN;  // an early pass is not a late one
  passTimer_.start(0);
}

void TSaverWin::ShowDamage() {
  FrameMove move;
  const bool moved = objects_->Window->TakeFrameMove(&move);
  // A put of an earlier frame that the server has not read yet would read the pixels drawn below
  // for this one, and the move would carry them off where no part of this frame puts them right
  // (trails of a scrolling sky): the server reads every earlier put before they are drawn (the
  // frame a move brings is drawn into the picture only here).
  if (moved && pictureWin_) pictureWin_->Settle();
  const DamageParts d = objects_->Window->TakeDamageParts();
  const bool framed = scaler_ && !scaler_->Pending().isEmpty();
  if (d.count == 0 && !framed && !moved) return;
  lastShown_ = driver_->LastPass();
  QRect parts[kMaxDamageParts];
  for (int i = 0; i < d.count; ++i) {
    const RectXYWH& p = d.part[i];
    parts[i] = QRect(p.x, p.y, p.width, p.height);
  }
  if (pictureWin_ && !framed) {
    PresentParts(parts, d.count, moved ? &move : nullptr);
    return;
  }
  QRegion region;
  for (int i = 0; i < d.count; ++i) region += parts[i];
  if (!stats_.path.isEmpty())
    stats_.pixelsShown += AreaOf(framed ? region + scaler_->Pending() : region);
  if (pictureWin_) {
    if (moved) MoveFrame(move);
    // What the server stretches from the frame is not put from the picture first.
    pictureWin_->Present(region - scaler_->Pending());
    scaler_->Send();
    region -= pictureWin_->geometry();
  }
  for (const QRect& r : region) update(SurfaceToWidget(r));
}

// The usual pass on X11: the parts go out as they are, each a request (pixels in an overlap
// twice). Only parts that reach beyond the picture window (the panel's rows in window mode) are
// repainted by Qt, so a pass builds no region unless one does.
void TSaverWin::PresentParts(const QRect* parts, int count, const FrameMove* move) {
  const QRect inWindow = pictureWin_->geometry();
  QRegion outside;
  for (int i = 0; i < count; ++i) {
    if (!stats_.path.isEmpty()) {
      const QRect in = parts[i] & inWindow;
      stats_.pixelsShown += static_cast<std::int64_t>(in.width()) * in.height();
    }
    if (!inWindow.contains(parts[i])) outside += QRegion(parts[i]) - inWindow;
  }
  if (!stats_.path.isEmpty()) stats_.pixelsShown += AreaOf(outside);
  // The move first: the parts taken with it are drawn over the moved frame.
  if (move) MoveFrame(*move);
  pictureWin_->Present(parts, count);
  if (scaler_) scaler_->Send();
  for (const QRect& r : outside) update(SurfaceToWidget(r));
}

void TSaverWin::MoveFrame(const FrameMove& move) {
  pictureWin_->Move(QRect(move.area.x, move.area.y, move.area.width, move.area.height), move.dx,
                    move.dy);
}

// ---- Window events ----

void TSaverWin::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // One surface pixel per window pixel: the server takes the picture from shared memory.
  if (shm_ && ratio_ == 1.0 && mode_ != kDisplayExclusive && devicePixelRatioF() == 1.0) {
    // In window mode the panel lies over the picture's last rows: Qt paints those.
    QRect area = PictureRect();
    if (!FullScreenMode()) area.setHeight(std::min(area.height(), kPictureHeight));
    pictureWin_ = QtPictureWindow::Create(this, area, objects_->Window->Picture(), *shm_);
    if (pictureWin_) {
      // The server moves the frame while nothing covers the window (a scrolling background).
      pictureWin_->OnUnobscured = [this](bool unobscured) {
        objects_->Window->AllowFrameMoves(unobscured && !scaler_);
      };
      pictureWin_->OnExposing = [this] { objects_->Window->RestorePicture(); };
      pictureWin_->show();
    }
    if (pictureWin_ && (mode_ == kDisplayStretched || mode_ == kDisplayDoubled) &&
        QtFrameScaler::PaysOff())
      UseFrameScaler();
  }
  StartPos = QCursor::pos(screen_);
  OpenCovers();
  if (inhibit_) inhibit_->Hold(QStringLiteral("Ondrelix"), QStringLiteral("Playing a show"));
  if (autoRun_) passTimer_.start(0);
}

// The server stretches the frame where it picks the pixels our stretch picks; the picture
// window then repaints the frame's area from the server's copy when it is uncovered.
void TSaverWin::UseFrameScaler() {
  const DisplayGeometry& g = objects_->Geometry;
  const RectXYWH source =
      mode_ == kDisplayDoubled ? g.SourceRect : RectXYWH{0, 0, kStageWidth, kStageHeight};
  scaler_ = QtFrameScaler::Create(static_cast<xcb_window_t>(pictureWin_->winId()), g.FrameRect,
                                  source, *shm_);
  if (!scaler_) return;
  objects_->Window->SetFrameScaler(scaler_.get());
  pictureWin_->OnExposed = [this](const QRegion& region) {
    if (objects_->Window->ServerShowsFrame()) scaler_->Repaint(region);
  };
}

void TSaverWin::mouseMoveEvent(QMouseEvent* event) {
  if (!FullScreenMode() || Playback().PassCount == 0) return;
  const QPoint p = event->globalPosition().toPoint();
  if (std::abs(p.x() - StartPos.x()) > kMouseSlack || std::abs(p.y() - StartPos.y()) > kMouseSlack)
    close();
}

void TSaverWin::mousePressEvent(QMouseEvent* event) {
  if (FullScreenMode()) {
    close();
    return;
  }
  QWidget::mousePressEvent(event);
}

void TSaverWin::OpenCovers() {
  if (mode_ < kDisplayCentred || mode_ > kDisplayDoubled || !covers_.empty()) return;
  // Only screens of one X screen share pixels, so only they can mirror the show's; a screen of
  // another X screen is covered wherever its place is.
  const QList<QScreen*> siblings = screen_ ? screen_->virtualSiblings() : QList<QScreen*>();
  QList<QScreen*> same;
  QList<QRect> rects;
  for (QScreen* s : QGuiApplication::screens()) {
    if (siblings.contains(s)) {
      same.append(s);
      rects.append(s->geometry());
    } else if (!s->geometry().isEmpty()) {
      OpenCover(s);
    }
  }
  for (int i : ScreensToCover(rects, static_cast<int>(same.indexOf(screen_)))) OpenCover(same[i]);
}

void TSaverWin::OpenCover(QScreen* screen) {
  auto* cover = new CoverWindow(this, screen);
  cover->show();
  covers_.emplace_back(cover);
}

void TSaverWin::CloseCovers() {
  // Input on a cover may be what closes the saver, with the cover's handler still running: the
  // covers are hidden now and go once the event loop is back.
  for (const QPointer<QWidget>& cover : covers_) {
    if (!cover) continue;
    cover->hide();
    cover->deleteLater();
  }
  covers_.clear();
}

void TSaverWin::CoverInput(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseMove:
      mouseMoveEvent(static_cast<QMouseEvent*>(event));
      return;
    case QEvent::MouseButtonPress:
      mousePressEvent(static_cast<QMouseEvent*>(event));
      return;
    case QEvent::KeyPress:
      keyPressEvent(static_cast<QKeyEvent*>(event));
      return;
    default:
      return;
  }
}

void TSaverWin::keyPressEvent(QKeyEvent* event) {
  if (FullScreenMode()) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

// Only sizes imposed after the window is shown count; a full-screen window that the window
// manager settles at the size it was laid out for stays.
void TSaverWin::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (shown_ && event->size() != laidOutSize_) close();
}

void TSaverWin::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const QRect picture = PictureRect();
  const QRegion outside = QRegion(event->rect()) - QRegion(picture);
  for (const QRect& r : outside) painter.fillRect(r, Qt::black);
  if (mode_ == kDisplayExclusive) {
    painter.drawImage(picture, image_);
    return;
  }
  // One surface pixel per device pixel where the surface is laid out in them; elsewhere the
  // painter repeats whole pixels without smoothing.
  QRegion dirty = QRegion(event->rect()) & picture;
  if (pictureWin_) dirty -= pictureWin_->geometry();  // the server puts that part itself
  for (const QRect& d : dirty) {
    const QRectF source(d.x() * ratio_, d.y() * ratio_, d.width() * ratio_, d.height() * ratio_);
    painter.drawImage(QRectF(d), image_, source);
  }
}

void TSaverWin::closeEvent(QCloseEvent* event) {
  closing_ = true;
  passTimer_.stop();
  if (showWatcher_) showWatcher_->Watch(QString());
  CloseCovers();
  if (inhibit_) inhibit_->Release();
  unsetCursor();
  event->accept();
}

// ---- Control panel ----

void TSaverWin::StartStopClick() {
  CPlayback& p = Playback();
  StartStop->setText(p.Paused ? QStringLiteral("Stop") : QStringLiteral("Start"));
  p.TogglePaused();
  AfterInput();
}

void TSaverWin::ExitClick() {
  close();
}

void TSaverWin::ReturnTopClick() {
  Playback().ReturnTop();
  AfterInput();
}

void TSaverWin::LogWriteClick() {
  objects_->TimeLine->WriteScriptLog();
}

void TSaverWin::CounterClick() {
  objects_->Window->EraseTimer();
  Playback().SetCounter(Counter->isChecked());
  AfterInput();
}

void TSaverWin::NoLogoClick() {
  Playback().SetNoLogo(NoLogo->isChecked());
}

void TSaverWin::SpeedBarChange(int position) {
  SpeedEdit->setText(QString::number(position));
  Playback().SetFrameInterval(position);
  AfterInput();
}

// The text as an integer moves the bar (which keeps it within 0..1000); text that is no number
// is reported and leaves the speed as it was. An empty box is the user about to type a number.
void TSaverWin::SpeedEditChange(const QString& text) {
  if (text.trimmed().isEmpty()) return;
  bool ok = false;
  const int value = text.trimmed().toInt(&ok);
  if (!ok) {
    ShowError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return;
  }
  SpeedBar->setValue(value);
  Playback().SetFrameInterval(SpeedBar->value());
  AfterInput();
}
