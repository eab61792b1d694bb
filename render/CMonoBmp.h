// The one-bit text-picture store shared by the title and scrolling-text layers: up to 64
// pictures, each with run-length coded rows and a 32-level colour ramp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/Bitmap.h"

class LayerSettings;

inline constexpr int kMaxMonoEntries = 64;
inline constexpr int kKindTitle = 16;    // LoadTextBitmap for TITLE: square, side a multiple of 8
inline constexpr int kKindScrText = 18;  // LoadTextBitmap for SCRTEXT: 640 pixels wide

// One slot of a colour ramp: packed 0x00RRGGBB and its three components.
struct ShadeSlot {
  std::uint32_t packed = 0;
  std::int32_t r = 0;
  std::int32_t g = 0;
  std::int32_t b = 0;
};

class CMonoGraph {
 public:
  Bitmap1 bitmap;                    // the entry's own copy; width a multiple of 8
  std::vector<std::uint8_t> codes;   // RowCode of every row, row after row
  std::vector<std::uint32_t> rowStart;  // offset in `codes` of each row's first byte
  std::int32_t contrast = 0xFF0000;
  std::int32_t colour = 0;           // packed 0x00BBGGRR
  ShadeSlot ShadeRamp[256] = {};

  const std::uint8_t* RowCode(int y) const { return codes.data() + rowStart[y]; }
};

// Appends the RowCode of one row (width / 8 whole bytes read) to `out`.
void EncodeRowCode(const std::uint8_t* row, int width, std::vector<std::uint8_t>& out);

class CMonoBmp {
 public:
  explicit CMonoBmp(LayerSettings* settings) : settings(settings) {}
  virtual ~CMonoBmp() = default;

  // Registers a copy of `bmp`; returns its index, or -1 when 64 entries exist or memory runs out.
  int AddTextBitmap(const Bitmap1& bmp);
  // Loads the BMP `name` (relative to the data folder), reduces and pads it for `kind`
  // (kKindTitle or kKindScrText) and registers it. A missing or unreadable file registers the
  // built-in NOTFOUND picture and empties `name`. Returns the index or -1.
  int LoadTextBitmap(std::string& name, int kind);
  void BuildShadeRamp(int index);
  // Destroys every entry; `count` returns to 0.
  void ClearEntries();

  CMonoGraph* Entry(int index) {
    return index >= 0 && index < count ? entries[index].get() : nullptr;
  }

  std::unique_ptr<CMonoGraph> entries[kMaxMonoEntries];
  LayerSettings* settings = nullptr;
  int count = 0;
};
