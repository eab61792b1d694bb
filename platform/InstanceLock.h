// Single-instance locks: an advisory lock (flock) on a file named after the lock. The kernel
// drops it when the process ends, however it ends.
#pragma once

#include <string>

inline constexpr const char* kSaverLockName = "VelPralvex";        // saver and settings dialog
inline constexpr const char* kPreviewLockName = "VelPralvexPrev";  // the preview

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Where lock files live: $XDG_RUNTIME_DIR, else a folder of this user's own under /tmp.
  static std::string DefaultFolder();

  // Takes the lock `name` in `folder`. 0: this object holds it; 1: another holder has it;
  // -1: no lock file could be made (the caller decides whether to run unguarded). A folder that
  // is not this user's own, or that others may write into, is refused (see Problem).
  int Acquire(const std::string& name, const std::string& folder = DefaultFolder());
  // Why the last Acquire refused the folder, or "" when it did not.
  const std::string& Problem() const { return problem_; }
  bool Held() const { return fd_ >= 0; }
  // Gives the lock up (the destructor does the same). Tests only: a program keeps it to the end.
  void Release();

 private:
  int fd_ = -1;
  std::string problem_;
};
