// Writing a file whole or not at all: the bytes go into a new file beside the target, which then
// takes the target's place, so a crash or a full disk never leaves a half-written file behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

class FileReplacer {
 public:
  FileReplacer() = default;
  ~FileReplacer();  // an unfinished file is dropped
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // Starts the file that will replace `target` (whose folder must exist): target + ".XXXXXX",
  // locked while it is written. Files of that form that an earlier writer left behind when it
  // crashed are removed first. The new file gets the permissions of the file it replaces, or
  // `mode` when there is none. Returns the descriptor to write to, or -1.
  int Begin(const std::string& target, mode_t mode);
  // Flushes the new file to disk and renames it over the target: 0, or -1 (the target is then as
  // it was and the new file gone). The new file is the target itself afterwards, not a link's
  // destination: callers that mean to write through a link pass the resolved path.
  int Commit();
  // Drops the new file; the target stays as it was.
  void Abandon();

  // Writes all of `bytes` to `fd` (again after an interruption); false when the write fails.
  static bool WriteAll(int fd, std::string_view bytes);
  // Removes the temporary files of `target` that no writer holds; returns how many.
  static int RemoveStale(const std::string& target);

 private:
  int fd_ = -1;
  std::string tmp_;
  std::string target_;
};
