// Background music and interval movies over one media device.
#pragma once

#include <string>

#include "app/MediaDevice.h"
#include "script/MusicPreloader.h"
#include "script/TimeEvents.h"

class CMainCtl;

class CMPlayer : public MusicPreloader {
 public:
  CMPlayer(CMainCtl* settings, MediaDevice* device) : settings_(settings), device_(device) {}

  // Opens a script's first music file while the script loads. 0, or -1 (music off for the run).
  int Preload(const std::string& name) override;
  // Carries out a BGM event: 0, or -1 for a Switch value it does not handle.
  int HandleBgm(const CTimeBgm& entry);
  void StopMusic();
  // Plays a movie centred in a client area of the given size. 0 when playing, -1 on failure.
  int PlayMovie(const std::string& path, int clientWidth, int clientHeight);
  bool MovieStopped();
  void CloseMovie();

  int Enabled = 1;
  int MusicOpen = 0;

 private:
  CMainCtl* settings_;
  MediaDevice* device_;
};
