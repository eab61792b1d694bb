// The bonus window.
#include "shell/bonus/TOmakeWin.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>
#include <QScreen>
#include <cstdio>

#include "render/Picture.h"

namespace {

constexpr int kTimerMs = 33;

QImage ImageOf(const Bitmap32& b) {
  return QImage(reinterpret_cast<const uchar*>(b.pixels.data()), b.width, b.height, b.width * 4,
                QImage::Format_RGB32);
}

// A head picture, or a plain grey square of its size while the picture is missing.
Bitmap32 HeadPicture(int n) {
  char name[8];
  std::snprintf(name, sizeof name, "LB%02d", n);
  Picture pic;
  if (LoadBuiltinPicture(name, &pic) == 0 && !pic.rgb.Empty()) return std::move(pic.rgb);
  Bitmap32 b;
  b.Create(88, 85, 0);
  for (int y = 10; y < 75; ++y)
    for (int x = 12; x < 76; ++x) b.Row(y)[x] = 0x808080;
  return b;
}

OmakeRect RectOf(const QRect& r, const QPoint& origin) {
  return {r.x() - origin.x(), r.y() - origin.y(), r.width(), r.height()};
}

}  // namespace

TOmakeWin::TOmakeWin(OmakeHost* dialog)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus),
      dialog_(dialog) {
  setWindowTitle(QStringLiteral("印度"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_QuitOnClose, false);
  setGeometry(0, -200, 1, 1);  // above the screen until a variant places it
  std::vector<Bitmap32> eight;
  for (int i = 1; i <= 8; ++i) eight.push_back(HeadPicture(i));
  frames_ = MakeHeadFrames(eight);
  connect(&Timer1, &QTimer::timeout, this, &TOmakeWin::Timer1Timer);
  if (dialog_) dialog_->SetOmakeWin(this);
}

TOmakeWin::~TOmakeWin() {
  Timer1.stop();
}

QRect TOmakeWin::ScreenRect() const {
  QScreen* s = dialog_ && dialog_->HostWindow()->screen() ? dialog_->HostWindow()->screen()
                                                          : QGuiApplication::primaryScreen();
  return s ? s->geometry() : QRect(0, 0, 640, 480);
}

void TOmakeWin::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (running_ || !dialog_) return;
  running_ = true;
  Variant = dialog_->RandomVariant();
  if (Variant == 0) {
    SetupBouncingHead();
  } else {
    SetupFallingDialog();
  }
  Timer1.start(kTimerMs);
  // The head falls over the dialog; the user must still be able to move the dialog.
  if (Variant == 0) dialog_->HostWindow()->activateWindow();
}

void TOmakeWin::Timer1Timer() {
  if (!running_) return;
  if (Variant == 0) {
    StepBouncingHead();
  } else {
    StepFallingDialog();
  }
}

// The window covers the screen; only `screenRegion` of it is visible. An empty region cannot be
// a mask (it would show the whole window), so the window then waits above the screen.
void TOmakeWin::SetShape(const QRegion& screenRegion) {
  const QRect screen = ScreenRect();
  ShapeRegion = screenRegion;
  if (screenRegion.isEmpty()) {
    move(screen.x(), screen.y() - screen.height());
    return;
  }
  setMask(screenRegion);
  if (pos() != screen.topLeft()) move(screen.topLeft());
}

void TOmakeWin::ShowPicture(const Bitmap32& picture, OmakePoint topLeft) {
  QRect old;
  if (picture_) old = QRect(pictureAt_, QSize(picture_->width, picture_->height));
  picture_ = &picture;
  pictureAt_ = QPoint(topLeft.x, topLeft.y);
  update(old.united(QRect(pictureAt_, QSize(picture.width, picture.height))));
}

void TOmakeWin::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Button));
  if (picture_ && !picture_->Empty()) p.drawImage(pictureAt_, ImageOf(*picture_));
}

// ---- Variant 0 ----

void TOmakeWin::SetupBouncingHead() {
  const QRect screen = ScreenRect();
  setGeometry(screen.x(), screen.y() - screen.height(), screen.width(), screen.height());
  head_.Setup(RectOf(dialog_->DialogRect(), screen.topLeft()), dialog_->Random());
  picture_ = nullptr;
  SetShape(QRegion());
  dialog_->HostWindow()->setWindowTitle(QStringLiteral("Ondrelax"));
}

bool TOmakeWin::StepBouncingHead() {
  const QRect screen = ScreenRect();
  DialogView view;
  view.rect = RectOf(dialog_->DialogRect(), screen.topLeft());
  view.velocityX = dialog_->DialogVelocityX();
  view.velocityY = dialog_->DialogVelocityY();
  if (!head_.Step(view, screen.width(), screen.height())) {
    Finish();
    return false;
  }
  const OmakePoint at = head_.TopLeft();
  const std::vector<OmakeRect> runs = MakeRegionFromBitmap(head_.Work(), 0x000000, at.y, at.x);
  std::vector<QRect> rects;
  rects.reserve(runs.size());
  for (const OmakeRect& r : runs) rects.emplace_back(r.left, r.top, r.width, r.height);
  QRegion region;
  if (!rects.empty()) region.setRects(rects.data(), static_cast<int>(rects.size()));
  SetShape(region.intersected(QRect(QPoint(0, 0), screen.size())));
  ShowPicture(head_.Work(), at);
  return true;
}

// ---- Variant 1 ----

Bitmap32 TOmakeWin::SnapshotOf(QWidget* dialog) {
  const QRect frame = dialog->frameGeometry();
  QPixmap shot;
  if (QScreen* s = dialog->screen()) {
    const QRect sg = s->geometry();
    shot = s->grabWindow(0, frame.x() - sg.x(), frame.y() - sg.y(), frame.width(), frame.height());
  }
  QImage img;
  if (!shot.isNull() && shot.width() == frame.width() && shot.height() == frame.height()) {
    img = shot.toImage().convertToFormat(QImage::Format_RGB32);
  } else {
    // No screen to copy from (offscreen or a compositor that refuses): the dialog's own drawing
    // on a plain face where its frame would be.
    img = QImage(frame.size(), QImage::Format_RGB32);
    img.fill(dialog->palette().color(QPalette::Button));
    QPainter p(&img);
    p.drawPixmap(dialog->geometry().topLeft() - frame.topLeft(), dialog->grab());
  }
  Bitmap32 b;
  if (!b.Create(img.width(), img.height())) return b;
  for (int y = 0; y < img.height(); ++y) {
    const auto* src = reinterpret_cast<const std::uint32_t*>(img.constScanLine(y));
    std::uint32_t* d = b.Row(y);
    for (int x = 0; x < img.width(); ++x) d[x] = src[x] & 0xFFFFFF;
  }
  return b;
}

void TOmakeWin::SetupFallingDialog() {
  const QRect screen = ScreenRect();
  setGeometry(screen.x(), screen.y() - screen.height(), screen.width(), screen.height());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  const OmakeRect dialog = RectOf(dialog_->DialogRect(), screen.topLeft());
  const QPoint press = dialog_->PressPoint();
  fall_.Setup(SnapshotOf(dialog_->HostWindow()), dialog, {press.x(), press.y()});
  // The picture takes the dialog's place exactly, so the user sees no change yet.
  SetShape(QRegion(dialog.left, dialog.top, dialog.width, dialog.height));
  ShowPicture(fall_.Snapshot(), {dialog.left, dialog.top});
  dialog_->SetTimerInterval(0);
}

bool TOmakeWin::StepFallingDialog() {
  const QRect screen = ScreenRect();
  const FallingDialog::Action a = fall_.Step(dialog_->Random(), screen.width(), screen.height());
  if (a == FallingDialog::Action::kEnd) {
    Finish();
    return false;
  }
  if (a == FallingDialog::Action::kNone) return true;
  if (a == FallingDialog::Action::kHideDialog) dialog_->HostWindow()->hide();
  QPolygon outline;
  for (int i = 0; i < 4; ++i) outline << QPoint(fall_.Outline()[i].x, fall_.Outline()[i].y);
  SetShape(QRegion(outline, Qt::OddEvenFill));
  ShowPicture(fall_.Work(), fall_.TopLeft());
  return true;
}

void TOmakeWin::Finish(bool restoreDialog) {
  Timer1.stop();
  const bool wasRunning = running_;
  running_ = false;
  picture_ = nullptr;
  hide();
  if (!restoreDialog || !wasRunning || !dialog_) return;
  if (Variant == 0) {
    dialog_->HostWindow()->setWindowTitle(QStringLiteral("Ondrelix"));
    return;
  }
  dialog_->HostWindow()->show();
  dialog_->SetTimerInterval(kTimerMs);
}
