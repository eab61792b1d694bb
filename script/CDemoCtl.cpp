// The built-in scripts: the logo and interval-picture script and the no-script notice.
#include "script/CDemoCtl.h"

#include "platform/Cp932.h"
#include "script/CTimeLine.h"
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
    return Fit(head, Utf8ToCp932(Settings->GetCurPath()), tail);
  }
  std::string picture;
  if (item != "0") {
    picture = Utf8ToCp932(item);
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

void CDemoCtl::Start(const std::string& item) {
  const std::string text = BuildScript(item);
  if (Engine) Engine->LoadScriptText(text.c_str());
}
