// Whole-file replacement through a locked temporary file and a rename.
#include "platform/FileReplacer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

constexpr int kTempLetters = 6;  // the XXXXXX of mkstemp
constexpr int kBeginTries = 4;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// `name` is `base` + "." + six letters or digits, as mkstemp makes them.
bool IsTempName(const std::string& name, const std::string& base) {
  if (name.size() != base.size() + 1 + kTempLetters) return false;
  if (name.compare(0, base.size(), base) != 0 || name[base.size()] != '.') return false;
  for (std::size_t i = base.size() + 1; i < name.size(); ++i) {
    if (!IsAlnum(name[i])) return false;
  }
  return true;
}

// Removes `name` from the folder when it is a file of ours that no writer holds locked. The
// name is checked to still be the file that was locked, so a file put there meanwhile stays.
bool RemoveIfStale(int dirFd, const char* name) {
  const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat held, now;
  bool removed = false;
  if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == ::geteuid() &&
      ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == held.st_ino &&
      now.st_dev == held.st_dev) {
    removed = ::unlinkat(dirFd, name, 0) == 0;
  }
  ::close(fd);
  return removed;
}

}  // namespace

FileReplacer::~FileReplacer() {
  Abandon();
}

bool FileReplacer::WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int FileReplacer::RemoveStale(const std::string& target) {
  const std::string base = NameOf(target);
  DIR* d = ::opendir(FolderOf(target).c_str());
  if (!d) return 0;
  int removed = 0;
  while (dirent* e = ::readdir(d)) {
    if (IsTempName(e->d_name, base) && RemoveIfStale(::dirfd(d), e->d_name)) removed += 1;
  }
  ::closedir(d);
  return removed;
}

int FileReplacer::Begin(const std::string& target, mode_t mode) {
  Abandon();
  RemoveStale(target);
  for (int i = 0; i < kBeginTries && fd_ < 0; ++i) {
    std::string tmp = target + "." + std::string(kTempLetters, 'X');
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    // Another writer's clean-up may have taken the fresh file for a stale one: it removes it, and
    // this writer tries another name.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    fd_ = fd;
    tmp_ = tmp;
  }
  if (fd_ < 0) return -1;
  target_ = target;
  struct stat old;
  ::fchmod(fd_, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : mode);
  return fd_;
}

int FileReplacer::Commit() {
  if (fd_ < 0) return -1;
  // Renamed while still locked, so no clean-up can take it for a leftover in between.
  if (::fsync(fd_) != 0 || ::rename(tmp_.c_str(), target_.c_str()) != 0) {
    Abandon();
    return -1;
  }
  const int closed = ::close(fd_);
  fd_ = -1;
  tmp_.clear();
  if (const int dfd = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return closed == 0 ? 0 : -1;
}

void FileReplacer::Abandon() {
  if (fd_ < 0) return;
  ::unlink(tmp_.c_str());
  ::close(fd_);
  fd_ = -1;
  tmp_.clear();
}
