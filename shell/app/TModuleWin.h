// The saver as a module of the desktop's screen saver: it plays inside a window that another
// program owns (the root window, or the one named by -window-id / XSCREENSAVER_WINDOW). No window
// of our own is made or mapped and no input is read: the picture is put straight into the
// foreign window over the X connection Qt already has, and the program ends on a signal or when
// the window goes away.
#pragma once

#include <QObject>
#include <QSize>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/PassDriver.h"
#include "shell/platform/QtXcb.h"

class CMainCtl;
class CPlayback;
class QtMediaDevice;
class QtShmResource;
class SaverObjects;
class WindowSurface;
struct RectXYWH;

// Below this size a window gets the preview animation instead of the show.
inline constexpr int kModuleMinWidth = 152;
inline constexpr int kModuleMinHeight = 112;

// The display mode a module window plays in: the stretched mode fills the window the way the
// full-screen modes fill a screen; a saved centred or window mode stays centred where the window
// holds the 640 x 480 picture.
int ModuleDisplayMode(int savedMode, QSize window);

class TModuleWin : public QObject {
  Q_OBJECT

 public:
  // `loadSettings` loads the record (the caller's --data and --mode are applied in it).
  TModuleWin(std::uint64_t windowId, std::function<void(CMainCtl&)> loadSettings,
             unsigned seed = 0);
  ~TModuleWin() override;

  // False when the window cannot be played in (gone, or a depth the picture cannot be put into).
  bool Ready() const { return ready_; }
  QSize Size() const { return size_; }
  int DisplayMode() const { return mode_; }
  CPlayback& Playback();

 private:
  bool Build();
  void RunPass();
  void Put(const RectXYWH* parts, int count);
  void PutBands(const RectXYWH& area);
  void CheckWindow();

  std::uint64_t windowId_;
  QSize size_;
  int depth_ = 0;
  int mode_ = 1;
  bool ready_ = false;
  std::uint32_t gc_ = 0;
  QWidget videoHost_;  // never shown: movies have no place in a foreign window
  // The picture, in memory shared with the X server where it offers MIT-SHM.
  std::unique_ptr<QtShmResource> shm_;
  std::unique_ptr<WindowSurface> surface_;
  XcbFence fence_;  // after the last shared-memory put
  std::unique_ptr<QtMediaDevice> device_;
  std::unique_ptr<SaverObjects> objects_;
  QTimer passTimer_;
  QTimer checkTimer_;
  std::int32_t lastFull_ = 0;
  PassDriver driver_;  // the clock, the seed, the settings loader and the pass rule
};
