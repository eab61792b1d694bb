// One script of a file played headless on a virtual clock, as the saver window plays it: the
// renderer's and the tests' way to run a show without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/DisplayGeometry.h"

class CPlayback;
class MediaDevice;
class SaverObjects;
class WindowSurface;
class ShowEngine;

struct HeadlessOptions {
  int mode = kDisplayWindow;
  // The screen the show pretends to run on; window mode only uses it for the speed warning,
  // which lies outside the window there.
  int screenWidth = 1024;
  int screenHeight = 768;
  // How the window is kept: rendering holds changes between ticks for the next tick, a live
  // window paces them to the display.
  bool deferToTicks = true;
  bool paceForDisplay = false;
  // The reference player: every shortcut off (SaverObjects::SwitchShortcutsOff).
  bool reference = false;
};

class HeadlessShow {
 public:
  // `music` (not owned) takes the show's music; without one it goes nowhere.
  explicit HeadlessShow(MediaDevice* music = nullptr);
  ~HeadlessShow();
  HeadlessShow(const HeadlessShow&) = delete;
  HeadlessShow& operator=(const HeadlessShow&) = delete;

  // Catalogues `file` and makes script `script` of it (1 = the first) the one show to play,
  // with the default settings, no logo and no speed warning. "" when ready, else why
  // not.
  std::string Open(const std::string& file, int script, const HeadlessOptions& options);

  // One pass at clock value `now`.
  void Pass(std::int32_t now);
  std::int32_t NextDeadline(std::int32_t now) const;
  // Whether the show has ended (or could not be loaded): once it has, nothing more is played.
  bool Over() const;
  // Plays the show from where it stands to its end, calling `onTick(tick)` after every tick;
  // returning false ends the play there. The number of ticks played, or -1 when the script
  // could not be loaded.
  int PlayTicks(const std::function<bool(int tick)>& onTick);

  // Of the loaded show: the tick of the event that ends it (its last tick; -1 when it has none),
  // and whether it starts music (a BGM start while the player is on: a first file that failed
  // to open turns it off).
  int EndTick();
  bool HasMusic();

  CPlayback& Playback();
  const CPlayback& Playback() const;
  SaverObjects& Objects() { return *objects_; }
  const WindowSurface& Window() const;

 private:
  std::unique_ptr<MediaDevice> silent_;
  MediaDevice* device_;
  std::unique_ptr<SaverObjects> objects_;
  std::unique_ptr<ShowEngine> engine_;
};
