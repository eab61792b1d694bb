// The settings store's parser on arbitrary text: what parses formats back to text that parses
// to the same values, and loading the settings record from such a file never fails hard.
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "settings/CMainCtl.h"
#include "settings/RegStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegStore store;
  if (store.Parse(text) == 0) {
    const std::string formatted = store.Format();
    RegStore again;
    FUZZ_CHECK(again.Parse(formatted) == 0);
    FUZZ_CHECK(again.Format() == formatted);
  }
  const std::string path = FuzzFolder() + "/Pralvex.reg";
  WriteWholeFile(path, data, size);
  CMainCtl settings;
  settings.SetStorePath(path);
  settings.Load();
  FUZZ_CHECK(settings.NoExeAdd(0x1234) == 0 || settings.NoExeAt(kMaxNoExe - 1) != 0);
  return 0;
}
