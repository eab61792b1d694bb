// Parsing and writing the REGEDIT4 text of the settings key.
#include "settings/RegStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AsciiCase.h"
#include "platform/FileReplacer.h"
#include "platform/ReplaceFile.h"

namespace {

constexpr size_t kMaxFileBytes = 1 << 20;  // a settings file is a few hundred bytes

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// `"text"` with \\ and \" escaped; false when `s` is anything else.
bool ParseQuoted(std::string_view s, std::string* out, size_t* used) {
  if (s.empty() || s[0] != '"') return false;
  out->clear();
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      *used = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) c = s[++i];
    out->push_back(c);
  }
  return false;
}

// "dword:" followed by 1 to 8 hex digits.
bool ParseDword(std::string_view s, std::uint32_t* out) {
  if (!StartsWithNoCase(s, "dword:")) return false;
  s.remove_prefix(6);
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  *out = v;
  return true;
}

// Comma-separated hex bytes ("41,42,00"); an empty list is allowed.
bool ParseHexBytes(std::string_view s, std::string* out) {
  out->clear();
  s = TrimSpaces(s);
  if (s.empty()) return true;
  size_t i = 0;
  while (true) {
    std::string_view rest = TrimSpaces(s.substr(i));
    if (rest.size() < 2) return false;
    int hi = HexDigit(rest[0]), lo = HexDigit(rest[1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    rest = TrimSpaces(rest.substr(2));
    if (rest.empty()) return true;
    if (rest[0] != ',') return false;
    i = s.size() - rest.size() + 1;
  }
}

// The value of one `"name"=...` right-hand side.
void ParseData(std::string_view data, RegValue* v) {
  v->type = RegType::kOther;
  v->text = std::string(data);
  std::string text;
  size_t used = 0;
  std::uint32_t n = 0;
  if (ParseQuoted(data, &text, &used) && TrimSpaces(data.substr(used)).empty()) {
    v->type = RegType::kString;
    v->text = std::move(text);
  } else if (ParseDword(data, &n)) {
    v->type = RegType::kDword;
    v->dword = n;
  } else if (StartsWithNoCase(data, "hex(2):") && ParseHexBytes(data.substr(7), &text)) {
    // Expandable string: the bytes of the text and its terminating zero.
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    v->type = RegType::kExpandString;
    v->text = std::move(text);
  } else if (StartsWithNoCase(data, "hex(4):") && ParseHexBytes(data.substr(7), &text) &&
             text.size() == 4) {
    // A dword written as its four little-endian bytes.
    v->type = RegType::kDword;
    for (int i = 3; i >= 0; --i) v->dword = (v->dword << 8) | static_cast<unsigned char>(text[i]);
  }
}

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string FormatLine(const RegValue& v) {
  std::string line = "\"" + Escape(v.name) + "\"=";
  char buf[32];
  switch (v.type) {
    case RegType::kDword:
      std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
      line += buf;
      break;
    case RegType::kString:
      line += "\"" + Escape(v.text) + "\"";
      break;
    case RegType::kExpandString:
      line += "hex(2):";
      for (unsigned char c : v.text) {
        std::snprintf(buf, sizeof buf, "%02x,", c);
        line += buf;
      }
      line += "00";
      break;
    case RegType::kOther:
      line += v.text;
      break;
  }
  return line + "\n";
}

}  // namespace

int RegStore::Load(const std::string& path) {
  values_.clear();
  // Opened without waiting, and only a regular file is read: a named pipe in the store's place
  // would otherwise block every start until some writer came along.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  std::string text;
  char buf[8192];
  bool ok = true;
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxFileBytes) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) return -1;
  return Parse(text);
}

int RegStore::Parse(std::string_view text) {
  values_.clear();
  // Binary files and files cut short (every line we write ends with a line break) are no store.
  if (text.empty() || text.back() != '\n' || text.find('\0') != std::string_view::npos) return -1;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view raw = text.substr(pos, end - pos);
    std::string line(TrimSpaces(raw));
    pos = end + 1;
    // Hex data may go on over several lines: a line of hex bytes that ends with ",\" continues on
    // the next line when that one is indented.
    bool indented = !raw.empty() && (raw[0] == ' ' || raw[0] == '\t');
    std::string* last = lines.empty() ? nullptr : &lines.back();
    if (indented && last != nullptr && last->size() >= 2 && last->ends_with(",\\") &&
        last->find("=hex") != std::string::npos) {
      last->pop_back();
      *last += line;
    } else {
      lines.push_back(std::move(line));
    }
  }
  if (lines.empty() || lines[0] != "REGEDIT4") return -1;

  bool inKey = false, keyFound = false;
  std::vector<RegValue> values;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return -1;
      inKey = EqualsNoCase(line.substr(1, line.size() - 2), kKeyName);
      keyFound = keyFound || inKey;
      continue;
    }
    if (line[0] == '@') continue;  // the key's unnamed value: not ours
    RegValue v;
    size_t used = 0;
    if (!ParseQuoted(line, &v.name, &used)) return -1;
    std::string_view rest = TrimSpaces(line.substr(used));
    if (rest.empty() || rest[0] != '=') return -1;
    if (!inKey) continue;
    ParseData(TrimSpaces(rest.substr(1)), &v);
    // A later line for the same name replaces the earlier one, as importing the file would.
    auto same = [&](const RegValue& o) { return EqualsNoCase(o.name, v.name); };
    std::erase_if(values, same);
    values.push_back(std::move(v));
  }
  if (!keyFound) return -1;
  values_ = std::move(values);
  return 0;
}

std::string RegStore::Format() const {
  std::string out = std::string("REGEDIT4\n\n[") + kKeyName + "]\n";
  for (const RegValue& v : values_) out += FormatLine(v);
  return out + "\n";
}

const RegValue* RegStore::Find(std::string_view name) const {
  for (const RegValue& v : values_)
    if (EqualsNoCase(v.name, name)) return &v;
  return nullptr;
}

RegValue* RegStore::FindMutable(std::string_view name) {
  return const_cast<RegValue*>(Find(name));
}

int RegStore::GetDword(std::string_view name, std::uint32_t* out) const {
  const RegValue* v = Find(name);
  if (v == nullptr || v->type != RegType::kDword) return -1;
  *out = v->dword;
  return 0;
}

int RegStore::GetString(std::string_view name, std::string* out) const {
  const RegValue* v = Find(name);
  if (v == nullptr) {
    out->clear();
    return 0;
  }
  if (v->type != RegType::kString && v->type != RegType::kExpandString) return -1;
  *out = v->text;
  return 0;
}

void RegStore::SetDword(std::string_view name, std::uint32_t n) {
  RegValue* v = FindMutable(name);
  if (v == nullptr) {
    values_.push_back({std::string(name), RegType::kDword, n, {}});
    return;
  }
  v->type = RegType::kDword;
  v->dword = n;
  v->text.clear();
}

void RegStore::SetString(std::string_view name, std::string_view text) {
  RegValue* v = FindMutable(name);
  if (v == nullptr) {
    values_.push_back({std::string(name), RegType::kString, 0, std::string(text)});
    return;
  }
  v->type = RegType::kString;
  v->dword = 0;
  v->text = std::string(text);
}

void RegStore::Delete(std::string_view name) {
  std::erase_if(values_, [&](const RegValue& v) { return EqualsNoCase(v.name, name); });
}

bool RegStore::CanHoldText(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

int RegStore::Save(const std::string& path, std::string* failedName) const {
  // A failure of the file as a whole (it cannot be made, flushed or put in place) names no value.
  std::string failed;
  const Writer& write = writer_ ? writer_ : Writer(FileReplacer::WriteAll);
  const int rc = ReplaceFile(path, [&](int fd) {
    if (!write(fd, std::string("REGEDIT4\n\n[") + kKeyName + "]\n")) return false;
    for (const RegValue& v : values_) {
      if ((v.type == RegType::kString && !CanHoldText(v.text)) || !write(fd, FormatLine(v))) {
        failed = v.name;
        return false;
      }
    }
    return write(fd, "\n");
  });
  if (rc != 0 && failedName != nullptr) *failedName = failed;
  return rc;
}
