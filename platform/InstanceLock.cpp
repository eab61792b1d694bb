// flock-based instance locks.
#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

InstanceLock::~InstanceLock() {
  Release();
}

std::string InstanceLock::DefaultFolder() {
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run != nullptr && run[0] == '/') return run;
  // /tmp is shared by every user: a folder per user keeps one user's lock from blocking another's.
  return "/tmp/ondrelix-" + std::to_string(::getuid());
}

int InstanceLock::Acquire(const std::string& name, const std::string& folder) {
  Release();
  problem_.clear();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    problem_ = "the lock folder " + folder + " is not a folder";
    return -1;
  }
  // In a shared place such as /tmp another user could have made the folder first and so hold
  // this user's lock (or plant files in it): only a folder of this user's own that nobody else
  // may write into is used.
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem_ = "the lock folder " + folder + " belongs to someone else or is writable by others";
    return -1;
  }
  std::string path = folder + "/" + name;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? 1 : -1;
  }
  fd_ = fd;
  return 0;
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}
