// Decoded pictures and the loaders for BMP files, JPEG files and the built-in pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/Bitmap.h"
#include "render/PictureBudget.h"

class LayerSettings;

struct Picture {
  Bitmap32 rgb;          // every picture as 32 bits per pixel (0x00RRGGBB)
  int bitsPerPixel = 0;  // of the source: 1, 4, 8, 16, 24 or 32 (JPEG: 24, grey 8)
  Bitmap1 mono;          // one-bit sources only: bit set where the palette index is 1
  // The budget the decoders charge (none: only the per-picture limit holds), and what this
  // picture holds of it; whoever keeps the pixels keeps the lease with them.
  PictureBudget* budget = nullptr;
  PictureLease lease;

  Picture() = default;
  explicit Picture(PictureBudget* b) : budget(b) {}
  // Empties the picture and returns its lease; the budget stays.
  void Clear() {
    rgb = Bitmap32();
    bitsPerPixel = 0;
    mono = Bitmap1();
    lease.Return();
  }
  // Before the decoders allocate a width x height picture (with its one-bit copy when `mono`):
  // false when it is too large in itself or does not fit in what is left of the budget.
  bool Reserve(int width, int height, bool withMono);
};

// Each returns 0, or -1 for a missing, truncated, oversized or malformed picture.
int DecodeBmp(const std::uint8_t* data, std::size_t size, Picture* out);
int LoadBmpFile(const std::string& path, Picture* out);
int DecodeJpeg(const std::uint8_t* data, std::size_t size, Picture* out);
int LoadJpegFile(const std::string& path, Picture* out);
// A picture embedded from resources/, by name without the leading "*".
int LoadBuiltinPicture(const std::string& name, Picture* out);
// Always yields a picture: "*NAME" a built-in one; else by FileTypeOf (2 BMP, 3 JPEG) from the
// data folder; anything else or a failure gives NOTFOUND and returns -1.
int LoadPictureOrNotFound(LayerSettings& settings, const std::string& name, Picture* out);
// The same for a file already resolved to `path` (type 2 BMP, 3 JPEG; "" for none).
int LoadPictureFile(LayerSettings& settings, const std::string& path, int type, Picture* out);

// Largest picture file read whole into memory (a 16384 x 16384 BMP of 32 bits and its header).
inline constexpr std::uint64_t kMaxPictureFileBytes = 16384ull * 16384ull * 4ull + 65536ull;
// True when a width x height picture may be decoded: both sides 1..kMaxBitmapSide, and its
// 32-bit copy no larger than a quarter of the physical memory.
bool PictureFitsMemory(int width, int height);
// Reads a whole picture file; 0, or -1 (and an empty buffer) when missing, empty or too large.
int ReadPictureFile(const std::string& path, std::vector<std::uint8_t>* bytes);

// How hard a 32-bit picture is compressed: zlib's default with libpng's choice of filters
// (smallest file), or level 1 with the SUB filter alone (five times faster for frames of a show,
// files about a third larger).
enum class PngPacking { kSmall, kFast };
// Writes any bitmap as a PNG file (tests, tools, the headless renderer). 0 or -1.
int WritePng(const std::string& path, const Bitmap32& bmp, PngPacking packing = PngPacking::kSmall);
int WritePng(const std::string& path, const Bitmap8& bmp);
int WritePng(const std::string& path, const Bitmap1& bmp);
