// The pictures embedded from resources/ at build time, found by name, and the loader that
// always yields a picture (NOTFOUND in place of anything missing or broken).
#include <cstring>

#include "platform/FileTypes.h"
#include "render/LayerSettings.h"
#include "render/Picture.h"

namespace ondrelix::embedded {
struct Entry {
  const char* name;
  const std::uint8_t* data;
  std::size_t size;
};
const Entry* Table();
}  // namespace ondrelix::embedded

namespace {

// Scripts write built-in names as they like; the tokeniser may upper-case them.
bool SameName(const char* a, const std::string& b) {
  const std::size_t n = std::strlen(a);
  if (n != b.size()) return false;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

int LoadBuiltinPicture(const std::string& name, Picture* out) {
  for (const ondrelix::embedded::Entry* e = ondrelix::embedded::Table(); e->name != nullptr; ++e) {
    if (SameName(e->name, name)) return DecodeBmp(e->data, e->size, out);
  }
  out->Clear();
  return -1;
}

int LoadPictureFile(LayerSettings& settings, const std::string& path, int type, Picture* out) {
  // Pictures from the data folder count against the window's budget; the built-in ones
  // (NOTFOUND among them) are small and must always be there.
  int rc = -1;
  PictureBudget* const kept = out->budget;
  out->budget = &settings.Pictures();
  if (!path.empty() && (type == 2 || type == 3))
    rc = type == 2 ? LoadBmpFile(path, out) : LoadJpegFile(path, out);
  out->budget = kept;
  if (rc != 0) LoadBuiltinPicture("NOTFOUND", out);
  return rc;
}

int LoadPictureOrNotFound(LayerSettings& settings, const std::string& name, Picture* out) {
  if (!name.empty() && name[0] == '*') {
    const int rc = LoadBuiltinPicture(name.substr(1), out);
    if (rc != 0) LoadBuiltinPicture("NOTFOUND", out);
    return rc;
  }
  const int type = name.empty() ? 0 : FileTypeOf(name);
  if (type != 2 && type != 3) return LoadPictureFile(settings, "", type, out);
  return LoadPictureFile(settings, settings.ResolvePath(name), type, out);
}
