// The built-in scripts: the logo and interval-picture script and the no-script notice.
#include "script/CDemoCtl.h"

#include "platform/Cp932.h"
#include "script/CTimeLine.h"
#include "script/ScriptReader.h"
#include "settings/CMainCtl.h"

namespace {

constexpr int kStatusNoScript = 2;

// The longest prefix of CP932 `text` of at most `room` bytes that does not split a character.
std::string CutCp932(const std::string& text, std::size_t room) {
  std::size_t i = 0;
  while (i < text.size()) {
    const bool pair = IsSjisLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                      IsSjisTrail(static_cast<unsigned char>(text[i + 1]));
    const std::size_t len = pair ? 2 : 1;
    if (i + len > room) break;
    i += len;
  }
  return text.substr(0, i);
}

// A byte that cannot stand inside a quoted value: the quote and the tag brackets, and control
// characters (a line feed is dropped by the reader, a zero would end the script text).
bool IsUnquotable(char c) {
  return c == '"' || c == '<' || c == '>' || static_cast<unsigned char>(c) < 0x20;
}

// The folder as notice text: bytes that cannot be quoted become '?' (none of them is ever the
// second byte of a CP932 character), and the text is cut to what one attribute
// value holds, so that the attributes after it are still read.
std::string NoticeFolderText(const std::string& utf8) {
  std::string text = Utf8ToCp932(utf8);
  for (char& c : text) {
    if (IsUnquotable(c)) c = '?';
  }
  return CutCp932(text, kAttrValueBytes - 1);
}

// head + middle + tail, with `middle` cut so that the whole fits the script buffer.
std::string Fit(const std::string& head, const std::string& middle, const std::string& tail) {
  const std::size_t fixed = head.size() + tail.size();
  const std::size_t limit = kDemoScriptBytes - 1;  // the terminating zero takes the last byte
  const std::size_t room = fixed < limit ? limit - fixed : 0;
  return head + CutCp932(middle, room) + tail;
}

}  // namespace

std::string CDemoCtl::BuildScript(const std::string& item) {
  if (Settings && Settings->GetScriptStatus() == kStatusNoScript) {
    const std::string head = Utf8ToCp932(
        "<DATA><TIME SET=\"1\">"
        "<IMAGE YPOS=\"-20\" STRING=\"指定されたデータフォルダ\" TIME=\"100\" FADE=\"INOUT\">"
        "<IMAGE STRING=\"");
    const std::string tail = Utf8ToCp932(
        "\" TIME=\"100\" FADE=\"INOUT\">"
        "<IMAGE YPOS=\"20\" STRING=\"配下に、有効なスクリプトが見つかりません。\" TIME=\"100\" "
        "FADE=\"INOUT\">"
        "</DATA>");
    return Fit(head, NoticeFolderText(Settings->GetCurPath()), tail);
  }
  std::string picture;
  if (item != "0") {
    if (CanNamePicture(item)) picture = Utf8ToCp932(item);
  } else if (LogoTurn == 1) {
    picture = "*ZQLOGO";
    LogoTurn = 2;
  } else {
    picture = "*ZQSTR";
    LogoTurn = 1;
  }
  return Fit("<DATA><CLOCK SET=\"1\"><IMAGE FILE=\"", picture,
             "\" CONTRAST=\"0\" TIME=\"6.1\">"
             "<SET START=\"0\" TIME=\"2\" CONTRAST=\"255\">"
             "<SET START=\"4\" TIME=\"2\" CONTRAST=\"0\">"
             "</IMAGE></DATA>");
}

bool CDemoCtl::CanNamePicture(const std::string& name) {
  const std::string text = Utf8ToCp932(name);
  if (text.size() >= static_cast<std::size_t>(kAttrValueBytes)) return false;
  for (char c : text) {
    if (IsUnquotable(c)) return false;
  }
  return true;
}

void CDemoCtl::Start(const std::string& item) {
  const std::string text = BuildScript(item);
  if (Engine) Engine->LoadScriptText(text.c_str());
}
