// The one-bit text-picture store: run-length coding of rows, loading and padding of text
// pictures, and the 32-level colour ramps.
#include "render/CMonoBmp.h"

#include <new>

#include "render/LayerSettings.h"
#include "render/Picture.h"

namespace {

constexpr std::uint8_t kRowEnd = 255;
constexpr int kMaxRun = 254;
constexpr std::size_t kCodeChunk = 65536;

// Appends a run of `n` pixels of one kind, splitting runs above 254 with a 0 of the other kind.
void PutRun(int n, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(n > kMaxRun ? kMaxRun : n));
  while (n > kMaxRun) {
    n -= kMaxRun;
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(n > kMaxRun ? kMaxRun : n));
  }
}

// Copies `src` into an all-gap one-bit bitmap `dst` at (x, y), cutting what falls outside.
void Place(const Bitmap1& src, Bitmap1& dst, int x, int y) {
  for (int r = 0; r < src.height; ++r) {
    const int ty = y + r;
    if (ty < 0 || ty >= dst.height) continue;
    for (int c = 0; c < src.width; ++c) {
      const int tx = x + c;
      if (tx >= 0 && tx < dst.width && src.Get(c, r)) dst.Set(tx, ty, true);
    }
  }
}

// One bit per pixel as the text layers want it: one-bit sources as they are (palette index 1 is
// ink), any other picture with exactly white as ink.
bool ToMono(const Picture& pic, Bitmap1* out) {
  if (pic.bitsPerPixel == 1) {
    *out = pic.mono;
    return true;
  }
  if (!out->Create(pic.rgb.width, pic.rgb.height)) return false;
  for (int y = 0; y < pic.rgb.height; ++y) {
    const std::uint32_t* row = pic.rgb.Row(y);
    for (int x = 0; x < pic.rgb.width; ++x) {
      if ((row[x] & 0x00FFFFFFu) == 0x00FFFFFFu) out->Set(x, y, true);
    }
  }
  return true;
}

// Pads a picture to the shape its layer expects; false when the new bitmap cannot be made.
bool PadForKind(Bitmap1& bmp, int kind) {
  Bitmap1 padded;
  if (kind == kKindScrText) {
    if (bmp.width == 640) return true;
    if (!padded.Create(640, bmp.height)) return false;
    Place(bmp, padded, 320 - bmp.width / 2, 0);
  } else {
    int side = bmp.width > bmp.height ? bmp.width : bmp.height;
    if (side % 8 != 0) side = (side + 8) / 8 * 8;
    if (bmp.width == side && bmp.height == side) return true;
    if (!padded.Create(side, side)) return false;
    Place(bmp, padded, side / 2 - bmp.width / 2, side / 2 - bmp.height / 2);
  }
  bmp = std::move(padded);
  return true;
}

}  // namespace

void EncodeRowCode(const std::uint8_t* row, int width, std::vector<std::uint8_t>& out) {
  const int pixels = (width / 8) * 8;
  auto ink = [row](int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; };
  int x = 0;
  while (x < pixels) {
    int gap = 0, run = 0;
    while (x < pixels && !ink(x)) ++gap, ++x;
    while (x < pixels && ink(x)) ++run, ++x;
    if (run == 0 && gap == x) break;  // a row without ink is the end byte alone
    PutRun(gap, out);
    PutRun(run, out);
  }
  out.push_back(kRowEnd);
}

int CMonoBmp::AddTextBitmap(const Bitmap1& bmp) {
  if (count >= kMaxMonoEntries) return -1;
  try {
    auto g = std::make_unique<CMonoGraph>();
    g->bitmap = bmp;
    // The code buffer grows in steps of 64 KiB while fewer bytes remain than the longest row
    // code can take (width + 3: alternating single pixels, a leading ink and a trailing gap).
    g->codes.reserve(kCodeChunk);
    const std::size_t worst = static_cast<std::size_t>(bmp.width) + 4;
    for (int y = 0; y < bmp.height; ++y) {
      if (g->codes.capacity() - g->codes.size() < worst) {
        g->codes.reserve(g->codes.capacity() + kCodeChunk);
      }
      EncodeRowCode(bmp.Row(y), bmp.width, g->codes);
    }
    g->codes.shrink_to_fit();
    g->rowStart.resize(static_cast<std::size_t>(bmp.height));
    std::size_t pos = 0;
    for (int y = 0; y < bmp.height; ++y) {
      g->rowStart[static_cast<std::size_t>(y)] = static_cast<std::uint32_t>(pos);
      while (g->codes[pos] != kRowEnd) ++pos;
      ++pos;
    }
    entries[count] = std::move(g);
  } catch (const std::bad_alloc&) {
    entries[count].reset();
    return -1;
  }
  return count++;
}

int CMonoBmp::LoadTextBitmap(std::string& name, int kind) {
  if (count >= kMaxMonoEntries) return -1;
  Picture pic(settings != nullptr ? &settings->Pictures() : nullptr);
  const std::string path = settings != nullptr ? settings->ResolvePath(name) : std::string();
  if (path.empty() || LoadBmpFile(path, &pic) != 0) {
    name.clear();
    pic.budget = nullptr;  // the built-in picture is always there
    if (LoadBuiltinPicture("NOTFOUND", &pic) != 0) return -1;
  }
  Bitmap1 mono;
  try {
    if (!ToMono(pic, &mono) || !PadForKind(mono, kind)) return -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return AddTextBitmap(mono);
}

void CMonoBmp::BuildShadeRamp(int index) {
  CMonoGraph* g = Entry(index);
  if (g == nullptr) return;
  const std::uint32_t back = settings != nullptr ? settings->GetBackColour() : 0;
  const std::uint32_t ink = static_cast<std::uint32_t>(g->colour);
  const int r0 = back & 0xFF, g0 = (back >> 8) & 0xFF, b0 = (back >> 16) & 0xFF;
  const int r1 = ink & 0xFF, g1 = (ink >> 8) & 0xFF, b1 = (ink >> 16) & 0xFF;
  auto slot = [](int r, int gr, int b) {
    ShadeSlot s;
    s.packed = (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(gr) << 8) |
               static_cast<std::uint32_t>(b);
    s.r = r, s.g = gr, s.b = b;
    return s;
  };
  for (ShadeSlot& s : g->ShadeRamp) s = ShadeSlot();
  for (int level = 1; level <= 31; ++level) {
    const int k = 8 * (level + 1);
    g->ShadeRamp[level] =
        slot(r0 + (r1 - r0) * k / 256, g0 + (g1 - g0) * k / 256, b0 + (b1 - b0) * k / 256);
  }
  g->ShadeRamp[255] = slot(r0, g0, b0);
}

void CMonoBmp::ClearEntries() {
  for (auto& e : entries) e.reset();
  count = 0;
}
