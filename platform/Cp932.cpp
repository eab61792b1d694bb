// CP932 <-> Unicode through glibc iconv; invalid input is replaced, never fatal.
#include "platform/Cp932.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One iconv conversion descriptor, closed on scope exit.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `in`; whenever iconv stops at an invalid or incomplete sequence, `skip(in)` says how
  // many input bytes to drop and `replacement` is written instead.
  template <typename Skip>
  std::string Run(std::string_view in, std::string_view replacement, Skip skip) {
    std::string out;
    out.reserve(in.size() * 2 + 8);
    char buf[1024];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
      char* dst = buf;
      size_t dstLeft = sizeof buf;
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf, dst - buf);
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: drop the offending bytes and start afresh.
      size_t n = skip(std::string_view(src, srcLeft));
      if (n == 0 || n > srcLeft) n = 1;
      src += n;
      srcLeft -= n;
      out.append(replacement);
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, dst - buf);
    return out;
  }

 private:
  iconv_t cd_;
};

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Length of the UTF-8 sequence that starts `s` (1 for a byte that starts none).
size_t Utf8Length(std::string_view s) {
  unsigned char c = s[0];
  size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
  if (n > s.size()) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  return n;
}

constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string Cp932ToUtf8(std::string_view bytes) {
  if (IsAscii(bytes)) return std::string(bytes);
  Converter cv("UTF-8", "CP932");
  if (!cv.ok()) return std::string(bytes);
  // An invalid lead byte is dropped alone, so the byte after it is read again on its own.
  return cv.Run(bytes, kUtf8Replacement, [](std::string_view) { return size_t{1}; });
}

std::string Utf8ToCp932(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  Converter cv("CP932", "UTF-8");
  if (!cv.ok()) return std::string(utf8.size(), '?');
  return cv.Run(utf8, "?", Utf8Length);
}

std::u32string Cp932ToUtf32(std::string_view bytes) {
  std::string utf8 = Cp932ToUtf8(bytes);
  std::u32string out;
  out.reserve(utf8.size());
  std::string_view s = utf8;
  while (!s.empty()) {
    size_t n = Utf8Length(s);
    unsigned char c = s[0];
    char32_t cp;
    if (n == 1) {
      cp = c < 0x80 ? c : 0xFFFD;
    } else {
      cp = c & (0x7F >> n);
      for (size_t i = 1; i < n; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    out.push_back(cp);
    s.remove_prefix(n);
  }
  return out;
}
