// Every object a playing saver owns, created and destroyed in a fixed order; used by the saver
// window and by the headless renderer alike.
#pragma once

#include <functional>
#include <memory>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/CPlayback.h"
#include "app/DisplayGeometry.h"
#include "app/IntervalList.h"
#include "app/WindowSurface.h"
#include "render/Bitmap.h"
#include "render/CBgCtl.h"
#include "render/COthBmp.h"
#include "render/CScroll.h"
#include "render/CTitle.h"
#include "script/CDemoCtl.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"

class MediaDevice;

inline constexpr int kWarningWidth = 69;  // the LOW POWER badge
inline constexpr int kWarningHeight = 14;

// The members are public for the windows, tools and tests that reach into the objects, so their
// classes are complete here.
class SaverObjects {
 public:
  // Creates the frame (black), the settings record (handed to `loadSettings` at once, which
  // loads it), the layers, the player over `device` (not owned), the caption layer, the script
  // engine, the built-in script maker and the warning bitmap. `window` may be the shell's own
  // surface (not owned); null makes one here.
  SaverObjects(MediaDevice* device, const std::function<void(CMainCtl&)>& loadSettings,
               WindowSurface* window = nullptr);
  ~SaverObjects();
  SaverObjects(const SaverObjects&) = delete;
  SaverObjects& operator=(const SaverObjects&) = delete;

  // With the display mode settled (the shell may have fallen back from mode 0 to 1): the window
  // picture's size, the geometry and the caption placement. False when the picture cannot be made.
  bool Layout(int screenWidth, int screenHeight);
  // Seeds rand() with `seed`, builds and shuffles the interval playlist (when `intervals`), scans
  // the data folder and draws the play order; ScriptStatus 2 when no script was found.
  void PrepareShows(unsigned seed, bool intervals = true);
  // The playback object over all of the above; made on the first call.
  CPlayback& Playback();
  PlaybackParts Parts();
  // Makes this the reference player: playback and layers without any shortcut (see
  // CPlayback::Reference). Slower; the same pictures as long as every shortcut is sound.
  void SwitchShortcutsOff();

  std::unique_ptr<StageBitmap> Stage;
  std::unique_ptr<CMainCtl> Settings;
  std::unique_ptr<CBgCtl> BackgroundLayer;
  std::unique_ptr<CTitle> TitleLayer;
  std::unique_ptr<CScroll> TextLayer;
  std::unique_ptr<COthBmp> ImageLayer;
  std::unique_ptr<CMPlayer> Player;
  std::unique_ptr<CCaption> Caption;
  std::unique_ptr<CTimeLine> TimeLine;
  std::unique_ptr<CDemoCtl> DemoCtl;
  std::unique_ptr<Bitmap32> WarningBitmap;
  std::unique_ptr<IntervalList> Intervals;
  DisplayGeometry Geometry;
  WindowSurface* Window = nullptr;
  // The engine playback reads; the renderer puts its own in place before the first pass.
  ShowEngine* Engine = nullptr;

 private:
  std::unique_ptr<WindowSurface> ownWindow_;
  std::unique_ptr<TimeLineShowEngine> engine_;
  std::unique_ptr<CPlayback> playback_;
};

// The speed-warning bitmap: LOW POWER when the warning is on, else one black pixel.
Bitmap32 MakeWarningBitmap(bool warningOn);
