// The one way text goes into a fixed-size record field: cut to fit, zero-filled, always ended.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

enum class FieldCut {
  kBytes,  // cut at any byte
  kUtf8,   // cut before a UTF-8 continuation byte, so no character is split
};

// Copies at most `maxBytes` bytes of `text` into `field` (of `size` bytes, at least 1), keeping
// room for the terminating zero and filling the rest with zeros.
inline void CopyField(char* field, std::size_t size, std::string_view text, std::size_t maxBytes,
                      FieldCut cut = FieldCut::kBytes) {
  std::size_t n = std::min({text.size(), maxBytes, size - 1});
  if (cut == FieldCut::kUtf8) {
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), n);
}

// The same for a field that is an array: its size comes from its type.
template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text, std::size_t maxBytes = N - 1,
               FieldCut cut = FieldCut::kBytes) {
  static_assert(N > 0);
  CopyField(field, N, text, maxBytes, cut);
}
