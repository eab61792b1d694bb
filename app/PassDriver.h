// What any window that plays shows needs besides its picture: the settings loader, the seed of
// the play order, the millisecond clock and the rule that runs the playback's passes. Plain C++:
// the shell's single-shot timer asks it whether a pass is due, has it run one, and sleeps for the
// delay it gives.
#pragma once

#include <cstdint>
#include <functional>

class CMainCtl;
class CPlayback;

struct PassDriverOptions {
  // Loads the settings record; null loads it from the store.
  std::function<void(CMainCtl&)> loadSettings;
  // The millisecond clock; null reads the steady clock, 0 when the driver is made.
  std::function<std::int32_t()> clock;
  // Seed of the play order and the interval playlist; 0 takes the time of day.
  unsigned seed = 0;
};

class PassDriver {
 public:
  explicit PassDriver(PassDriverOptions options = {});

  void LoadSettings(CMainCtl& settings) const;
  unsigned Seed() const { return seed_; }
  std::int32_t Now() const { return clock_(); }

  // The playback whose passes it runs (not owned); a new one starts with a pass at once.
  void Drive(CPlayback* playback);
  // Passes run at most once per millisecond, so a pass is due at `now` unless one ran at it.
  bool Due(std::int32_t now) const { return playback_ != nullptr && now != lastPass_; }
  // One pass of the playback at `now`.
  void Pass(std::int32_t now);
  // The clock value at which the next pass has work (at once before the first pass); never in
  // the millisecond of the last pass.
  std::int32_t NextDue() const;
  // Milliseconds from `now` until the next pass is due, 0 when one is overdue; without a
  // playback, as long as it can be.
  std::int32_t Delay(std::int32_t now) const;
  std::int32_t LastPass() const { return lastPass_; }

 private:
  std::function<void(CMainCtl&)> loadSettings_;
  std::function<std::int32_t()> clock_;
  unsigned seed_;
  CPlayback* playback_ = nullptr;
  std::int32_t lastPass_ = INT32_MIN;
};
