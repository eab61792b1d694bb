// The bundled demo folder and the built-in pictures: every demo script checks clean, every show
// renders something, the folder holds what a new user is promised, and every built-in picture
// has the size, depth and reserved areas the code that draws it relies on.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/RenderTool.h"
#include "app/ScriptTools.h"
#include "render/Picture.h"
#include "script/ScriptReader.h"
#include "script/ScriptValues.h"
#include "script/TagId.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

const fs::path kExamples = fs::path(ONDRELIX_SOURCE_DIR) / "examples";

std::vector<fs::path> DemoScripts() {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(kExamples)) {
    const std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.rfind("script_", 0) == 0 && e.path().extension() == ".txt")
      out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs --check on one file; returns its whole report.
std::string Check(const fs::path& file, int* code) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  *code = RunCheckTool({file.string()}, out, err, "/dev/null/no-store.reg");
  std::string text;
  for (std::FILE* f : {out, err}) {
    std::rewind(f);
    char buf[512];
    while (std::fgets(buf, sizeof buf, f)) text += buf;
    std::fclose(f);
  }
  return text;
}

TEST(DemoScripts, EveryScriptChecksWithoutErrorOrWarning) {
  const auto scripts = DemoScripts();
  ASSERT_GE(scripts.size(), 5u);
  int shows = 0;
  for (const auto& s : scripts) {
    int code = -1;
    const std::string report = Check(s, &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(report.rfind("0 error(s), 0 warning(s) ", 0), 0u) << s << " has findings:\n"
                                                                << report;
    const std::string text = ReadAll(s);
    for (size_t at = text.find("<DATA "); at != std::string::npos; at = text.find("<DATA ", at + 1))
      ++shows;
  }
  EXPECT_GE(shows, 6);
}

// Tag names written in the demo scripts, upper-cased (no comment or text in them holds a '<').
std::set<std::string> TagsUsed() {
  std::set<std::string> tags;
  for (const auto& s : DemoScripts()) {
    const std::string text = ReadAll(s);
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != '<' || text[i + 1] == '<' || text[i + 1] == '#') continue;
      std::string name;
      for (size_t j = i + 1; j < text.size() && name.size() < 21; ++j) {
        const char c = text[j];
        if (c == ' ' || c == '>' || c == '\r' || c == '\n') break;
        name += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      }
      tags.insert(name);
    }
  }
  return tags;
}

TEST(DemoScripts, TogetherUseEveryTagAndTheSpecialForms) {
  const auto tags = TagsUsed();
  for (const char* t :
       {"DATA",    "/DATA",    "BGMAKE",   "/BGMAKE",  "OBJECT", "BGSCROLL", "BGSET",  "BGMOVE",
        "BGM",     "SCREEN",   "IMAGE",    "/IMAGE",   "CLOCK",  "SOLID",    "CLEAR",  "TITLE",
        "/TITLE",  "SCRTEXT",  "/SCRTEXT", "READFONT", "NODISP", "/NODISP",  "FORMAT", "/FORMAT",
        "CAPTION", "/CAPTION", "SET",      "MOVE",     "BR",     "P",        "SPC",    "END"}) {
    EXPECT_TRUE(tags.count(t)) << "no demo script uses <" << t << ">";
  }
  bool crlf = false, twoShowsInOneFile = false, twoDeep = false, dash = false;
  for (const auto& s : DemoScripts()) {
    const std::string text = ReadAll(s);
    crlf = crlf || text.find("\r\n") != std::string::npos;
    twoShowsInOneFile =
        twoShowsInOneFile || text.find("<DATA ", text.find("<DATA ") + 1) != std::string::npos;
    const fs::path rel = fs::relative(s, kExamples);
    twoDeep = twoDeep || std::distance(rel.begin(), rel.end()) >= 3;
    dash = dash || text.find("\x81\x7C\x81\x7C") != std::string::npos;  // "－－" in CP932
  }
  EXPECT_TRUE(crlf);
  EXPECT_TRUE(twoShowsInOneFile);
  EXPECT_TRUE(twoDeep);
  EXPECT_TRUE(dash);
}

TEST(DemoFolder, HoldsMusicOfEveryKindAnIntervalFolderAndStaysSmall) {
  std::set<std::string> kinds, interval;
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(kExamples)) {
    if (!e.is_regular_file()) continue;
    bytes += e.file_size();
    kinds.insert(e.path().extension().string());
    if (e.path().parent_path().filename() == "Interval")
      interval.insert(e.path().extension().string());
  }
  for (const char* k : {".wav", ".mp3", ".mid", ".bmp", ".jpg"}) EXPECT_TRUE(kinds.count(k)) << k;
  for (const char* k : {".bmp", ".jpg", ".avi"}) EXPECT_TRUE(interval.count(k)) << k;
  EXPECT_LT(bytes, 8u * 1024 * 1024);
}

// The number of pixels of a written picture that are not black, or -1.
long LitPixels(const std::string& file) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, file.c_str())) return -1;
  img.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> buf(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr)) return -1;
  long lit = 0;
  for (size_t i = 0; i + 2 < buf.size(); i += 3) lit += (buf[i] | buf[i + 1] | buf[i + 2]) ? 1 : 0;
  return lit;
}

TEST(DemoShows, EveryShowDrawsAPictureTenSecondsIn) {
  TempFolder temp;
  const std::string dir = temp.path();
  int index = 0;
  for (const auto& s : DemoScripts()) {
    const std::string text = ReadAll(s);
    int shows = 0;
    for (size_t at = text.find("<DATA "); at != std::string::npos; at = text.find("<DATA ", at + 1))
      ++shows;
    for (int n = 1; n <= shows; ++n) {
      RenderRequest r;
      const std::string out = dir + "/" + std::to_string(index++);
      ASSERT_EQ(ParseRenderArgs({s.string(), "--script", std::to_string(n), "--out", out, "--ticks",
                                 "300-330:30"},
                                &r),
                "");
      ASSERT_EQ(RunRender(r), 0) << s << " show " << n;
      for (const char* tick : {"/tick_00300.png", "/tick_00330.png"}) {
        // A stage of 640 x 272 that is mostly lit, or at least a good part of it.
        EXPECT_GT(LitPixels(out + tick), 2000) << s << " show " << n << tick;
      }
    }
  }
}

// The value of attribute `name` of a tokenised tag, or null.
const char* Attr(const TagRecord& r, const char* name) {
  for (const AttrSlot& a : r.Attrs)
    if (std::strncmp(a.Name, name, sizeof a.Name) == 0) return a.Value;
  return nullptr;
}

// `rel` (a script's file name, '\\' as separator, upper-cased by the tokeniser) below `dir`,
// each part matched without regard to case as the saver does.
fs::path FindCaseless(fs::path dir, std::string rel) {
  std::replace(rel.begin(), rel.end(), '\\', '/');
  auto lower = [](std::string v) {
    for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return v;
  };
  for (const auto& part : fs::path(rel)) {
    fs::path next;
    for (const auto& e : fs::directory_iterator(dir))
      if (lower(e.path().filename().string()) == lower(part.string())) next = e.path();
    if (next.empty()) return {};
    dir = next;
  }
  return dir;
}

// A picture that fades is drawn with a blend that ignores its key colour and leaves out only
// black: a picture keyed on another colour shows a box of that colour while it fades. So every
// picture a demo show fades is keyed on black (a TRANS colour, or the corner a TRANS marker
// names), or not keyed at all.
TEST(DemoShows, PicturesThatFadeAreKeyedOnBlack) {
  int fading = 0;
  for (const auto& s : DemoScripts()) {
    const std::string text = ReadAll(s);
    struct Image {
      std::string file;
      std::int32_t trans = -1;
      bool fades = false;
    };
    std::vector<Image> images;
    bool inImage = false;
    for (size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i + 1)) {
      if (i + 1 < text.size() && (text[i + 1] == '<' || text[i + 1] == '#')) {
        ++i;
        continue;
      }
      std::string tag = text.substr(i, text.find('>', i) - i + 1);
      TagRecord r;
      if (!ParseTag(tag, &r)) continue;
      const char* contrast = Attr(r, "CONTRAST");
      if (r.TagId == kTagImage) {
        Image im;
        if (const char* f = Attr(r, "FILE")) im.file = f;
        if (const char* t = Attr(r, "TRANS")) im.trans = ReadColour(t);
        im.fades = contrast && std::strcmp(contrast, "HIGH") != 0 && Integer(contrast) != 255;
        images.push_back(im);
        inImage = true;
      } else if (inImage && r.TagId == kTagSet) {
        images.back().fades = images.back().fades || contrast != nullptr;
      } else if (r.TagId != kTagMove) {
        inImage = false;
      }
    }
    for (const Image& im : images) {
      fading += im.fades ? 1 : 0;
      if (!im.fades || im.trans == -1 || im.trans == 0) continue;
      ASSERT_GE(im.trans, -5) << s << ": " << im.file;
      EXPECT_LT(im.trans, 0) << s << ": " << im.file << " fades but is keyed on a colour";
      if (im.trans >= 0) continue;
      Picture p;
      const fs::path file = FindCaseless(s.parent_path(), im.file);
      ASSERT_EQ(LoadBmpFile(file.string(), &p), 0) << s << ": " << im.file;
      const Bitmap32& b = p.rgb;
      const int x = (im.trans == -2 || im.trans == -4) ? 0 : b.width - 1;
      const int y = (im.trans == -2 || im.trans == -3) ? 0 : b.height - 1;
      EXPECT_EQ(b.Row(y)[x] & 0xFFFFFF, 0u) << s << ": " << im.file << " fades keyed on its corner";
    }
  }
  EXPECT_GE(fading, 20);  // the scan found the shows' fading pictures
}

struct Expected {
  const char* name;
  int width, height, bits;
};

TEST(BuiltinPictures, HaveTheirStatedSizesAndDepths) {
  const Expected all[] = {
      {"ZQLOGO", 220, 220, 24},  {"ZQSTR", 470, 120, 24},
      {"LOWPOWER", 69, 14, 4},   {"PreviewBackdrop", 152, 112, 24},
      {"FigureA", 52, 134, 24},  {"FigureB", 52, 134, 24},
      {"FigureC", 52, 134, 24},  {"FigureD", 52, 134, 24},
      {"KAIGI", 244, 157, 24},   {"DODON", 62, 71, 24},
      {"ABOUT", 138, 537, 24},   {"GAMEN1", 107, 80, 24},
      {"GAMEN2", 107, 80, 24},   {"GAMEN3", 107, 80, 24},
      {"MONITOR", 125, 100, 24}, {"KAKUNIN", 65, 97, 24},
  };
  for (const Expected& e : all) {
    Picture p;
    ASSERT_EQ(LoadBuiltinPicture(e.name, &p), 0) << e.name;
    EXPECT_EQ(p.rgb.width, e.width) << e.name;
    EXPECT_EQ(p.rgb.height, e.height) << e.name;
    EXPECT_EQ(p.bitsPerPixel, e.bits) << e.name;
  }
  for (int i = 1; i <= 8; ++i) {
    const std::string name = "LB0" + std::to_string(i);
    Picture p;
    ASSERT_EQ(LoadBuiltinPicture(name, &p), 0) << name;
    EXPECT_EQ(p.rgb.width, 88) << name;
    EXPECT_EQ(p.rgb.height, 85) << name;
  }
  // The logo must fit the stage it is shown on.
  for (const char* logo : {"ZQLOGO", "ZQSTR"}) {
    Picture p;
    ASSERT_EQ(LoadBuiltinPicture(logo, &p), 0);
    EXPECT_LE(p.rgb.width, 640);
    EXPECT_LE(p.rgb.height, 272);
  }
}

Picture Builtin(const char* name) {
  Picture p;
  EXPECT_EQ(LoadBuiltinPicture(name, &p), 0) << name;
  return p;
}

bool AllOf(const Bitmap32& b, int x0, int y0, int x1, int y1, std::uint32_t v) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (b.Row(y)[x] != v) return false;
  return true;
}

TEST(BuiltinPictures, KeepTheAreasTheirUsersDrawThrough) {
  // The meeting room's screen: pure black from x = 45, as wide as the credits it shows.
  const Picture kaigi = Builtin("KAIGI");
  EXPECT_TRUE(AllOf(kaigi.rgb, 45, 8, 45 + 138, 113, 0));
  EXPECT_NE(kaigi.rgb.Row(60)[40], 0u);
  // The sprite's background is exactly the colour the About page keys out, at every edge.
  const Picture dodon = Builtin("DODON");
  const std::uint32_t key = (161u << 16) | (154u << 8) | 132u;
  EXPECT_TRUE(AllOf(dodon.rgb, 0, 0, 62, 1, key));
  EXPECT_TRUE(AllOf(dodon.rgb, 0, 0, 1, 60, key));
  EXPECT_TRUE(AllOf(dodon.rgb, 61, 0, 62, 60, key));
  // The credits leave the row of the version text free, and are light on black.
  const Picture about = Builtin("ABOUT");
  EXPECT_TRUE(AllOf(about.rgb, 0, 212, 138, 237, 0));
  EXPECT_TRUE(AllOf(about.rgb, 0, 0, 138, 1, 0));
  // The heads and the marchers stand on pure black (their corners are keyed out).
  for (const char* n : {"LB01", "LB02", "LB03", "LB04", "LB05", "LB06", "LB07", "LB08", "FigureA",
                        "FigureB", "FigureC", "FigureD"}) {
    const Picture p = Builtin(n);
    const int w = p.rgb.width, h = p.rgb.height;
    EXPECT_EQ(p.rgb.Row(0)[0] | p.rgb.Row(0)[w - 1], 0u) << n;
    if (n[0] == 'F') {
      EXPECT_EQ(p.rgb.Row(h - 1)[0] | p.rgb.Row(h - 1)[w - 1], 0u) << n;
    }
  }
  // The sample screens: the caption line lies inside 10, 64 to 76, 76 on GAMEN1 and GAMEN3, and
  // switching captions off (filling that rectangle black) leaves nothing of it behind.
  for (const char* n : {"GAMEN1", "GAMEN3"}) {
    const Picture p = Builtin(n);
    EXPECT_FALSE(AllOf(p.rgb, 10, 64, 76, 76, 0)) << n;
    EXPECT_TRUE(AllOf(p.rgb, 0, 63, 10, 80, 0)) << n;
    EXPECT_TRUE(AllOf(p.rgb, 76, 63, 107, 80, 0)) << n;
    EXPECT_TRUE(AllOf(p.rgb, 0, 76, 107, 80, 0)) << n;
  }
  // The speed badge: red with white letters in no more than 16 colours.
  const Picture badge = Builtin("LOWPOWER");
  std::set<std::uint32_t> colours(badge.rgb.pixels.begin(), badge.rgb.pixels.end());
  EXPECT_LE(colours.size(), 16u);
  EXPECT_TRUE(colours.count(0xFFFFFF));
  const std::uint32_t mid = badge.rgb.Row(7)[2];
  EXPECT_GT((mid >> 16) & 255, 2 * ((mid >> 8) & 255));
}

}  // namespace
