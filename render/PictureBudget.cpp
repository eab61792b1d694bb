// The decoded-picture budget of a window and its leases.
#include "render/PictureBudget.h"

#include <unistd.h>

#include <algorithm>

namespace {

std::uint64_t DefaultLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return kMaxPictureBudgetBytes;
  const std::uint64_t quarter =
      static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 4;
  return std::min(quarter, kMaxPictureBudgetBytes);
}

}  // namespace

PictureBudget::PictureBudget() : limit_(DefaultLimit()) {}

bool PictureBudget::Reserve(std::uint64_t bytes) {
  if (bytes > limit_ || held_ > limit_ - bytes) return false;
  held_ += bytes;
  peak_ = std::max(peak_, held_);
  return true;
}

void PictureBudget::Release(std::uint64_t bytes) {
  held_ -= std::min(bytes, held_);
}

PictureLease& PictureLease::operator=(PictureLease&& other) noexcept {
  if (this != &other) {
    Return();
    budget_ = other.budget_;
    bytes_ = other.bytes_;
    other.budget_ = nullptr;
    other.bytes_ = 0;
  }
  return *this;
}

bool PictureLease::Take(PictureBudget* budget, std::uint64_t bytes) {
  Return();
  if (budget == nullptr) return true;
  if (!budget->Reserve(bytes)) return false;
  budget_ = budget;
  bytes_ = bytes;
  return true;
}

void PictureLease::Return() {
  if (budget_ != nullptr) budget_->Release(bytes_);
  budget_ = nullptr;
  bytes_ = 0;
}
