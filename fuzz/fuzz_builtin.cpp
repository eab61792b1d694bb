// The built-in script builder on arbitrary picture names and data-folder paths: whatever the name
// holds, the compiled script is the fixed picture script (or the fixed notice) and nothing more.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/Cp932.h"
#include "script/CDemoCtl.h"
#include "script/CTimeLine.h"
#include "script/TagId.h"
#include "settings/CMainCtl.h"

namespace {

const CTimeImage& ImageAt(const CTimeLine& tl, int i) {
  FUZZ_CHECK(tl.Events[i] && tl.Events[i]->Kind == kTagImage);
  return static_cast<const CTimeImage&>(*tl.Events[i]);
}

// Only what the fixed text sets: a name can neither add attributes nor drop TIME.
void CheckPictureScript(const CTimeLine& tl, const std::string& item) {
  FUZZ_CHECK(tl.EventCount == 5);
  const CTimeImage& image = ImageAt(tl, 1);
  FUZZ_CHECK(image.Tick == 30 && image.Time == 6100 && image.Contrast == 0);
  FUZZ_CHECK(image.Angle == 0 && image.Size == 1.0 && image.Reverse == 0 && image.Trans == -1);
  FUZZ_CHECK(image.Quality == 3 && image.Operation == 1 && !image.String);
  FUZZ_CHECK(image.Point.x == 0 && image.Point.y == 0 && image.Point.z == kFocalDistance);
  const std::string name = image.FileName;
  FUZZ_CHECK(name.empty() || Utf8ToCp932(item).rfind(name, 0) == 0);
  FUZZ_CHECK(tl.Events[4]->Kind == kTagDataEnd && tl.Events[4]->Tick == 215);
}

void CheckNotice(const CTimeLine& tl, const std::string& folder) {
  FUZZ_CHECK(tl.EventCount == 5);
  const double heights[] = {-20, 0, 20};
  for (int i = 1; i <= 3; ++i) {
    const CTimeImage& image = ImageAt(tl, i);
    FUZZ_CHECK(image.Tick == 0 && image.Time == 100000 && image.String);
    FUZZ_CHECK(image.Point.y == heights[i - 1] && image.Point.x == 0 && image.FileName[0] == 0);
  }
  const std::string& shown = *ImageAt(tl, 2).String;
  const std::string cp932 = Utf8ToCp932(folder);
  FUZZ_CHECK(shown.size() <= cp932.size() &&
             shown.size() < static_cast<std::size_t>(kAttrValueBytes));
  for (std::size_t i = 0; i < shown.size(); ++i) {
    FUZZ_CHECK(shown[i] == cp932[i] || shown[i] == '?');
  }
  FUZZ_CHECK(tl.Events[4]->Kind == kTagDataEnd && tl.Events[4]->Tick == 3030);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CMainCtl* settings = [] {
    auto* s = new CMainCtl;
    s->SetStorePath(FuzzFolder() + "/absent.reg");
    s->Load();
    const std::string folder = FuzzFolder() + "/builtin";
    FUZZ_CHECK(mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST);
    WriteWholeFile(folder + "/x.bmp", reinterpret_cast<const std::uint8_t*>("x"), 1);
    return s;
  }();
  static CTimeLine* tl =
      new CTimeLine(settings, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (size == 0) return 0;
  const bool notice = data[0] & 1;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  settings->SetScriptStatus(notice ? 2 : 0);
  settings->SetCurPath(notice ? text : FuzzFolder() + "/builtin");
  CDemoCtl demo(settings, tl);
  const std::string item = text == "0" ? "1" : text;  // "0" is the logo
  FUZZ_CHECK(demo.BuildScript(item).size() < static_cast<std::size_t>(kDemoScriptBytes));
  tl->ResetTimeline();
  demo.Start(item);
  if (notice) {
    CheckNotice(*tl, text);
  } else {
    CheckPictureScript(*tl, item);
  }
  tl->ResetTimeline();
  return 0;
}
