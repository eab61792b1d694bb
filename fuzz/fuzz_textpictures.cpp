// The title and scrolling-text pipeline fed with arbitrary one-bit pictures: registered,
// started, animated at varying distances and speeds, and drawn onto the stage.
#include <algorithm>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "render/Bitmap.h"
#include "render/CScroll.h"
#include "render/CTitle.h"
#include "script/TimeEvents.h"
#include "settings/CMainCtl.h"

namespace {

void FillBits(Bitmap1& bmp, const std::uint8_t* data, std::size_t size) {
  if (!size) return;
  for (std::size_t i = 0; i < bmp.bits.size(); ++i) bmp.bits[i] = data[i % size];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  static CMainCtl* settings = new CMainCtl;
  static CTitle* title = new CTitle(settings);
  static CScroll* scroll = new CScroll(settings);
  static StageBitmap* stage = [] {
    auto* s = new StageBitmap;
    s->Create(kStageWidth, kStageHeight);
    return s;
  }();
  settings->SetBackColour(data[5] * 0x010101u);

  // A square title picture, side a multiple of 8 as the loader makes them.
  const int side = 8 * (1 + data[0] % 40);
  Bitmap1 square;
  square.Create(side, side);
  FillBits(square, data + 6, size - 6);
  const int t = title->AddTextBitmap(square);
  if (t >= 0) {
    CTimeTitle rec;
    rec.BmpNo = t;
    rec.ZPos = static_cast<std::int8_t>(data[1]) * 4.0;
    rec.ZPosPlus = static_cast<std::int8_t>(data[2]) * 0.5;
    rec.Contrast = (data[3] & 1) ? kFullContrast : (data[3] << 16);
    rec.Time = 1000;
    title->StartTitle(rec);
    for (int f = 0; f < 24; ++f) {
      title->AnimateTitles();
      title->DrawTitles(*stage);
    }
  }

  // A 640-pixel-wide scrolling block of arbitrary height.
  Bitmap1 block;
  block.Create(kStageWidth, 1 + data[4] % 120);
  FillBits(block, data + 6, size - 6);
  const int s = scroll->AddTextBitmap(block);
  if (s >= 0) {
    CTimeScroll rec;
    rec.BmpNo = s;
    rec.Speed = 0;
    rec.Contrast = (data[3] & 2) ? kFullContrast : 0x800000;
    scroll->StartScroll(rec, 0);
    for (int step = 1; step <= 48; ++step) {
      scroll->StepScroll(step);
      scroll->AnimateScrolls();
      scroll->DrawScrolls(*stage);
    }
  }
  // One picture of each kind per input: entries left playing would make every later input
  // step all of them.
  title->ClearTitles();
  scroll->ClearScrolls();
  return 0;
}
