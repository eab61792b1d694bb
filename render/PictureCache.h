// Decoded picture files kept for the show that loads them: a file loaded again while it is
// unchanged (the same resolved path, size and modification time) is neither read nor decoded
// again. A show that starts the same picture for many objects then decodes it once.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "render/Bitmap.h"

class LayerSettings;
struct Picture;

// The most decoded bytes kept at once; a larger picture is not kept, and the longest kept ones
// make room for a new one.
inline constexpr std::uint64_t kMaxKeptPictureBytes = 16ull << 20;

class PictureCache {
 public:
  // LoadPictureOrNotFound, with a picture file taken from those kept when it is unchanged since
  // it was loaded. The copy given out counts against the window's budget as a fresh decode of
  // it does; one that does not fit is loaded afresh (which fails as it would have).
  int Load(LayerSettings& settings, const std::string& name, Picture* out);
  // Frees every kept picture (the show ended).
  void Clear();
  std::uint64_t Bytes() const { return bytes_; }
  int Count() const { return static_cast<int>(kept_.size()); }

 private:
  struct Kept {
    std::string path;
    std::int64_t size = 0;
    timespec changed{};
    Bitmap32 rgb;
    Bitmap1 mono;
    int bitsPerPixel = 0;
    std::uint64_t leaseBytes = 0;  // what the decoder took from the budget
    std::uint64_t bytes = 0;       // what this copy holds
  };
  void Keep(const std::string& path, std::int64_t size, const timespec& changed,
            const Picture& pic);
  void Remove(std::size_t i);

  std::vector<Kept> kept_;  // oldest first
  std::uint64_t bytes_ = 0;
};
