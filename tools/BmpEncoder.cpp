// BMP writing: a file header, a 40-byte information header, the palette and the rows from the
// bottom up, each padded to 32 bits.
#include "tools/BmpEncoder.h"

#include <algorithm>
#include <cstdio>

namespace {

void Put16(std::vector<std::uint8_t>& o, std::uint32_t v) {
  o.push_back(static_cast<std::uint8_t>(v));
  o.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& o, std::uint32_t v) {
  Put16(o, v & 0xFFFF);
  Put16(o, v >> 16);
}

std::uint32_t Stride(int width, int bits) {
  return ((static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(bits) + 31) / 32) * 4;
}

void PutHeaders(std::vector<std::uint8_t>& o, int w, int h, int bits,
                const std::vector<std::uint32_t>& palette) {
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(palette.size()) * 4;
  const std::uint32_t image = Stride(w, bits) * static_cast<std::uint32_t>(h);
  o.clear();
  o.reserve(offset + image);
  o.push_back('B');
  o.push_back('M');
  Put32(o, offset + image);
  Put32(o, 0);
  Put32(o, offset);
  Put32(o, 40);
  Put32(o, static_cast<std::uint32_t>(w));
  Put32(o, static_cast<std::uint32_t>(h));
  Put16(o, 1);
  Put16(o, static_cast<std::uint32_t>(bits));
  Put32(o, 0);  // uncompressed
  Put32(o, image);
  Put32(o, 2835);  // 72 dots per inch
  Put32(o, 2835);
  Put32(o, static_cast<std::uint32_t>(palette.size()));
  Put32(o, 0);
  for (std::uint32_t c : palette) Put32(o, c & 0x00FFFFFFu);  // blue, green, red, 0
}

}  // namespace

int EncodeBmp(const Bitmap32& bmp, int bits, std::vector<std::uint8_t>* out) {
  if (bmp.Empty() || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) return -1;
  std::vector<std::uint32_t> palette;
  if (bits <= 8) {
    palette.reserve(bmp.pixels.size());
    for (std::uint32_t p : bmp.pixels) palette.push_back(p & 0x00FFFFFFu);
    std::sort(palette.begin(), palette.end());
    palette.erase(std::unique(palette.begin(), palette.end()), palette.end());
    if (palette.size() > (1u << bits)) return -1;
  }
  PutHeaders(*out, bmp.width, bmp.height, bits, palette);
  const std::uint32_t stride = Stride(bmp.width, bits);
  for (int y = bmp.height - 1; y >= 0; --y) {
    const std::size_t start = out->size();
    out->resize(start + stride, 0);
    std::uint8_t* d = out->data() + start;
    const std::uint32_t* s = bmp.Row(y);
    for (int x = 0; x < bmp.width; ++x) {
      const std::uint32_t p = s[x] & 0x00FFFFFFu;
      if (bits == 24 || bits == 32) {
        std::uint8_t* q = d + x * (bits / 8);
        q[0] = static_cast<std::uint8_t>(p), q[1] = static_cast<std::uint8_t>(p >> 8);
        q[2] = static_cast<std::uint8_t>(p >> 16);
        continue;
      }
      const unsigned index = static_cast<unsigned>(
          std::lower_bound(palette.begin(), palette.end(), p) - palette.begin());
      const int per = 8 / bits;
      d[x / per] |= static_cast<std::uint8_t>(index << (8 - bits * (x % per + 1)));
    }
  }
  return 0;
}

int EncodeBmp1(const Bitmap1& bmp, std::vector<std::uint8_t>* out) {
  if (bmp.width <= 0 || bmp.height <= 0) return -1;
  PutHeaders(*out, bmp.width, bmp.height, 1, {0x000000u, 0xFFFFFFu});
  const std::uint32_t stride = Stride(bmp.width, 1);
  for (int y = bmp.height - 1; y >= 0; --y) {
    const std::size_t start = out->size();
    out->resize(start + stride, 0);
    std::uint8_t* d = out->data() + start;
    const std::uint8_t* s = bmp.Row(y);
    const int whole = bmp.width / 8, rest = bmp.width % 8;
    std::copy_n(s, whole, d);
    // Bits past the width are cleared so that equal pictures give equal files.
    if (rest) d[whole] = static_cast<std::uint8_t>(s[whole] & (0xFF00 >> rest));
  }
  return 0;
}

int WriteFileBytes(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return -1;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok ? 0 : -1;
}
