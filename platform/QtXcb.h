// The few xcb calls the shell makes itself, on the connection of Qt's xcb platform. They are
// looked up in the libxcb (and libxcb-shm) that the platform plugin has loaded: the program does
// not link X libraries, so it also runs where Qt has no X11 at all.
#pragma once

#include <QSize>
#include <cstdint>

struct Xcb {
  struct Cookie {
    unsigned int sequence;
  };
  struct GeometryReply {
    std::uint8_t responseType, depth;
    std::uint16_t sequence;
    std::uint32_t length, root;
    std::int16_t x, y;
    std::uint16_t width, height, borderWidth;
    std::uint8_t pad[2];
  };
  struct ScreenIterator {
    const std::uint32_t* data;  // xcb_screen_t, whose first member is the root window
    int rem;
    int index;
  };
  struct ExtensionReply {
    std::uint8_t responseType, pad0;
    std::uint16_t sequence;
    std::uint32_t length;
    std::uint8_t present, majorOpcode, firstEvent, firstError;
  };

  void* conn = nullptr;
  Cookie (*getGeometry)(void*, std::uint32_t) = nullptr;
  GeometryReply* (*getGeometryReply)(void*, Cookie, void**) = nullptr;
  const void* (*getSetup)(void*) = nullptr;
  ScreenIterator (*rootsIterator)(const void*) = nullptr;
  void (*screenNext)(ScreenIterator*) = nullptr;
  std::uint32_t (*generateId)(void*) = nullptr;
  Cookie (*createGc)(void*, std::uint32_t, std::uint32_t, std::uint32_t, const void*) = nullptr;
  Cookie (*freeGc)(void*, std::uint32_t) = nullptr;
  Cookie (*putImage)(void*, std::uint8_t, std::uint32_t, std::uint32_t, std::uint16_t,
                     std::uint16_t, std::int16_t, std::int16_t, std::uint8_t, std::uint8_t,
                     std::uint32_t, const std::uint8_t*) = nullptr;
  std::uint32_t (*maxRequestLength)(void*) = nullptr;
  int (*flush)(void*) = nullptr;
  void* (*requestCheck)(void*, Cookie) = nullptr;  // the error, or null
  Cookie (*getInputFocus)(void*) = nullptr;
  void* (*getInputFocusReply)(void*, Cookie, void**) = nullptr;
  const ExtensionReply* (*extensionData)(void*, void*) = nullptr;

  // MIT-SHM, when libxcb-shm is there (null otherwise).
  void* shmId = nullptr;  // the extension's key for extensionData
  Cookie (*shmAttachChecked)(void*, std::uint32_t, std::uint32_t, std::uint8_t) = nullptr;
  Cookie (*shmDetach)(void*, std::uint32_t) = nullptr;
  Cookie (*shmPutImage)(void*, std::uint32_t, std::uint32_t, std::uint16_t, std::uint16_t,
                        std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, std::int16_t,
                        std::int16_t, std::uint8_t, std::uint8_t, std::uint8_t, std::uint32_t,
                        std::uint32_t) = nullptr;

  bool ok() const { return conn != nullptr; }
  // The server offers MIT-SHM and the calls for it were found.
  bool HasShm() const;
};

inline constexpr std::uint8_t kXcbZPixmap = 2;

// The calls, found once; ok() is false without Qt's xcb platform.
const Xcb& XcbCalls();

// The size and depth of an X11 window; an empty size when there is no such window (or no X11
// display).
struct ForeignWindowInfo {
  QSize size;
  int depth = 0;
};
ForeignWindowInfo ReadForeignWindow(std::uint64_t id);
// The root window of the display's default screen; 0 without an X11 display.
std::uint64_t RootWindowId();

// One MIT-SHM PutImage: the part (x, y, w, h) of a totalW x totalH picture of 32-bit pixels held
// in segment `seg` goes to the same place of `drawable`.
void XcbShmPut(std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth, std::uint32_t seg,
               int totalW, int totalH, int x, int y, int w, int h);

// Marks the requests sent so far (and sends them); Wait returns once the server has handled
// them: for a put from shared memory, once it has read the pixels. Waiting after the server
// has answered costs nothing.
class XcbFence {
 public:
  void Mark();
  void Wait();

 private:
  bool pending_ = false;
  unsigned sequence_ = 0;
};
