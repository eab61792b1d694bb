// The JPEG loader on arbitrary bytes: a clean failure or a consistent picture, never an abort.
#include "fuzz/FuzzSupport.h"
#include "render/Picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Picture pic;
  if (DecodeJpeg(data, size, &pic) != 0) return 0;
  FUZZ_CHECK(pic.rgb.width > 0 && pic.rgb.height > 0);
  FUZZ_CHECK(pic.rgb.pixels.size() == static_cast<std::size_t>(pic.rgb.width) * pic.rgb.height);
  return 0;
}
