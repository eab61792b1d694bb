// The script reader: ReadChar, ReadTagText and ParseTag over a file or text in memory.
#include "script/ScriptReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "script/TagId.h"

std::string_view AttrSlot::NameView() const {
  return std::string_view(Name, strnlen(Name, kAttrNameBytes));
}

std::string_view AttrSlot::ValueView() const {
  return std::string_view(Value, strnlen(Value, kAttrValueBytes));
}

namespace {

unsigned char Upper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

// Fills the attribute slots from `p` (just after the space that ended the tag name).
void ReadAttributes(char* p, TagRecord* record) {
  for (int s = 0; s < kAttrSlots; ++s) {
    AttrSlot& slot = record->Attrs[s];
    bool inValue = false;
    bool quoted = false;
    bool nameDone = false;
    int nameLen = 0;
    int valueLen = 0;
    bool last = false;  // the slot ended at the zero byte
    for (;;) {
      if (!quoted) *p = static_cast<char>(Upper(static_cast<unsigned char>(*p)));
      const char c = *p;
      if (c == 0) {
        last = true;
        break;
      }
      if (c == '>' && !quoted) {
        ++p;
        break;
      }
      if (c == '=' && !quoted) {
        inValue = true;
        valueLen = 0;
        std::memset(slot.Value, 0, sizeof slot.Value);
        ++p;
        continue;
      }
      if (inValue && c == '"') {
        ++p;
        if (!quoted) {
          quoted = true;
          continue;
        }
        break;
      }
      if (c == ' ' && !quoted) {
        if (!inValue) {
          if (nameLen > 0) nameDone = true;
          ++p;
          continue;
        }
        ++p;
        if (valueLen == 0) continue;
        break;
      }
      if (!inValue) {
        if (nameDone) break;  // a second word without "=": it starts the next slot
        slot.Name[nameLen++] = c;
        ++p;
        if (nameLen == kAttrNameBytes) break;
        continue;
      }
      slot.Value[valueLen++] = c;
      ++p;
      if (valueLen == kAttrValueBytes) break;
    }
    if (last) return;
  }
}

}  // namespace

std::string TagNameOf(const std::string& text) {
  std::string name;
  for (std::size_t i = 1; i < text.size() && name.size() <= kMaxTagNameBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0 || c == '\n' || c == '>' || c == ' ') break;
    name.push_back(static_cast<char>(Upper(c)));
  }
  return name;
}

bool ParseTag(std::string& text, TagRecord* record, ParseFailure* why) {
  ParseFailure dummy;
  if (!why) why = &dummy;
  *why = ParseFailure::kNone;
  *record = TagRecord();
  char* p = text.data();  // zero-terminated by std::string
  if (*p != '<') {
    *why = ParseFailure::kNoOpening;
    return false;
  }
  ++p;
  char name[kMaxTagNameBytes + 1] = {};
  int len = 0;
  while (*p != 0 && *p != '\n' && *p != '>' && *p != ' ') {
    if (len == kMaxTagNameBytes) {
      *why = ParseFailure::kNameTooLong;
      return false;
    }
    name[len++] = static_cast<char>(Upper(static_cast<unsigned char>(*p)));
    ++p;
  }
  int id = 0;
  for (int i = 1; i < kTagCount; ++i) {
    if (std::strcmp(name, kTagNames[i]) == 0) {
      id = i;
      break;
    }
  }
  if (id == 0) {
    *why = ParseFailure::kUnknownName;
    return false;
  }
  record->TagId = static_cast<std::uint8_t>(id);
  if (*p != ' ') return true;
  ++p;
  if (std::strchr(p, '>') == nullptr) {
    *why = ParseFailure::kNoClosing;
    *record = TagRecord();
    return false;
  }
  ReadAttributes(p, record);
  return true;
}

bool ScriptSource::OpenFile(const std::string& path) {
  bytes_.clear();
  lineStarts_.clear();
  pos_ = 0;
  tagOffset_ = 0;
  file_ = true;
  // Opened without waiting, and only a regular file is read: a named pipe called script_*.txt
  // would otherwise block the scan (and the saver) until some writer came along.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > kMaxScriptFileBytes) {
    ::close(fd);
    return false;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    return false;
  }
  bytes_.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  std::size_t n;
  bool tooLong = false;
  // The size is checked again while reading: a file may grow, and some report no size at all.
  while (!tooLong && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    tooLong = bytes_.size() + n > kMaxScriptFileBytes;
    if (!tooLong) bytes_.insert(bytes_.end(), buf, buf + n);
  }
  const bool failed = tooLong || std::ferror(f) != 0;
  std::fclose(f);
  if (failed) bytes_.clear();
  return !failed;
}

void ScriptSource::OpenText(const char* text) {
  bytes_.assign(text, text + std::strlen(text));
  lineStarts_.clear();
  pos_ = 0;
  tagOffset_ = 0;
  file_ = false;
}

bool ScriptSource::Seek(std::size_t offset) {
  if (offset > bytes_.size()) return false;
  pos_ = offset;
  return true;
}

int ScriptSource::GetByte() {
  if (pos_ >= bytes_.size()) return kReadEnd;
  if (file_ && bytes_[pos_] == '\r' && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n') ++pos_;
  return bytes_[pos_++];
}

int ScriptSource::ReadChar(bool* tagStart) {
  *tagStart = false;
  for (;;) {
    const std::size_t at = pos_;
    int c = GetByte();
    if (c == '\n') continue;
    if (c == '<') {
      const int next = GetByte();
      if (next == '<' || next == '#') return next;
      pos_ = at;
      *tagStart = true;
      return '<';
    }
    if (c == '#') {
      do {
        c = GetByte();
      } while (c != '\n' && c != kReadEnd);
      if (c == kReadEnd) return kReadEnd;
      continue;
    }
    return c;
  }
}

std::string ScriptSource::ReadTagText() {
  tagOffset_ = pos_;
  std::string text;
  bool quoted = false;
  for (;;) {
    if (file_ && text.size() >= static_cast<std::size_t>(kFileTagBytes)) break;
    const int c = GetByte();
    if (c == kReadEnd) break;
    if (c == '\n') continue;
    text.push_back(static_cast<char>(c));
    if (c == '"') quoted = !quoted;
    if (c == '>' && !quoted) break;
  }
  return text;
}

void ScriptSource::LineColumn(std::size_t offset, int* line, int* column) const {
  if (lineStarts_.empty()) {
    lineStarts_.push_back(0);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
      if (bytes_[i] == '\n') lineStarts_.push_back(i + 1);
    }
  }
  const std::size_t end = offset < bytes_.size() ? offset : bytes_.size();
  // The last line start at or before `end`; a LF at `end` itself still belongs to that line.
  const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), end);
  const std::size_t start = *(after - 1);
  *line = static_cast<int>(after - lineStarts_.begin());
  *column = static_cast<int>(end - start) + 1;
}
