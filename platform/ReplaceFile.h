// Replacing a file in one step, following a symbolic link to the file it names.
#pragma once

#include <functional>
#include <string>

// Replaces `path` with what `fill` writes to the file descriptor it is given, through a
// FileReplacer. A symbolic link is followed (the file it names is replaced, the link stays) and
// missing folders are made. Returns 0, or -1 when `fill` returns false or the file cannot be
// made, flushed or put in place; `path` is then untouched.
int ReplaceFile(const std::string& path, const std::function<bool(int fd)>& fill);
