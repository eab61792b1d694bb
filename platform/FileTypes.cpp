// The kind of file a name stands for, by its extension.
#include "platform/FileTypes.h"

#include <cstddef>

std::string FileExtension(const std::string& name) {
  constexpr std::size_t kMaxExtension = 8;
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot, kMaxExtension);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
  return ext;
}

int FileTypeOf(const std::string& name) {
  const std::string ext = FileExtension(name);
  if (ext == ".avi") return 1;
  if (ext == ".bmp") return 2;
  if (ext == ".jpg") return 3;
  if (ext == ".wav" || ext == ".mp3" || ext == ".mid") return 4;
  return 0;
}
