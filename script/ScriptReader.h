// The script reader: characters, comments and escapes of script text, the raw text of one tag,
// and its tokenised form. Text is read as bytes (CP932); nothing is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kAttrSlots = 10;
inline constexpr int kAttrNameBytes = 10;  // 9 usable characters and the terminating zero
inline constexpr int kAttrValueBytes = 128;
inline constexpr int kFileTagBytes = 256;  // a tag read from a file is cut at this length
inline constexpr int kMaxTagNameBytes = 20;
inline constexpr int kReadEnd = -1;  // ReadChar past the end of the source
// A script file is read whole; a show is a few hundred kilobytes, so a larger file is taken for
// something that is no script and is not read.
inline constexpr std::size_t kMaxScriptFileBytes = std::size_t{16} << 20;

// One attribute slot. A name of 10 bytes and a value of 128 bytes have no terminating zero.
struct AttrSlot {
  char Name[kAttrNameBytes];
  char Value[kAttrValueBytes];

  std::string_view NameView() const;
  std::string_view ValueView() const;
  std::string ValueText() const { return std::string(ValueView()); }
  // Exact comparison of the name with an upper-case word.
  bool Is(std::string_view word) const { return NameView() == word; }
  bool Empty() const { return Name[0] == 0 && Value[0] == 0; }
};

struct TagRecord {
  std::uint8_t TagId = 0;
  AttrSlot Attrs[kAttrSlots] = {};
};

// Why ParseTag failed (for diagnostics; the loader only sees the failure).
enum class ParseFailure { kNone, kNoOpening, kNameTooLong, kUnknownName, kNoClosing };

// Tokenises one tag. `text` is upper-cased in place where the rules say so.
bool ParseTag(std::string& text, TagRecord* record, ParseFailure* why = nullptr);
// The tag name as ParseTag reads it (upper-cased, cut at 21 bytes), for messages.
std::string TagNameOf(const std::string& text);

// A script source: a file read whole (a CR right before a LF is dropped, as text mode reading
// does, while offsets stay real file offsets), or zero-terminated text in memory.
class ScriptSource {
 public:
  // False when the file cannot be opened or read, or holds more than kMaxScriptFileBytes.
  bool OpenFile(const std::string& path);
  void OpenText(const char* text);

  // Next text character, or the start of a tag (`*tagStart` true, the cursor left on the "<").
  // kReadEnd at the end of the source.
  int ReadChar(bool* tagStart);
  // The raw text of the tag at the cursor, from "<" up to and including its closing ">".
  std::string ReadTagText();

  std::size_t Tell() const { return pos_; }
  bool Seek(std::size_t offset);
  std::size_t Size() const { return bytes_.size(); }
  bool FromFile() const { return file_; }
  // Offset of the "<" of the tag last read with ReadTagText.
  std::size_t TagOffset() const { return tagOffset_; }
  // 1-based line and byte column of an offset. The first call indexes the line starts, so a
  // tool that asks for every tag of a large file does not rescan it each time.
  void LineColumn(std::size_t offset, int* line, int* column) const;

 private:
  int GetByte();

  std::vector<std::uint8_t> bytes_;
  mutable std::vector<std::size_t> lineStarts_;  // offsets after each LF; empty until asked
  std::size_t pos_ = 0;
  std::size_t tagOffset_ = 0;
  bool file_ = false;
};
