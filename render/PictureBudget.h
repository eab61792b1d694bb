// How much decoded picture memory one window may hold at a time, and the leases that count it.
#pragma once

#include <cstdint>

// At most a quarter of the physical memory or 1 GiB, whichever is less: a few tiny files that
// claim huge sizes must not be able to take the machine's memory, however many times a show
// uses them.
inline constexpr std::uint64_t kMaxPictureBudgetBytes = 1ull << 30;

class PictureBudget {
 public:
  PictureBudget();
  explicit PictureBudget(std::uint64_t limit) : limit_(limit) {}
  // A copy is a budget of its own with the same limit; what the original holds stays its own.
  PictureBudget(const PictureBudget& other) : limit_(other.limit_) {}
  PictureBudget& operator=(const PictureBudget& other) {
    limit_ = other.limit_;
    return *this;
  }

  // True (and the bytes counted) when they fit beside what is held.
  bool Reserve(std::uint64_t bytes);
  void Release(std::uint64_t bytes);
  std::uint64_t Held() const { return held_; }
  std::uint64_t Peak() const { return peak_; }  // the most ever held at once
  void SetLimit(std::uint64_t limit) { limit_ = limit; }

 private:
  std::uint64_t limit_;
  std::uint64_t held_ = 0;
  std::uint64_t peak_ = 0;
};

// Bytes taken from a budget for as long as the lease lives (it moves with the picture it counts).
// The budget must outlive its leases.
class PictureLease {
 public:
  PictureLease() = default;
  PictureLease(const PictureLease&) = delete;
  PictureLease& operator=(const PictureLease&) = delete;
  PictureLease(PictureLease&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) {
    other.budget_ = nullptr;
    other.bytes_ = 0;
  }
  PictureLease& operator=(PictureLease&& other) noexcept;
  ~PictureLease() { Return(); }

  // Returns what the lease held, then takes `bytes` from `budget`; false (holding nothing) when
  // they do not fit. A null budget counts nothing and always succeeds.
  bool Take(PictureBudget* budget, std::uint64_t bytes);
  void Return();
  std::uint64_t Bytes() const { return bytes_; }

 private:
  PictureBudget* budget_ = nullptr;
  std::uint64_t bytes_ = 0;
};
