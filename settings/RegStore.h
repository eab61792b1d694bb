// The typed value store that holds the settings key: a text file in the registry export format
// (REGEDIT4), read whole and replaced atomically on save.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum class RegType {
  kDword,         // dword:0000006e
  kString,        // "text"
  kExpandString,  // hex(2):41,42,00
  kOther,         // any other form; reads as a value of a foreign type
};

struct RegValue {
  std::string name;
  RegType type = RegType::kOther;
  std::uint32_t dword = 0;
  std::string text;  // kString / kExpandString: the text; kOther: the right-hand side as written
};

class RegStore {
 public:
  // Writes one chunk of the file; false when it could not be written. Tests inject failures.
  using Writer = std::function<bool(int fd, std::string_view bytes)>;

  // The key every value belongs to.
  static constexpr const char* kKeyName = "HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex";

  // Reads `path`. Returns 0 when the key was found; -1 when the file is missing, unreadable,
  // malformed or lacks the key, and the store is then empty.
  int Load(const std::string& path);
  // Parses file text (what Load does after reading). 0, or -1 as for Load.
  int Parse(std::string_view text);
  // The file text of the current values.
  std::string Format() const;

  bool Has(std::string_view name) const { return Find(name) != nullptr; }
  const RegValue* Find(std::string_view name) const;
  // 0 and the value; -1 when it is missing or not a dword.
  int GetDword(std::string_view name, std::uint32_t* out) const;
  // 0 and the text; an absent value reads as "" (no failure). -1 when it is not a string.
  int GetString(std::string_view name, std::string* out) const;

  void SetDword(std::string_view name, std::uint32_t v);
  void SetString(std::string_view name, std::string_view text);
  void Delete(std::string_view name);
  const std::vector<RegValue>& Values() const { return values_; }

  // Writes the values to a temporary file beside `path` and renames it over `path`. Returns 0, or
  // -1 with `failedName` set to the value that could not be written, or to "" when the file as a
  // whole could not be made or put in place; `path` is then untouched.
  int Save(const std::string& path, std::string* failedName) const;
  void SetWriter(Writer w) { writer_ = std::move(w); }

  // A text that a "..." string can hold: no line breaks, no NUL.
  static bool CanHoldText(std::string_view text);

 private:
  RegValue* FindMutable(std::string_view name);

  std::vector<RegValue> values_;  // in file order; names compare without regard to case
  Writer writer_;
};
