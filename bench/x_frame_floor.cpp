// The floor under the saver's processor time on an X server: a client that does nothing but show
// a frame whose every pixel changes, the size the saver's frame has in a display mode, at the
// saver's frame rate. Each frame it fills the frame's pixels in shared memory (the least any
// client writes for a frame that changes whole), puts them into its window and, every fourth
// frame, asks the server for a reply before it asks for the next one, as the saver does. What it
// and the server use is what showing such a frame costs here, whatever draws it.
//
// With --pixels N only a square of about N pixels changes and is put each frame (a show whose
// sprites change that many window pixels a pass cannot cost less); --pixels 1 leaves the cost of
// the frame's wake-ups and requests alone.
//
// It writes the saver's pass record (ONDRELIX_PASS_STATS format) once a second, so
// tools/measure-cpu.sh --floor measures it as it measures the saver.
//
// usage: x_frame_floor --mode N [--rate FRAMES_PER_SECOND] [--pixels N] [--record FILE]
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory_resource>
#include <string>

#include "app/DisplayGeometry.h"
#include "render/Bitmap.h"
#include "render/PixelOps.h"

namespace {

constexpr int kFencePeriod = 4;  // frames per reply asked for, as the saver's fence
constexpr long kNanosPerSecond = 1000000000L;

// A single block of shared memory handed out once, so a Bitmap32 can live in it.
class SegmentResource : public std::pmr::memory_resource {
 public:
  SegmentResource(void* base, std::size_t size) : base_(base), size_(size) {}

 private:
  void* do_allocate(std::size_t bytes, std::size_t) override {
    if (bytes > size_ || taken_) throw std::bad_alloc();
    taken_ = true;
    return base_;
  }
  void do_deallocate(void*, std::size_t, std::size_t) override { taken_ = false; }
  bool do_is_equal(const memory_resource& o) const noexcept override { return this == &o; }
  void* base_;
  std::size_t size_;
  bool taken_ = false;
};

struct Options {
  int mode = kDisplayWindow;
  int rate = 30;
  long pixels = 0;  // 0: the whole frame
  std::string record;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--mode") {
      o->mode = std::atoi(argv[i + 1]);
    } else if (key == "--rate") {
      o->rate = std::atoi(argv[i + 1]);
    } else if (key == "--pixels") {
      o->pixels = std::atol(argv[i + 1]);
    } else if (key == "--record") {
      o->record = argv[i + 1];
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && o->mode >= kDisplayExclusive && o->mode <= kDisplayWindow &&
         o->rate > 0 && o->rate <= 1000 && o->pixels >= 0;
}

// The part that changes: the whole frame, or a square of about `pixels` pixels (cut to the frame)
// that steps along the frame's diagonal, as a sprite would move.
RectXYWH ChangingPart(const RectXYWH& frame, long pixels, long frameNo) {
  if (pixels <= 0) return {0, 0, frame.width, frame.height};
  int side = 1;
  while (static_cast<long>(side + 1) * (side + 1) <= pixels) ++side;
  const int w = std::min(side, frame.width), h = std::min(side, frame.height);
  const int x = static_cast<int>(frameNo % (frame.width - w + 1));
  const int y = static_cast<int>(frameNo % (frame.height - h + 1));
  return {x, y, w, h};
}

std::int64_t NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The pass record, written beside and renamed over the old one as the saver does.
void WriteRecord(const std::string& path, long frames, std::int64_t ms, std::int64_t pixels) {
  if (path.empty()) return;
  const std::string fresh = path + ".new";
  FILE* f = std::fopen(fresh.c_str(), "w");
  if (f == nullptr) return;
  std::fprintf(f,
               "passes %ld\nlate_over_one_tick 0\nworst_late_ms 0\nlongest_pass_ms 0\nshows 1\n"
               "time_ms %lld\npixels_shown %lld\n",
               frames, static_cast<long long>(ms), static_cast<long long>(pixels));
  if (std::fclose(f) == 0) std::rename(fresh.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: x_frame_floor --mode N [--rate FPS] [--pixels N] [--record FILE]\n");
    return 2;
  }
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "x_frame_floor: cannot connect to the X server\n");
    return 1;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  int ww = 0, wh = 0;
  WindowSizeFor(o.mode, screen->width_in_pixels, screen->height_in_pixels, &ww, &wh);
  const DisplayGeometry g = ComputeDisplayGeometry(o.mode, screen->width_in_pixels,
                                                   screen->height_in_pixels, ww, wh, 0, 0);
  const RectXYWH& f = g.FrameRect;
  if (screen->root_depth != 24 || f.width <= 0 || f.height <= 0) {
    std::fprintf(stderr, "x_frame_floor: needs a 24-bit screen\n");
    return 1;
  }
  const xcb_window_t window = xcb_generate_id(c);
  const std::uint32_t values[] = {screen->black_pixel, 1};
  xcb_create_window(c, 24, window, screen->root, 0, 0, static_cast<std::uint16_t>(ww),
                    static_cast<std::uint16_t>(wh), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(c, window);
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, window, 0, nullptr);

  const std::size_t bytes = static_cast<std::size_t>(f.width) * f.height * 4;
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  void* base = id < 0 ? nullptr : shmat(id, nullptr, 0);
  if (base == nullptr || base == reinterpret_cast<void*>(-1)) {
    std::fprintf(stderr, "x_frame_floor: no shared memory: %s\n", std::strerror(errno));
    return 1;
  }
  const xcb_shm_seg_t segment = xcb_generate_id(c);
  xcb_shm_attach(c, segment, static_cast<std::uint32_t>(id), 0);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  shmctl(id, IPC_RMID, nullptr);  // gone once both sides let go of it
  SegmentResource memory(base, bytes);
  Bitmap32 frame(&memory);
  frame.Create(f.width, f.height);

  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  const std::int64_t start = NowMs();
  std::int64_t nextRecord = start + 1000;
  long frames = 0;
  xcb_get_input_focus_cookie_t fence{0};
  while (!xcb_connection_has_error(c)) {
    next.tv_nsec += kNanosPerSecond / o.rate;
    if (next.tv_nsec >= kNanosPerSecond) {
      next.tv_nsec -= kNanosPerSecond;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    ++frames;
    const RectXYWH part = ChangingPart(f, o.pixels, frames);
    FillRect(frame, part.x, part.y, part.width, part.height,
             static_cast<std::uint32_t>(frames) * 0x010305u);
    xcb_shm_put_image(
        c, window, gc, static_cast<std::uint16_t>(f.width), static_cast<std::uint16_t>(f.height),
        static_cast<std::uint16_t>(part.x), static_cast<std::uint16_t>(part.y),
        static_cast<std::uint16_t>(part.width), static_cast<std::uint16_t>(part.height),
        static_cast<std::int16_t>(f.x + part.x), static_cast<std::int16_t>(f.y + part.y), 24,
        XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, 0);
    if (frames % kFencePeriod == 0) {
      if (fence.sequence != 0) std::free(xcb_get_input_focus_reply(c, fence, nullptr));
      fence = xcb_get_input_focus(c);
    }
    xcb_flush(c);
    const std::int64_t now = NowMs();
    if (now >= nextRecord) {
      WriteRecord(o.record, frames, now - start,
                  frames * static_cast<std::int64_t>(ChangingPart(f, o.pixels, 0).width) *
                      ChangingPart(f, o.pixels, 0).height);
      nextRecord = now + 1000;
    }
  }
  return 0;
}
