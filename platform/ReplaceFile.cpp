// Replacing a file through a FileReplacer, after following links and making missing folders.
#include "platform/ReplaceFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/FileReplacer.h"

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

int ReplaceFile(const std::string& path, const std::function<bool(int fd)>& fill) {
  std::string target = path;
  char real[PATH_MAX];
  if (::realpath(path.c_str(), real) != nullptr) target = real;
  size_t slash = target.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
  if (dir.empty()) dir = "/";
  if (!MakeFolders(dir)) return -1;

  FileReplacer file;
  const int fd = file.Begin(target, 0644);
  if (fd < 0) return -1;
  if (!fill(fd)) {
    file.Abandon();
    return -1;
  }
  return file.Commit();
}
