// Replacing a file through a temporary file and a rename.
#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// Creates every missing folder of `dir`; true when it exists afterwards.
bool MakeFolders(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int ReplaceFile(const std::string& path, const std::function<bool(int fd)>& fill) {
  // Write through a symbolic link to the file it names, not over the link.
  std::string target = path;
  char real[PATH_MAX];
  if (::realpath(path.c_str(), real) != nullptr) target = real;
  size_t slash = target.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
  if (dir.empty()) dir = "/";
  if (!MakeFolders(dir)) return -1;

  std::string tmp = target + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return -1;
  // The new file keeps the permissions of the one it replaces.
  struct stat old;
  ::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
  if (!fill(fd) || ::fsync(fd) != 0) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return -1;
  }
  if (::close(fd) != 0 || ::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return -1;
  }
  if (int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}
