// READFONT's font-picture reader on arbitrary picture files, then text laid out and drawn in
// the font that was read.
#include <optional>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "render/Bitmap.h"
#include "script/CScrText.h"
#include "settings/CMainCtl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CMainCtl* settings = [] {
    auto* s = new CMainCtl;
    s->SetStorePath(FuzzFolder() + "/absent.reg");
    s->CurPath = FuzzFolder();
    return s;
  }();
  WriteWholeFile(FuzzFolder() + "/font.bmp", data, size);
  CScrText text(settings);
  text.Reset(true);
  const std::string assign(1, static_cast<char>(size ? 32 + data[0] % 95 : 'A'));
  text.ReadFont("FUZZ", "font.bmp", assign);
  text.PushFormat(std::string("FUZZ"), std::nullopt, std::string("LAYOUT"), std::nullopt,
                  std::string("1"), std::nullopt);
  const char sample[] = "The quick brown fox jumps over the lazy dog 0123456789 !#$%&";
  for (int line = 0; line < 3; ++line) {
    for (const char* p = sample; *p; ++p) text.AddChar(static_cast<std::uint8_t>(*p), -1);
    text.AddChar('\n', -1);
  }
  Bitmap1 bmp;
  const int h = text.TextHeight() + 2;
  FUZZ_CHECK(h >= 1);
  if (h > 4096 || !bmp.Create(640, h)) return 0;
  text.Render(bmp);
  return 0;
}
