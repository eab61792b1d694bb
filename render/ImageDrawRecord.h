// What the image layer drew its last frame from, so that a frame in which nothing of it moved,
// turned, faded, came or went need not be composed again.
#pragma once

#include <cstdint>

#include "render/COthBmp.h"

class ImageDrawRecord {
 public:
  // Whether DrawImages would now draw other pixels than when this was last called (or than
  // nothing, the first time), from every value it reads; records them for the next call.
  // Loading a new picture into an object comes with an event, which composes anyway; the
  // record still tells objects apart by their address.
  bool Changed(const COthBmp& layer);

 private:
  struct Drawn {
    const CPtDataI* object = nullptr;
    std::int32_t contrast = 0;
    std::int32_t transparent = -1;
    int operation = 0;
    int quality = 0;
    unsigned turnedVersion = 0;
    QuadRect source[4];
    QuadRect stage[4];
    bool operator==(const Drawn&) const = default;
  };
  static Drawn Of(const CPtDataI* obj);

  Drawn slots_[kMaxImages];
  int next_ = -1;
  int count_ = -1;
};
