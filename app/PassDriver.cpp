// The pass rule shared by the saver window and the module window.
#include "app/PassDriver.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "app/CPlayback.h"
#include "settings/CMainCtl.h"

PassDriver::PassDriver(PassDriverOptions options)
    : loadSettings_(std::move(options.loadSettings)), clock_(std::move(options.clock)) {
  if (!clock_) {
    const auto start = std::chrono::steady_clock::now();
    clock_ = [start] {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      return static_cast<std::int32_t>(ms.count());
    };
  }
  seed_ = options.seed != 0 ? options.seed : static_cast<unsigned>(std::time(nullptr));
}

void PassDriver::LoadSettings(CMainCtl& settings) const {
  if (loadSettings_) {
    loadSettings_(settings);
  } else {
    settings.Load();
  }
}

void PassDriver::Drive(CPlayback* playback) {
  playback_ = playback;
  lastPass_ = INT32_MIN;
}

void PassDriver::Pass(std::int32_t now) {
  if (playback_ == nullptr) return;
  lastPass_ = now;
  playback_->Pass(now);
}

std::int32_t PassDriver::NextDue() const {
  if (playback_ == nullptr) return INT32_MAX;
  return lastPass_ == INT32_MIN ? Now() : playback_->NextDeadline(lastPass_);
}

std::int32_t PassDriver::Delay(std::int32_t now) const {
  const std::int64_t delay = static_cast<std::int64_t>(NextDue()) - now;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(delay, 0, INT32_MAX));
}
