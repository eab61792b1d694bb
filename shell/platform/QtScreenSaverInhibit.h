// Keeps the desktop's own screen saver away while a window plays a show, through the session's
// org.freedesktop.ScreenSaver service. Without a session bus or that service it does nothing.
#pragma once

#include <QString>
#include <cstdint>

class QtScreenSaverInhibit {
 public:
  QtScreenSaverInhibit() = default;
  ~QtScreenSaverInhibit() { Release(); }
  QtScreenSaverInhibit(const QtScreenSaverInhibit&) = delete;
  QtScreenSaverInhibit& operator=(const QtScreenSaverInhibit&) = delete;

  // Asks the desktop not to start its screen saver; true when it agreed. A second call while
  // held does nothing more.
  bool Hold(const QString& application, const QString& reason);
  // Lets the desktop's screen saver run again (nothing when not held).
  void Release();
  bool Held() const { return held_; }

 private:
  bool held_ = false;
  std::uint32_t cookie_ = 0;
  QString path_;  // the object path that gave the cookie
};
