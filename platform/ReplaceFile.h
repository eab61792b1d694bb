// Replacing a file in one step: the new contents go to a temporary file beside it, which is then
// renamed over the old one, so a crash or a full disk never leaves half a file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Writes all of `bytes` to `fd` (short writes and interruptions retried); false on an error.
bool WriteAll(int fd, std::string_view bytes);

// Replaces `path` with what `fill` writes to the file descriptor it is given. A symbolic link is
// followed (the file it names is replaced, the link stays), missing folders are made, and the new
// file keeps the old one's permissions (0644 for a new file). Returns 0, or -1 when `fill` returns
// false or the file cannot be made, flushed or put in place; `path` is then untouched.
int ReplaceFile(const std::string& path, const std::function<bool(int fd)>& fill);
