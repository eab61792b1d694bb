// The preview window: the marching-figures animation inside the host's preview area, or in a
// stand-in window of the preview's size when there is no host.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "app/CTroops.h"
#include "render/Bitmap.h"

class CMainCtl;
class QWindow;

class TMiniWin : public QWidget, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  // `hostId` is the X11 window to live in (0: none, a stand-in window of 152 x 112 instead).
  // `seed` chooses the figure set and the start of the walk.
  explicit TMiniWin(std::uint64_t hostId = 0, std::uint32_t seed = 0);
  ~TMiniWin() override;

  const Bitmap32& Frame() const { return bitmap_; }

  // One animation step and draw (the 33 ms timer's work).
  void MoveTimerTimer();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void FormCreate(int width, int height);
  void CheckHost();
  void HostGone();

  std::unique_ptr<CMainCtl> settings_;
  std::unique_ptr<CTroops> troops_;
  Bitmap32 bitmap_;
  QImage image_;  // Format_RGB32 over bitmap_'s pixels
  QTimer moveTimer_;
  QWindow* host_ = nullptr;
  WId hostId_ = 0;
  QTimer hostTimer_;
  std::uint32_t seed_;
};
