// Conversion between CP932 (Shift-JIS as written by Windows) and Unicode, and the Shift-JIS
// byte classes the script reader needs.
#pragma once

#include <string>
#include <string_view>

// CP932 bytes to UTF-8. Bytes that do not form a CP932 character become U+FFFD.
std::string Cp932ToUtf8(std::string_view bytes);
// UTF-8 to CP932. Characters without a CP932 form, and invalid UTF-8 bytes, become '?'.
std::string Utf8ToCp932(std::string_view utf8);
// CP932 bytes to code points. Bytes that do not form a CP932 character become U+FFFD.
std::u32string Cp932ToUtf32(std::string_view bytes);

// First byte of a double-byte character: 0x81..0x9F, 0xE0..0xFC.
inline bool IsSjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
// Second byte of a double-byte character: 0x40..0x7E, 0x80..0xFC.
inline bool IsSjisTrail(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}
