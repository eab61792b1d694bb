// Memory bitmaps of 32, 8 and 1 bits per pixel with row access, as every layer uses them.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

// Largest side of any bitmap we allocate; larger pictures are refused by their loaders.
inline constexpr int kMaxBitmapSide = 16384;

// 32 bits per pixel; in memory each pixel is blue, green, red and an unused byte (0x00RRGGBB).
struct Bitmap32 {
  int width = 0;
  int height = 0;
  // Pitch is `width` pixels. The memory normally comes from the heap; a bitmap made with
  // another memory resource (the window's picture in memory the display server shares) keeps
  // that resource through Create.
  std::pmr::vector<std::uint32_t> pixels;

  Bitmap32() = default;
  explicit Bitmap32(std::pmr::memory_resource* memory) : pixels(memory) {}

  // Allocates width x height filled with `fill`; false (and an empty bitmap) for bad sizes.
  bool Create(int w, int h, std::uint32_t fill = 0) {
    if (w < 0 || h < 0 || w > kMaxBitmapSide || h > kMaxBitmapSide) {
      width = height = 0;
      pixels.clear();
      pixels.shrink_to_fit();
      return false;
    }
    width = w;
    height = h;
    pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill);
    return true;
  }
  bool Empty() const { return width <= 0 || height <= 0; }
  std::uint32_t* Row(int y) {
    assert(y >= 0 && y < height);
    return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
  const std::uint32_t* Row(int y) const {
    assert(y >= 0 && y < height);
    return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
  void Fill(std::uint32_t v) { pixels.assign(pixels.size(), v); }
};

// 8 bits per pixel (the title layer's level buffers).
struct Bitmap8 {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // pitch is `width` bytes

  bool Create(int w, int h, std::uint8_t fill = 0) {
    if (w < 0 || h < 0 || w > kMaxBitmapSide || h > kMaxBitmapSide) {
      *this = Bitmap8();
      return false;
    }
    width = w;
    height = h;
    pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill);
    return true;
  }
  std::uint8_t* Row(int y) {
    assert(y >= 0 && y < height);
    return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
  const std::uint8_t* Row(int y) const {
    assert(y >= 0 && y < height);
    return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
  }
};

// 1 bit per pixel, most significant bit first; rows padded to 32 bits like a device-independent
// bitmap. Bit 1 is ink (white), 0 is gap (black).
struct Bitmap1 {
  int width = 0;
  int height = 0;
  int pitch = 0;  // bytes per row
  std::vector<std::uint8_t> bits;

  bool Create(int w, int h) {
    if (w < 0 || h < 0 || w > kMaxBitmapSide || h > kMaxBitmapSide) {
      *this = Bitmap1();
      return false;
    }
    width = w;
    height = h;
    pitch = ((w + 31) / 32) * 4;
    bits.assign(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(h), 0);
    return true;
  }
  std::uint8_t* Row(int y) {
    assert(y >= 0 && y < height);
    return bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch);
  }
  const std::uint8_t* Row(int y) const {
    assert(y >= 0 && y < height);
    return bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch);
  }
  bool Get(int x, int y) const { return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
  void Set(int x, int y, bool ink) {
    std::uint8_t& b = Row(y)[x >> 3];
    const std::uint8_t m = static_cast<std::uint8_t>(0x80 >> (x & 7));
    b = ink ? (b | m) : (b & ~m);
  }
};

// The 640 x 272 frame every layer composes; its centre (320, 136) is the origin of projections.
inline constexpr int kStageWidth = 640;
inline constexpr int kStageHeight = 272;
inline constexpr int kStageCentreX = 320;
inline constexpr int kStageCentreY = 136;
using StageBitmap = Bitmap32;
