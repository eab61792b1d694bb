// Shared-memory blocks for pictures the X server puts on the screen.
#include "platform/QtShmResource.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>

#include "platform/QtXcb.h"

std::unique_ptr<QtShmResource> QtShmResource::Open() {
  // ONDRELIX_NO_SHM=1 sends pictures the ordinary way, to compare the two.
  if (!XcbCalls().HasShm() || qEnvironmentVariableIsSet("ONDRELIX_NO_SHM")) return nullptr;
  return std::unique_ptr<QtShmResource>(new QtShmResource());
}

QtShmResource::~QtShmResource() {
  // Normally empty: whatever was allocated has been given back.
  const Xcb& x = XcbCalls();
  for (const Segment& s : segments_) {
    x.shmDetach(x.conn, s.seg);
    ::shmdt(s.address);
  }
  if (!segments_.empty()) x.flush(x.conn);
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
  const Xcb& x = XcbCalls();
  const std::uint32_t seg = x.generateId(x.conn);
  void* error =
      x.requestCheck(x.conn, x.shmAttachChecked(x.conn, seg, static_cast<std::uint32_t>(id), 1));
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
  const Xcb& x = XcbCalls();
  x.shmDetach(x.conn, it->seg);
  x.flush(x.conn);
  ::shmdt(it->address);
  segments_.erase(it);
}
