// Writes 32-bit bitmaps as RGB, 8-bit ones as grey and 1-bit ones as black and white PNG files.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "render/Picture.h"

namespace {

void OnPngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

// `rowAt(y)` gives the bytes of row y in the PNG's own layout.
template <typename RowFn>
int WriteRows(const std::string& path, int width, int height, int depth, int colourType,
              RowFn rowAt, PngPacking packing = PngPacking::kSmall) {
  if (width <= 0 || height <= 0) return -1;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return -1;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  volatile int rc = -1;
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    if (packing == PngPacking::kFast) {
      // Neighbouring pixels of a frame differ little, so SUB alone leaves zlib's fastest level
      // little to do; trying every filter on every row is what costs the time.
      png_set_compression_level(png, 1);
      png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 depth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rowAt(y));
    png_write_end(png, nullptr);
    rc = 0;
  }
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) rc = -1;
  if (rc != 0) std::remove(path.c_str());
  return rc;
}

}  // namespace

int WritePng(const std::string& path, const Bitmap32& bmp, PngPacking packing) {
  std::vector<png_byte> rgb(static_cast<std::size_t>(bmp.width > 0 ? bmp.width : 0) * 3);
  return WriteRows(
      path, bmp.width, bmp.height, 8, PNG_COLOR_TYPE_RGB,
      [&](int y) {
        const std::uint32_t* s = bmp.Row(y);
        png_byte* d = rgb.data();
        for (int x = 0; x < bmp.width; ++x, d += 3) {
          d[0] = static_cast<png_byte>(s[x] >> 16);
          d[1] = static_cast<png_byte>(s[x] >> 8);
          d[2] = static_cast<png_byte>(s[x]);
        }
        return rgb.data();
      },
      packing);
}

int WritePng(const std::string& path, const Bitmap8& bmp) {
  return WriteRows(path, bmp.width, bmp.height, 8, PNG_COLOR_TYPE_GRAY,
                   [&](int y) { return const_cast<png_byte*>(bmp.Row(y)); });
}

int WritePng(const std::string& path, const Bitmap1& bmp) {
  // Grey of one bit: 1 is white, as ink is in our one-bit bitmaps; rows are MSB first in both.
  return WriteRows(path, bmp.width, bmp.height, 1, PNG_COLOR_TYPE_GRAY,
                   [&](int y) { return const_cast<png_byte*>(bmp.Row(y)); });
}
