// Writes bitmaps as BMP files (bottom-up, uncompressed) for the tools and the tests.
#pragma once

#include <cstdint>
#include <vector>

#include "render/Bitmap.h"

// 1, 4, 8, 24 or 32 bits per pixel. For 1 to 8 bits the palette holds the picture's colours in
// ascending order (so black and white give index 0 black, index 1 white); -1 when they do not
// fit, or for another depth or an empty bitmap.
int EncodeBmp(const Bitmap32& bmp, int bitsPerPixel, std::vector<std::uint8_t>* out);
// One bit per pixel with the palette black (index 0), white (index 1); bit 1 stays index 1.
int EncodeBmp1(const Bitmap1& bmp, std::vector<std::uint8_t>* out);
// Writes `bytes` to a file; 0 or -1.
int WriteFileBytes(const char* path, const std::vector<std::uint8_t>& bytes);
