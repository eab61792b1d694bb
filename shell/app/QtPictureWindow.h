// The saver window's picture as a native child window of its own, drawn by the X server straight
// from the window surface's shared memory: a changed part is one MIT-SHM PutImage, with no copy
// into Qt's window buffer first. The saver uses it where the surface is laid out one pixel per
// window pixel on an X11 server with MIT-SHM; elsewhere it paints the picture through Qt.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "shell/platform/QtXcb.h"

struct Bitmap32;
class QtShmResource;

class QtPictureWindow : public QWidget, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  // A window over `area` of `parent` (in its top-left corner, which is the picture's) showing
  // that part of `picture`, whose pixels must lie in a segment of `memory`; null when they do
  // not, the picture does not hold the area, or the window's depth cannot take the pixels as
  // they are.
  static QtPictureWindow* Create(QWidget* parent, const QRect& area, const Bitmap32& picture,
                                 const QtShmResource& memory);
  ~QtPictureWindow() override;

  // Puts the part of `region` (picture pixels, which are window pixels) that this window covers
  // on the screen. The server reads the pixels after the call returns; drawing the next frame
  // into the picture meanwhile is fine (see XcbFence).
  void Present(const QRegion& region);
  // The same for rectangles that may overlap, each put as it is (a region would cut rectangles
  // of different heights side by side into more of them, each a request).
  void Present(const QRect* rects, int count);
  // Has the server move the pixels of `area` by (dx, dy) within the window (a copy in the window;
  // what would leave `area` is dropped); sent with the next Present. Exact only while nothing
  // covers the window (Unobscured()): the server cannot copy pixels it does not have.
  void Move(const QRect& area, int dx, int dy);
  // Returns once the server has read the pixels of every Present so far.
  void Settle();
  // True while no other window covers any of this one (as the server last said).
  bool Unobscured() const { return unobscured_; }
  // Called when that changes.
  std::function<void(bool)> OnUnobscured;
  // Called before an exposed region is put again from the picture.
  std::function<void()> OnExposing;
  // Called after an exposed region was put again from the picture.
  std::function<void(const QRegion&)> OnExposed;
  // How many times Present and Move reached the server (for tests).
  int PresentCount() const { return presents_; }
  int MoveCount() const { return moves_; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  QPaintEngine* paintEngine() const override { return nullptr; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QtPictureWindow(QWidget* parent, const Bitmap32& picture, std::uint32_t segment);
  bool Realise();

  const Bitmap32& picture_;
  std::uint32_t segment_;
  std::uint32_t window_ = 0;
  std::uint32_t gc_ = 0;
  std::uint8_t depth_ = 0;
  int presents_ = 0;
  int moves_ = 0;
  bool moved_ = false;  // a move not yet flushed
  int movingPresents_ = 0;  // presents left whose fence marks ask at once (frames move)
  bool unobscured_ = false;
  XcbFence fence_;  // after the last Present
};
