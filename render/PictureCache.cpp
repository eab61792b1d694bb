// Decoded picture files kept for a show.
#include "render/PictureCache.h"

#include <sys/stat.h>

#include <utility>

#include "platform/FileTypes.h"
#include "render/LayerSettings.h"
#include "render/Picture.h"

int PictureCache::Load(LayerSettings& settings, const std::string& name, Picture* out) {
  const int type = name.empty() || name[0] == '*' ? 0 : FileTypeOf(name);
  if (type != 2 && type != 3) return LoadPictureOrNotFound(settings, name, out);
  const std::string path = settings.ResolvePath(name);
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return LoadPictureFile(settings, path, type, out);
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    const Kept& k = kept_[i];
    if (k.path != path) continue;
    if (k.size != st.st_size || k.changed.tv_sec != st.st_mtim.tv_sec ||
        k.changed.tv_nsec != st.st_mtim.tv_nsec) {
      Remove(i);  // the file changed since
      break;
    }
    if (!out->lease.Take(&settings.Pictures(), k.leaseBytes)) break;
    out->rgb = k.rgb;
    out->mono = k.mono;
    out->bitsPerPixel = k.bitsPerPixel;
    return 0;
  }
  const int rc = LoadPictureFile(settings, path, type, out);
  if (rc == 0) Keep(path, st.st_size, st.st_mtim, *out);
  return rc;
}

void PictureCache::Keep(const std::string& path, std::int64_t size, const timespec& changed,
                        const Picture& pic) {
  const std::uint64_t bytes = pic.rgb.pixels.size() * sizeof(std::uint32_t) + pic.mono.bits.size();
  if (bytes > kMaxKeptPictureBytes) return;
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    if (kept_[i].path == path) Remove(i--);
  }
  while (bytes_ > kMaxKeptPictureBytes - bytes) Remove(0);
  Kept k;
  k.path = path;
  k.size = size;
  k.changed = changed;
  k.rgb = pic.rgb;
  k.mono = pic.mono;
  k.bitsPerPixel = pic.bitsPerPixel;
  k.leaseBytes = pic.lease.Bytes();
  k.bytes = bytes;
  kept_.push_back(std::move(k));
  bytes_ += bytes;
}

void PictureCache::Remove(std::size_t i) {
  bytes_ -= kept_[i].bytes;
  kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(i));
}

void PictureCache::Clear() {
  kept_.clear();
  kept_.shrink_to_fit();
  bytes_ = 0;
}
