// Playback as `ondrelix --render` drives it, over scripts generated from the input: a sequence
// of well-formed tags of every kind (pictures, backgrounds, titles, formatted text, captions,
// the clock, music) whose numbers run from everyday values to the ends of the 32-bit range and
// beyond, naming real, missing and size-claiming pictures. Each show is played on the virtual
// clock for up to 90 ticks and its first and last frames are written. Generating the tags,
// rather than feeding raw bytes, lets the fuzzer spend its time in the layers and the player
// instead of in the tokeniser.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "app/RenderTool.h"
#include "fuzz/FuzzSupport.h"
#include "tools/BmpEncoder.h"
#include "render/Bitmap.h"

namespace {

// 64 bytes that claim a 1024 x 1024 picture: an RLE8 stream that ends at once.
std::vector<std::uint8_t> ClaimingRle8() {
  std::vector<std::uint8_t> b = {'B', 'M'};
  auto u16 = [&](unsigned v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  u32(64), u32(0), u32(62), u32(40), u32(1024), u32(1024), u16(1), u16(8), u32(1);
  u32(2), u32(0), u32(0), u32(2), u32(0), u32(0), u32(0xFFFFFF);
  b.insert(b.end(), {0, 1});
  return b;
}

// The data folder with its pictures, made once for the whole run.
const std::string& Folder() {
  static const std::string folder = [] {
    const std::string f = FuzzFolder() + "/render";
    FUZZ_CHECK(mkdir(f.c_str(), 0700) == 0 || errno == EEXIST);
    Bitmap32 pic;
    pic.Create(17, 12, 0);
    for (int y = 0; y < pic.height; ++y)
      for (int x = 0; x < pic.width; ++x) pic.Row(y)[x] = (x * 15u) << 16 | (y * 20u) << 8 | 0x40u;
    std::vector<std::uint8_t> bytes;
    FUZZ_CHECK(EncodeBmp(pic, 24, &bytes) == 0);
    FUZZ_CHECK(WriteFileBytes((f + "/p.bmp").c_str(), bytes) == 0);
    FUZZ_CHECK(EncodeBmp(pic, 8, &bytes) == 0 || EncodeBmp(pic, 24, &bytes) == 0);
    FUZZ_CHECK(WriteFileBytes((f + "/font.bmp").c_str(), bytes) == 0);
    FUZZ_CHECK(WriteFileBytes((f + "/c.bmp").c_str(), ClaimingRle8()) == 0);
    return f;
  }();
  return folder;
}

class Generator {
 public:
  explicit Generator(FuzzedDataProvider& in) : in_(in) {}

  std::string Script() {
    std::string s = "<DATA TITLE=\"fuzz\" VERSION=\"1.10\">\n";
    const int items = in_.ConsumeIntegralInRange(1, 24);
    for (int i = 0; i < items && in_.remaining_bytes() > 0; ++i) s += Item() + "\n";
    return s + "</DATA>\n";
  }

 private:
  template <std::size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[in_.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
  }

  std::string Number() {
    static const char* const kExtreme[] = {"2147483647", "-2147483648", "2147483648", "0", "-1",
                                           "99999999999", "-99999999999", "65536", "16384"};
    switch (in_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return Pick(kExtreme);
      case 1:
        return std::to_string(in_.ConsumeIntegral<int>());
      case 2:
        return std::to_string(in_.ConsumeIntegralInRange(0, 99)) + "." +
               std::to_string(in_.ConsumeIntegralInRange(0, 9));
      case 3:
        return Pick({"", "abc", "--5", "#FF00FF", "1e9"});
      default:
        return std::to_string(in_.ConsumeIntegralInRange(-400, 400));
    }
  }
  std::string Time() {
    if (in_.ConsumeIntegralInRange(0, 7) == 0) return Number();
    return std::to_string(in_.ConsumeIntegralInRange(0, 4)) + "." +
           std::to_string(in_.ConsumeIntegralInRange(0, 9));
  }
  const char* PictureName() {
    return Pick({"p.bmp", "P.BMP", "c.bmp", "*NOTFOUND", "missing.bmp", "font.bmp", "c.jpg"});
  }
  const char* Colour() { return Pick({"RED", "NAVY", "#00FF80", "WHITE", "BLACK", "#GGGGGG"}); }
  const char* Contrast() { return Pick({"FADEIN", "FADEOUT", "FADEINOUT", "128", "0"}); }

  std::string Image() {
    std::string s = "<IMAGE ";
    if (in_.ConsumeBool())
      s += std::string("FILE=") + PictureName();
    else
      s += "STRING=\"" + in_.ConsumeRandomLengthString(40) + "\"";
    s += " XPOS=" + Number() + " YPOS=" + Number() + " ZPOS=" + Number() + " ANGLE=" + Number() +
         " SIZE=" + Number() + " TIME=" + Time() + " CONTRAST=" + Contrast() +
         " TRANS=" + Pick({"BLACK", "LEFTTOP", "#000000", "NONE"}) +
         " REVERSE=" + Pick({"HORIZON", "VERTICAL", "NONE"}) +
         " OPERATION=" + Pick({"COPY", "PAINT"}) + " QUALITY=" + Pick({"HIGH", "LOW"}) + ">";
    for (int k = in_.ConsumeIntegralInRange(0, 2); k > 0; --k) {
      s += "<SET START=" + Time() + " XPOS=" + Number() + " ZPOS=" + Number() +
           " SIZE=" + Number() + " ANGLE=" + Number() + " TIME=" + Time() + " ACC=" + Number() +
           " DEC=" + Number() + " CONTRAST=" + Number() + ">";
    }
    if (in_.ConsumeBool()) s += "<MOVE ROTATE=" + Number() + " XMOVE=" + Number() + ">";
    return s + "</IMAGE>";
  }
  std::string ScrText() {
    std::string s = "<SCRTEXT SPEED=" + Number() + " TIME=" + Time() + " CONTRAST=" + Contrast() + ">";
    for (int k = in_.ConsumeIntegralInRange(1, 10); k > 0; --k) {
      switch (in_.ConsumeIntegralInRange(0, 6)) {
        case 0:
          s += std::string("<FORMAT FONT=") + Pick({"DEFAULT", "F", "\"DejaVu Serif\"", "NOFONT"}) +
               " SIZE=" + Number() + " ALIGN=" + Pick({"LEFT", "RIGHT", "CENTER", "LAYOUT"}) +
               " ROWSPAN=" + Number() + " COLSPAN=" + Number() +
               " STYLE=" + Pick({"BOLD", "ITALIC", "BOLDITALIC"}) + ">";
          break;
        case 1:
          s += "</FORMAT>";
          break;
        case 2:
          s += in_.ConsumeBool() ? "<BR ROW=" + Number() + ">" : std::string("<BR>");
          break;
        case 3:
          s += "<NODISP>hidden</NODISP><SPC>";
          break;
        case 4:
          s += std::string("<READFONT NAME=F FILE=") + PictureName() + " ASSIGN=\"A\">";
          break;
        default:
          s += in_.ConsumeRandomLengthString(60);
          break;
      }
    }
    return s + "<SET SPEED=" + Number() + " TIME=" + Time() + "></SCRTEXT>";
  }
  std::string Item() {
    switch (in_.ConsumeIntegralInRange(0, 11)) {
      case 0:
        return std::string("<BGMAKE BGFILE=") + PictureName() + " BGCOLOR=" + Colour() +
               "><OBJECT FILE=" + PictureName() + " XPOS=" + Number() + " YPOS=" + Number() +
               " TRANS=LEFTTOP></BGMAKE>";
      case 1:
        return std::string("<") + Pick({"BGSCROLL", "BGSET", "BGMOVE"}) + " XPOS=" + Number() +
               " YPOS=" + Number() + " ZPOS=" + Number() + " XMOVE=" + Number() +
               " ZMOVE=" + Number() + " TIME=" + Time() + " ACC=" + Number() +
               " DEC=" + Number() + ">";
      case 2:
        return "<SCREEN CONTRAST=" + std::string(Contrast()) + " TIME=" + Time() + ">";
      case 3:
        return std::string("<TITLE FILE=") + PictureName() + " POS=" + Number() +
               " SPEED=" + Number() + " COLOR=" + Colour() + " TIME=" + Time() +
               " CONTRAST=" + Contrast() + "><SET SPEED=" + Number() + " TIME=" + Time() +
               " COLOR=" + Colour() + "></TITLE>";
      case 4:
        return ScrText();
      case 5:
        return "<CAPTION TIME=" + Time() + ">" + in_.ConsumeRandomLengthString(30) + "<BR>" +
               in_.ConsumeRandomLengthString(30) + "<P>" + in_.ConsumeRandomLengthString(30) +
               "</CAPTION>";
      case 6:
        return std::string("<CLOCK ") + (in_.ConsumeBool() ? "SET=" : "MOVE=") + Time() + ">";
      case 7:
        return std::string("<SOLID COLOR=") + Colour() + "><CLEAR>";
      case 8:
        return std::string("<BGM FILE=") + Pick({"a.mid", "missing.wav"}) +
               " MODE=" + Pick({"START", "STOP", "PRELOAD"}) + " TIME=" + Time() + ">";
      case 9:
        return "<END>";
      default:
        return Image();
    }
  }

  FuzzedDataProvider& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int lastTick = in.ConsumeIntegralInRange(1, 90);
  const std::string script = Generator(in).Script();
  const std::string file = Folder() + "/script_fuzz.txt";
  WriteWholeFile(file, reinterpret_cast<const std::uint8_t*>(script.data()), script.size());

  RenderRequest req;
  req.file = file;
  req.outDir = FuzzFolder() + "/frames";
  req.ticksGiven = true;
  req.firstTick = 0;
  req.lastTick = lastTick;
  req.step = lastTick;  // the first and the last frame
  const int rc = RunRender(req);
  FUZZ_CHECK(rc == 0 || rc == 1);
  return 0;
}
