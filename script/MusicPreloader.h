// What the script loader asks of the music player while a script compiles: open the script's
// first music file ahead of time. The player implements it.
#pragma once

#include <string>

class MusicPreloader {
 public:
  virtual ~MusicPreloader() = default;
  // 0, or -1 when the music cannot be opened (music is then off for the run).
  virtual int Preload(const std::string& name) = 0;
};
