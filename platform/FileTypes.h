// The kind of file a name stands for, by its extension.
#pragma once

#include <string>

// The extension of `name`: from its last "." to the end, lower-cased, at most 8 characters.
std::string FileExtension(const std::string& name);
// 0 none, 1 movie (.avi), 2 bitmap (.bmp), 3 JPEG (.jpg), 4 sound (.wav, .mp3, .mid).
int FileTypeOf(const std::string& name);
