// Our own BMP decoder: 1, 4, 8, 16, 24 and 32 bits per pixel, bottom-up and top-down, palettes,
// bit fields, RLE4 and RLE8. Every header field is checked before a pixel is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "render/Picture.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr std::size_t kFileHeaderSize = 14;

// Little-endian reads over a buffer and a cursor; past the end they yield 0 and set `bad`.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  bool bad = false;

  bool Has(std::size_t n) const { return pos <= size && size - pos >= n; }
  std::uint8_t U8() {
    if (!Has(1)) {
      bad = true;
      return 0;
    }
    return data[pos++];
  }
  std::uint16_t U16() {
    const std::uint16_t lo = U8();
    return static_cast<std::uint16_t>(lo | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t lo = U16();
    return lo | (static_cast<std::uint32_t>(U16()) << 16);
  }
};

// One colour component of a bit-field pixel, scaled to 0..255.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  void Set(std::uint32_t m) {
    mask = m;
    shift = 0;
    max = 0;
    if (m == 0) return;
    while (((m >> shift) & 1) == 0) ++shift;
    max = m >> shift;
  }
  std::uint32_t Get(std::uint32_t v) const {
    if (max == 0) return 0;
    const std::uint64_t c = (v & mask) >> shift;
    return static_cast<std::uint32_t>((c * 255 + max / 2) / max);
  }
};

struct Header {
  std::uint32_t offBits = 0;
  std::uint32_t infoSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // positive: bottom-up
  int bits = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t colorsUsed = 0;
  Channel red, green, blue;
  bool topDown = false;
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB
};

int ReadHeader(Reader& r, Header* h) {
  if (r.U8() != 'B' || r.U8() != 'M') return -1;
  r.U32();  // file size: often wrong in real files, never trusted
  r.U32();  // reserved
  h->offBits = r.U32();
  h->infoSize = r.U32();
  const bool core = h->infoSize == 12;
  if (!core && (h->infoSize < 40 || h->infoSize > 4096)) return -1;
  if (core) {
    h->width = r.U16();
    h->height = r.U16();  // unsigned here: core pictures are always bottom-up
    if (r.U16() != 1) return -1;
    h->bits = r.U16();
  } else {
    h->width = static_cast<std::int32_t>(r.U32());
    h->height = static_cast<std::int32_t>(r.U32());
    if (r.U16() != 1) return -1;
    h->bits = r.U16();
    h->compression = r.U32();
    r.U32();  // image size
    r.U32();  // pixels per metre, x
    r.U32();  // pixels per metre, y
    h->colorsUsed = r.U32();
    r.U32();  // important colours
  }
  if (r.bad) return -1;
  if (h->height < 0) {
    h->topDown = true;
    h->height = -h->height;
  }
  if (h->width <= 0 || h->height <= 0) return -1;
  if (h->width > kMaxBitmapSide || h->height > kMaxBitmapSide) return -1;

  switch (h->bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return -1;
  }
  switch (h->compression) {
    case kBiRgb:
      break;
    case kBiRle8:
      if (h->bits != 8) return -1;
      break;
    case kBiRle4:
      if (h->bits != 4) return -1;
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (h->bits != 16 && h->bits != 32) return -1;
      break;
    default:
      return -1;
  }

  // Bit-field masks follow a 40-byte header, or lie inside the longer ones.
  if (h->compression == kBiBitfields || h->compression == kBiAlphaBitfields) {
    h->red.Set(r.U32());
    h->green.Set(r.U32());
    h->blue.Set(r.U32());
    if (r.bad) return -1;
  } else if (h->bits == 16) {
    h->red.Set(0x7C00);
    h->green.Set(0x03E0);
    h->blue.Set(0x001F);
  } else if (h->bits == 32) {
    h->red.Set(0xFF0000);
    h->green.Set(0xFF00);
    h->blue.Set(0xFF);
  }

  if (h->bits <= 8) {
    const std::uint32_t full = 1u << h->bits;
    std::uint32_t n = core ? full : h->colorsUsed;
    if (n == 0 || n > full) n = full;
    const std::size_t entry = core ? 3 : 4;
    r.pos = kFileHeaderSize + h->infoSize;
    // A palette that the file cannot hold is cut to what is there; missing entries are black.
    h->palette.assign(full, 0);
    for (std::uint32_t i = 0; i < n && r.Has(entry); ++i) {
      const std::uint32_t b = r.U8(), g = r.U8(), rd = r.U8();
      if (!core) r.U8();
      h->palette[i] = (rd << 16) | (g << 8) | b;
    }
  }
  if (h->offBits >= r.size) return -1;
  return 0;
}

bool Allocate(Picture* out, const Header& h) {
  const int w = static_cast<int>(h.width), ht = static_cast<int>(h.height);
  if (!out->Reserve(w, ht, h.bits == 1)) return false;
  try {
    if (!out->rgb.Create(w, ht)) return false;
    if (h.bits == 1 && !out->mono.Create(w, ht)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Stores palette index `index` at (x, row) where `row` counts in file order.
inline void PutIndex(Picture* out, const Header& h, int x, int fileRow, unsigned index) {
  const int y = h.topDown ? fileRow : out->rgb.height - 1 - fileRow;
  out->rgb.Row(y)[x] = h.palette[index];
  if (h.bits == 1 && index == 1) out->mono.Set(x, y, true);
}

int DecodeUncompressed(const std::uint8_t* data, std::size_t size, const Header& h, Picture* out) {
  const std::uint64_t stride = ((static_cast<std::uint64_t>(h.width) * h.bits + 31) / 32) * 4;
  const std::uint64_t need = stride * static_cast<std::uint64_t>(h.height);
  // The last row need not carry its padding; anything shorter is a truncated file.
  const std::uint64_t lastRow = (static_cast<std::uint64_t>(h.width) * h.bits + 7) / 8;
  if (h.offBits > size || size - h.offBits < need - stride + lastRow) return -1;
  if (!Allocate(out, h)) return -1;
  const int w = out->rgb.width;
  for (int fileRow = 0; fileRow < out->rgb.height; ++fileRow) {
    const std::uint8_t* p = data + h.offBits + stride * static_cast<std::uint64_t>(fileRow);
    const int y = h.topDown ? fileRow : out->rgb.height - 1 - fileRow;
    std::uint32_t* row = out->rgb.Row(y);
    switch (h.bits) {
      case 1:
      case 4:
      case 8: {
        const int per = 8 / h.bits;
        const unsigned mask = (1u << h.bits) - 1;
        for (int x = 0; x < w; ++x) {
          const int shift = 8 - h.bits * (x % per + 1);
          PutIndex(out, h, x, fileRow, (p[x / per] >> shift) & mask);
        }
        break;
      }
      case 16:
        for (int x = 0; x < w; ++x) {
          const std::uint32_t v = p[2 * x] | (p[2 * x + 1] << 8);
          row[x] = (h.red.Get(v) << 16) | (h.green.Get(v) << 8) | h.blue.Get(v);
        }
        break;
      case 24:
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* q = p + 3 * x;
          row[x] = (static_cast<std::uint32_t>(q[2]) << 16) | (q[1] << 8) | q[0];
        }
        break;
      case 32:
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* q = p + 4 * x;
          const std::uint32_t v =
              q[0] | (q[1] << 8) | (q[2] << 16) | (static_cast<std::uint32_t>(q[3]) << 24);
          row[x] = (h.red.Get(v) << 16) | (h.green.Get(v) << 8) | h.blue.Get(v);
        }
        break;
    }
  }
  return 0;
}

// Follows an RLE8 or RLE4 stream, storing its pixels into `out` when it is given. Runs that
// would pass the right edge are cut; a stream that runs out ends the picture.
int WalkRle(const std::uint8_t* data, std::size_t size, const Header& h, Picture* out) {
  const int w = static_cast<int>(h.width), ht = static_cast<int>(h.height);
  const bool four = h.compression == kBiRle4;
  Reader r{data, size, h.offBits};
  int x = 0, row = 0;
  bool sawEnd = false;
  while (row < ht && r.Has(2)) {
    const unsigned count = r.U8(), value = r.U8();
    if (count > 0) {  // encoded run
      for (unsigned i = 0; i < count && x < w; ++i, ++x) {
        const unsigned idx = four ? ((i & 1) ? value & 0x0F : value >> 4) : value;
        if (out) PutIndex(out, h, x, row, idx);
      }
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of picture
      sawEnd = true;
      break;
    } else if (value == 2) {  // delta
      const unsigned dx = r.U8(), dy = r.U8();
      if (r.bad) return -1;
      x = std::min(x + static_cast<int>(dx), w);
      row += static_cast<int>(dy);
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      const std::size_t bytes = four ? (value + 1) / 2 : value;
      if (!r.Has(bytes)) return -1;
      for (unsigned i = 0; i < value; ++i) {
        const std::uint8_t b = r.data[r.pos + (four ? i / 2 : i)];
        const unsigned idx = four ? ((i & 1) ? b & 0x0F : b >> 4) : b;
        if (x < w && out) PutIndex(out, h, x, row, idx);
        if (x < w) ++x;
      }
      r.pos += bytes + (bytes & 1);
    }
  }
  // A stream that stops before its end marker and before the last row is a truncated file.
  if (!sawEnd && row < ht - 1) return -1;
  return 0;
}

// RLE8 and RLE4. Pixels the stream skips (deltas, early line ends) keep palette index 0. The
// stream is followed once before the picture is made, so that a few bytes claiming a huge
// picture and then running out cost no full-size buffer.
int DecodeRle(const std::uint8_t* data, std::size_t size, const Header& h, Picture* out) {
  if (WalkRle(data, size, h, nullptr) != 0) return -1;
  if (!Allocate(out, h)) return -1;
  const int w = out->rgb.width, ht = out->rgb.height;
  for (int y = 0; y < ht; ++y)
    for (int x = 0; x < w; ++x) PutIndex(out, h, x, y, 0);
  return WalkRle(data, size, h, out);
}

}  // namespace

int DecodeBmp(const std::uint8_t* data, std::size_t size, Picture* out) {
  out->Clear();
  if (data == nullptr || size < kFileHeaderSize + 12) return -1;
  Reader r{data, size};
  Header h;
  if (ReadHeader(r, &h) != 0) return -1;
  const int rc = (h.compression == kBiRle8 || h.compression == kBiRle4)
                     ? DecodeRle(data, size, h, out)
                     : DecodeUncompressed(data, size, h, out);
  if (rc != 0) {
    out->Clear();
    return -1;
  }
  out->bitsPerPixel = h.bits;
  return 0;
}

bool Picture::Reserve(int width, int height, bool withMono) {
  if (!PictureFitsMemory(width, height)) return false;
  const std::uint64_t w = static_cast<std::uint64_t>(width), h = static_cast<std::uint64_t>(height);
  const std::uint64_t bytes = w * h * 4 + (withMono ? (w + 31) / 32 * 4 * h : 0);
  return lease.Take(budget, bytes);
}

bool PictureFitsMemory(int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide) return false;
  // A decoded picture needs its 32-bit copy and may need a one-bit copy and a turned copy; refuse
  // pictures whose 32-bit copy alone would take more than a quarter of the physical memory.
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return true;
  const std::uint64_t bytes =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4;
  return bytes <= static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 4;
}

int ReadPictureFile(const std::string& path, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  // Opened without waiting: a named pipe in place of a picture would otherwise block until some
  // writer came along, and the saver with it. The size check below then refuses it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    ::close(fd);
    return -1;
  }
  int rc = -1;
  struct stat st;
  // Only regular files: a folder opens for reading too, and its "size" means nothing.
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && std::fseek(f, 0, SEEK_END) == 0) {
    const long n = std::ftell(f);
    if (n > 0 && static_cast<std::uint64_t>(n) <= kMaxPictureFileBytes &&
        std::fseek(f, 0, SEEK_SET) == 0) {
      try {
        bytes->resize(static_cast<std::size_t>(n));
        if (std::fread(bytes->data(), 1, bytes->size(), f) == bytes->size()) rc = 0;
      } catch (const std::bad_alloc&) {
      }
    }
  }
  std::fclose(f);
  if (rc != 0) bytes->clear();
  return rc;
}

int LoadBmpFile(const std::string& path, Picture* out) {
  std::vector<std::uint8_t> bytes;
  if (ReadPictureFile(path, &bytes) != 0) {
    out->Clear();
    return -1;
  }
  return DecodeBmp(bytes.data(), bytes.size(), out);
}
