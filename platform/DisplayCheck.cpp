// Display detection: the X server is asked through libxcb, loaded only for this test.
#include "platform/DisplayCheck.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string_view>

namespace {

std::string_view Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string_view(v) : std::string_view();
}

bool IsHeadlessName(std::string_view p) {
  return p.starts_with("offscreen") || p.starts_with("minimal") || p.starts_with("vnc");
}

// Connects to the X server named by $DISPLAY and disconnects again.
bool XServerReachable() {
  if (Env("DISPLAY").empty()) return false;
  void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(lib, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(lib, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(lib, "xcb_disconnect"));
  bool ok = false;
  if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
    void* c = connect(nullptr, nullptr);
    ok = c != nullptr && hasError(c) == 0;
    if (c != nullptr) disconnect(c);
  }
  ::dlclose(lib);
  return ok;
}

bool WaylandReachable() {
  return !Env("WAYLAND_DISPLAY").empty();
}

}  // namespace

bool HeadlessPlatform() {
  return IsHeadlessName(Env("QT_QPA_PLATFORM"));
}

bool DisplayAvailable(std::string* why) {
  std::string_view platform = Env("QT_QPA_PLATFORM");
  if (IsHeadlessName(platform)) return true;
  bool ok = false;
  if (platform.empty()) {
    ok = XServerReachable() || (Env("XDG_SESSION_TYPE") == "wayland" && WaylandReachable());
  } else {
    // A list such as "wayland;xcb" is tried in order by the toolkit.
    size_t pos = 0;
    while (!ok && pos <= platform.size()) {
      size_t end = platform.find(';', pos);
      if (end == std::string_view::npos) end = platform.size();
      std::string_view p = platform.substr(pos, end - pos);
      ok = IsHeadlessName(p) || (p.starts_with("xcb") && XServerReachable()) ||
           (p.starts_with("wayland") && WaylandReachable()) ||
           (!p.starts_with("xcb") && !p.starts_with("wayland") && !p.empty());
      pos = end + 1;
    }
  }
  if (!ok && why != nullptr) {
    *why = Env("DISPLAY").empty() && Env("WAYLAND_DISPLAY").empty()
               ? "neither DISPLAY nor WAYLAND_DISPLAY is set"
               : "the display named by DISPLAY cannot be opened";
  }
  return ok;
}
