// Shared-memory blocks for pictures the X server puts on the screen.
#include "shell/platform/QtShmResource.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>

#include "shell/platform/QtXcb.h"

std::unique_ptr<QtShmResource> QtShmResource::Open() {
  // ONDRELIX_NO_SHM=1 sends pictures the ordinary way, to compare the two.
  if (!XcbHasShm() || qEnvironmentVariableIsSet("ONDRELIX_NO_SHM")) return nullptr;
  return std::unique_ptr<QtShmResource>(new QtShmResource());
}

QtShmResource::~QtShmResource() {
  // Normally empty: whatever was allocated has been given back.
  xcb_connection_t* c = XcbConnection();
  for (const Segment& s : segments_) {
    xcb_shm_detach(c, s.seg);
    ::shmdt(s.address);
  }
  if (!segments_.empty()) xcb_flush(c);
}

std::uint32_t QtShmResource::SegmentAt(const void* p) const {
  for (const Segment& s : segments_)
    if (s.address == p) return s.seg;
  return 0;
}

// A new segment of `bytes`, attached to the server (read only for it); null when the system or
// the server refuses one. The segment is marked for removal at once, so it goes away with the
// last process that has it attached, however this one ends.
void* QtShmResource::AttachSegment(std::size_t bytes) {
  const int id = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) return nullptr;
  void* address = ::shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    ::shmctl(id, IPC_RMID, nullptr);
    return nullptr;
  }
  xcb_connection_t* c = XcbConnection();
  const xcb_shm_seg_t seg = xcb_generate_id(c);
  xcb_generic_error_t* error =
      xcb_request_check(c, xcb_shm_attach_checked(c, seg, static_cast<std::uint32_t>(id), 1));
  ::shmctl(id, IPC_RMID, nullptr);
  if (error != nullptr) {  // a server on another machine, say
    std::free(error);
    ::shmdt(address);
    return nullptr;
  }
  segments_.push_back({address, seg});
  return address;
}

void* QtShmResource::do_allocate(std::size_t bytes, std::size_t alignment) {
  if (bytes >= kMinSegmentBytes && alignment <= 4096) {
    if (void* p = AttachSegment(bytes)) return p;
  }
  return std::pmr::new_delete_resource()->allocate(bytes, alignment);
}

void QtShmResource::do_deallocate(void* p, std::size_t bytes, std::size_t alignment) {
  const auto it = std::find_if(segments_.begin(), segments_.end(),
                               [p](const Segment& s) { return s.address == p; });
  if (it == segments_.end()) {
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
    return;
  }
  xcb_connection_t* c = XcbConnection();
  xcb_shm_detach(c, it->seg);
  xcb_flush(c);
  ::shmdt(it->address);
  segments_.erase(it);
}
