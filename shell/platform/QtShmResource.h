// Memory the X server reads too: large blocks are System V shared-memory segments attached to
// the server with MIT-SHM, so a picture kept in one is put on the screen without being copied
// through the connection (or through Qt's own window buffer). Small blocks, and every block
// when a segment cannot be had, come from the ordinary heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <vector>

class QtShmResource : public std::pmr::memory_resource {
 public:
  // Null unless Qt runs on an X11 server that offers MIT-SHM (and ONDRELIX_NO_SHM is unset).
  static std::unique_ptr<QtShmResource> Open();
  ~QtShmResource() override;
  QtShmResource(const QtShmResource&) = delete;
  QtShmResource& operator=(const QtShmResource&) = delete;

  // Blocks smaller than this stay on the heap: a segment per icon is not worth it.
  static constexpr std::size_t kMinSegmentBytes = 64 * 1024;

  // The server's name of the segment that begins at `p` (0 for heap memory).
  std::uint32_t SegmentAt(const void* p) const;
  int SegmentCount() const { return static_cast<int>(segments_.size()); }

 private:
  QtShmResource() = default;
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
  void* AttachSegment(std::size_t bytes);

  struct Segment {
    void* address;
    std::uint32_t seg;
  };
  std::vector<Segment> segments_;
};

// Where a window's picture goes: shared segments when the server takes them, else the heap.
inline std::pmr::memory_resource* PictureMemory(QtShmResource* shm) {
  return shm != nullptr ? static_cast<std::pmr::memory_resource*>(shm)
                        : std::pmr::get_default_resource();
}
