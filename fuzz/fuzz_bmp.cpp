// The BMP decoder on arbitrary bytes: it either fails or yields a consistent picture.
#include "fuzz/FuzzSupport.h"
#include "render/Picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Picture pic;
  if (DecodeBmp(data, size, &pic) != 0) return 0;
  FUZZ_CHECK(pic.rgb.width > 0 && pic.rgb.height > 0);
  FUZZ_CHECK(pic.rgb.pixels.size() == static_cast<std::size_t>(pic.rgb.width) * pic.rgb.height);
  if (pic.bitsPerPixel == 1) {
    FUZZ_CHECK(pic.mono.width == pic.rgb.width && pic.mono.height == pic.rgb.height);
  }
  return 0;
}
