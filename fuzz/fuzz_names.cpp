// The resolver of file names from scripts on arbitrary names (CP932 or UTF-8 bytes, "\" and
// "/", "." and "..", any case) in a small tree with mixed-case names, a Japanese name and links
// that loop, dangle or lead upward: a name resolves to an existing path or to nothing, the same
// with a warm cache as with a cold one, and the settings' lookups agree with it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "platform/NameResolver.h"
#include "settings/CMainCtl.h"

namespace {

void MakeFolder(const std::string& path) {
  FUZZ_CHECK(mkdir(path.c_str(), 0700) == 0 || errno == EEXIST);
}

void MakeLink(const std::string& target, const std::string& path) {
  FUZZ_CHECK(symlink(target.c_str(), path.c_str()) == 0 || errno == EEXIST);
}

// The data folder, made once for the whole run.
const std::string& Tree() {
  static const std::string base = [] {
    const std::string b = FuzzFolder() + "/names";
    MakeFolder(b);
    MakeFolder(b + "/Pics");
    MakeFolder(b + "/Pics/Sub");
    MakeFolder(b + "/pics2");
    const std::uint8_t byte = 0;
    WriteWholeFile(b + "/Pics/Sub/Photo.BMP", &byte, 1);
    WriteWholeFile(b + "/Pics/photo.bmp", &byte, 1);
    WriteWholeFile(b + "/Pics/PHOTO.bmp", &byte, 1);
    WriteWholeFile(b + "/\xE6\x97\xA5\xE6\x9C\xAC.bmp", &byte, 1);  // "日本" in UTF-8
    MakeLink(".", b + "/loop");
    MakeLink("nowhere", b + "/dangling");
    MakeLink("..", b + "/Pics/up");
    return b;
  }();
  return base;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 512) return 0;  // names in scripts are far shorter
  const std::string& base = Tree();
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  static NameResolver* warm = new NameResolver;

  const std::string found = warm->Resolve(base, name);
  FUZZ_CHECK(found.empty() || Exists(found));
  NameResolver cold;
  FUZZ_CHECK(cold.Resolve(base, name) == found);
  (void)ScriptNameToUtf8(name);

  // The same name through the settings, from the data folder and from a folder below it.
  static CMainCtl* settings = new CMainCtl;
  const std::string owned(name);
  for (const std::string& folder : {base, base + "/Pics"}) {
    settings->SetCurPath(folder);
    const std::string path = settings->ResolvePath(owned);
    FUZZ_CHECK(path.empty() || Exists(path));
    FUZZ_CHECK((settings->FileExists(owned) == 0) == !path.empty());
    (void)settings->FullPath(owned);
  }
  return 0;
}
