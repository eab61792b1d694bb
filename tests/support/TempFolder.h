// The one temporary-folder helper of the test programs.
#pragma once

#include <string>

// A fresh folder made below `base` (/tmp by default, and when nothing can be made below `base`),
// removed with all it holds when the object goes, also where a test took the write permission
// away from a folder inside it.
class TempFolder {
 public:
  explicit TempFolder(const std::string& base = "/tmp");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Empty when no folder could be made (a test then fails on its first file).
  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to the relative path `name`, making the folders on the way; the full path,
  // or "" when it could not be written.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};
