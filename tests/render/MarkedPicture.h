// Test pictures whose every pixel tells where it came from: red = x, green = y, blue = tag.
#pragma once

#include <cstdint>

#include "render/Bitmap.h"

inline std::uint32_t Marked(int x, int y, int tag) {
  return (static_cast<std::uint32_t>(x & 0xFF) << 16) | ((y & 0xFF) << 8) | (tag & 0xFF);
}

inline Bitmap32 MarkedPicture(int w, int h, int tag) {
  Bitmap32 b;
  b.Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Row(y)[x] = Marked(x, y, tag);
  return b;
}
