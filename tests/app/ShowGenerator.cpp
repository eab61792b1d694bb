// The generator of random shows.
#include "tests/app/ShowGenerator.h"

#include <cstdio>
#include <vector>

#include "render/Bitmap.h"
#include "tools/BmpEncoder.h"

namespace {

// Shows are short, so that hundreds of them play in seconds.
constexpr int kShowMs = 1500;

void WritePicture(const std::string& dir, const char* name, int w, int h,
                  std::uint32_t (*pixel)(int x, int y, int w, int h)) {
  Bitmap32 bmp;
  bmp.Create(w, h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp.Row(y)[x] = pixel(x, y, w, h);
  std::vector<std::uint8_t> bytes;
  EncodeBmp(bmp, 24, &bytes);
  WriteFileBytes((dir + "/" + name).c_str(), bytes);
}

std::uint32_t Pattern(int x, int y, int, int) {
  return static_cast<std::uint32_t>((x * 5) & 0xFF) << 16 |
         static_cast<std::uint32_t>((y * 3) & 0xFF) << 8 |
         static_cast<std::uint32_t>((x ^ y) & 0xFF);
}

// A disc on magenta with three other corner colours, for every kind of transparency.
std::uint32_t Sprite(int x, int y, int w, int h) {
  if (x == w - 1 && y == 0) return 0x000000;
  if (x == 0 && y == h - 1) return 0xFFFFFF;
  if (x == w - 1 && y == h - 1) return 0x00FF00;
  const int dx = 2 * x - w, dy = 2 * y - h;
  if (dx * dx + dy * dy < h * h) return 0xFFC000u - static_cast<std::uint32_t>(x * 0x300 + y);
  return 0xFF00FF;
}

// White bars on black, for titles and scrolling texts.
std::uint32_t Bars(int x, int y, int, int) {
  return (y % 6 < 4 && (x / 3) % 4 != 3) ? 0xFFFFFF : 0;
}

}  // namespace

std::string PlanLine(const PlayPlan& p) {
  char line[128];
  std::snprintf(line, sizeof line, "# plan: mode=%d interval=%d keeping=%d pause=%d,%d moves=%d\n",
                p.mode, p.frameInterval, p.keeping, p.pauseTick, p.pauseMs, p.moves);
  return line;
}

PlayPlan ReadPlan(const std::string& script) {
  PlayPlan p;
  const size_t at = script.find("# plan:");
  if (at == std::string::npos) return p;
  std::sscanf(script.c_str() + at, "# plan: mode=%d interval=%d keeping=%d pause=%d,%d moves=%d",
              &p.mode, &p.frameInterval, &p.keeping, &p.pauseTick, &p.pauseMs, &p.moves);
  return p;
}

void WritePictureKit(const std::string& dir) {
  WritePicture(dir, "tile.bmp", 48, 40, Pattern);
  WritePicture(dir, "big.bmp", 700, 300, Pattern);
  WritePicture(dir, "sprite.bmp", 33, 21, Sprite);
  WritePicture(dir, "word.bmp", 40, 24, Bars);
  WritePicture(dir, "lines.bmp", 200, 48, Bars);
}

int ShowGenerator::Int(int lo, int hi) {
  return lo + static_cast<int>(rng_() % static_cast<std::uint32_t>(hi - lo + 1));
}

bool ShowGenerator::Chance(int percent) {
  return Int(0, 99) < percent;
}

// Seconds: mostly a span up to maxMs, sometimes 0 or less than one tick.
std::string ShowGenerator::Secs(int maxMs) {
  const int r = Int(0, 9);
  const int ms = r == 0 ? 0 : r == 1 ? Int(1, 40) : Int(40, maxMs);
  char v[32];
  std::snprintf(v, sizeof v, "%d.%03d", ms / 1000, ms % 1000);
  return v;
}

std::string ShowGenerator::Real(int lo, int hi) {
  char v[32];
  std::snprintf(v, sizeof v, "%d.%d", Int(lo, hi), Int(0, 9));
  return v;
}

std::string ShowGenerator::Colour() {
  static const std::vector<std::string> named = {"RED",     "WHITE",        "BLACK", "FARSLANT",
                                                 "MAGENTA", "MIDNIGHTBLUE", "LIME",  "GOLD"};
  if (Chance(40)) return Pick(named);
  char v[16];
  std::snprintf(v, sizeof v, "#%06X", static_cast<unsigned>(rng_() & 0xFFFFFF));
  return v;
}

std::string ShowGenerator::Trans() {
  static const std::vector<std::string> marks = {"OFF",      "LEFTTOP", "RIGHTTOP", "LEFTBTM",
                                                 "RIGHTBTM", "MAGENTA", "BLACK"};
  return Pick(marks);
}

std::string ShowGenerator::Contrast(bool keywords) {
  static const std::vector<std::string> words = {"FADEIN", "FADEOUT", "FADEINOUT", "LOW", "HIGH"};
  if (keywords && Chance(60)) return Pick(words);
  static const std::vector<std::string> inSets = {"LOW", "HIGH"};
  if (!keywords && Chance(40)) return Pick(inSets);
  return std::to_string(Int(0, 255));
}

void ShowGenerator::Background(std::string& s) {
  static const std::vector<std::string> bases = {"tile.bmp", "big.bmp", "missing.bmp", ""};
  const std::string base = Pick(bases);
  s += "<BGMAKE";
  if (!base.empty()) s += " BGFILE=" + base;
  if (Chance(70)) s += " BGCOLOR=" + Colour();
  s += ">\n";
  for (int n = Int(0, 4); n > 0; --n) {
    static const std::vector<std::string> files = {"sprite.bmp", "tile.bmp", "nothing.bmp"};
    s += "<OBJECT FILE=" + Pick(files) + " XPOS=" + std::to_string(Int(-200, 1200)) +
         " YPOS=" + std::to_string(Int(-100, 500));
    if (Chance(60)) s += " TRANS=" + Trans();
    s += ">\n";
  }
  if (Chance(70)) s += "</BGMAKE>\n";  // else the next tag closes the block
}

void ShowGenerator::CameraMove(std::string& s) {
  static const std::vector<std::string> tags = {"BGSCROLL", "BGSET", "BGMOVE"};
  const std::string tag = Pick(tags);
  s += "<" + tag;
  const bool rate = tag == "BGMOVE";
  for (const char axis : {'X', 'Y', 'Z'}) {
    if (!Chance(55)) continue;
    const bool pos = !rate && Chance(50);
    s += std::string(" ") + axis + (pos ? "POS=" : "MOVE=");
    if (rate) {
      s += Real(-400, 400);
    } else if (axis == 'Z') {
      s += Real(-300, 500);
    } else {
      s += Real(-300, 1300);
    }
  }
  if (Chance(70)) s += " TIME=" + Secs(kShowMs);
  if (!rate && Chance(50)) s += " ACC=" + std::to_string(Int(-10, 70));
  if (!rate && Chance(50)) s += " DEC=" + std::to_string(Int(-10, 70));
  s += ">\n";
}

void ShowGenerator::Image(std::string& s) {
  static const std::vector<std::string> files = {"sprite.bmp", "tile.bmp", "*NOTFOUND",
                                                 "missing.bmp"};
  s += "<IMAGE";
  if (Chance(75)) {
    s += " FILE=" + Pick(files);
  } else {
    s += " STRING=\"Show " + std::to_string(Int(0, 999)) + "\"";
  }
  if (Chance(60)) s += " XPOS=" + Real(-450, 450);
  if (Chance(60)) s += " YPOS=" + Real(-250, 250);
  if (Chance(40)) s += " ZPOS=" + Real(-300, 700);
  if (Chance(25)) s += " BGXPOS=" + Real(-300, 900);
  if (Chance(25)) s += " BGYPOS=" + Real(-200, 400);
  if (Chance(40)) s += " TRANS=" + Trans();
  if (Chance(20)) s += Chance(50) ? " REVERSE=HORIZON" : " REVERSE=VERTICAL";
  if (Chance(30)) s += " ANGLE=" + Real(-360, 360);
  if (Chance(40)) s += " SIZE=" + Real(0, 300);
  if (Chance(50)) s += " CONTRAST=" + Contrast(true);
  if (Chance(30)) s += Chance(50) ? " OPERATION=PAINT" : " OPERATION=COPY";
  if (Chance(30)) s += " QUALITY=HIGH";
  s += " TIME=" + Secs(kShowMs) + ">\n";
  for (int n = Int(0, 3); n > 0; --n) {
    const bool move = Chance(35);
    s += move ? "<MOVE" : "<SET";
    s += " START=" + Secs(2000);
    if (Chance(70)) s += " TIME=" + Secs(2000);
    static const std::vector<std::string> fields = {"XPOS", "YPOS", "ZPOS", "ANGLE", "SIZE"};
    static const std::vector<std::string> rates = {"XMOVE", "YMOVE", "ZMOVE", "ROTATE", "SIZE"};
    for (int i = 0; i < 5; ++i) {
      if (!Chance(40)) continue;
      s += " " + (move ? rates[i] : fields[i]) + "=";
      s += i == 4 ? Real(0, 250) : i == 2 ? Real(-400, 900) : Real(-700, 700);
    }
    if (!move && Chance(40)) s += " CONTRAST=" + Contrast(false);
    if (Chance(30)) s += " ACC=" + std::to_string(Int(0, 60));
    if (Chance(30)) s += " DEC=" + std::to_string(Int(0, 60));
    s += ">\n";
  }
  if (Chance(60)) s += "</IMAGE>\n";
}

void ShowGenerator::Title(std::string& s) {
  s += "<TITLE FILE=word.bmp POS=" + Real(-250, 1500) + " SPEED=" + Real(-150, 150);
  if (Chance(80)) s += " TIME=" + Secs(kShowMs);
  if (Chance(60)) s += " COLOR=" + Colour();
  if (Chance(50)) s += " CONTRAST=" + Contrast(true);
  s += ">\n";
  for (int n = Int(0, 2); n > 0; --n) {
    const bool move = Chance(30);
    s += (move ? "<MOVE START=" : "<SET START=") + Secs(2000) + " TIME=" + Secs(2000);
    if (Chance(60)) s += " SPEED=" + Real(-100, 200);
    if (!move && Chance(50)) s += " COLOR=" + Colour();
    if (!move && Chance(50)) s += " CONTRAST=" + Contrast(false);
    s += ">\n";
  }
  s += "</TITLE>\n";
}

void ShowGenerator::ScrollText(std::string& s) {
  s += "<SCRTEXT";
  if (Chance(30)) s += Chance(80) ? " BITMAP=lines.bmp" : " BITMAP=AUTO";
  s += " SPEED=" + std::to_string(Int(20, 60));
  if (Chance(80)) s += " TIME=" + Secs(kShowMs);
  if (Chance(60)) s += " COLOR=" + Colour();
  if (Chance(50)) s += " CONTRAST=" + Contrast(true);
  s += ">\n<FORMAT FONT=DEFAULT ALIGN=CENTER ROWSPAN=4>\n";
  for (int n = Int(1, 4); n > 0; --n) s += "LINE " + std::to_string(Int(0, 99999)) + "<BR>\n";
  s += "</FORMAT>\n";
  if (Chance(40)) {
    s += (Chance(50) ? "<SET START=" : "<MOVE START=") + std::to_string(Int(0, 2)) +
         " TIME=" + Secs(2000);
    if (Chance(60)) s += " SPEED=" + std::to_string(Int(20, 80));
    if (Chance(50)) s += " COLOR=" + Colour();
    if (Chance(50)) s += " CONTRAST=" + std::to_string(Int(0, 255));
    s += ">\n";
  }
  s += "</SCRTEXT>\n";
}

void ShowGenerator::Caption(std::string& s) {
  s += "<CAPTION TIME=" + Secs(kShowMs) + ">\n";
  for (int n = Int(1, 3); n > 0; --n) {
    s += "Caption " + std::to_string(Int(0, 999));
    if (Chance(50)) s += "<BR>second line";
    s += "<P>\n";
  }
  s += "</CAPTION>\n";
}

void ShowGenerator::Screen(std::string& s) {
  static const std::vector<std::string> words = {"FADEIN", "FADEOUT", "LOW", "HIGH"};
  s += "<SCREEN CONTRAST=";
  s += Chance(70) ? Pick(words) : std::to_string(Int(0, 3));
  if (Chance(80)) s += " TIME=" + Secs(1500);
  s += ">\n";
}

void ShowGenerator::Clock(std::string& s) {
  if (Chance(80)) {
    s += "<CLOCK SET=" + Secs(kShowMs) + ">\n";
  } else {
    s += "<CLOCK MOVE=-" + Secs(1000) + ">\n";
  }
}

std::string ShowGenerator::Script() {
  PlayPlan plan;
  static const int modes[] = {4, 4, 4, 1, 2, 3};
  plan.mode = modes[Int(0, 5)];
  static const int intervals[] = {33, 33, 33, 0, 10, 60};
  plan.frameInterval = intervals[Int(0, 5)];
  plan.keeping = Int(0, 2);
  if (Chance(20)) {
    plan.pauseTick = Int(0, 60);
    plan.pauseMs = Int(1, 700);
  }
  if (plan.mode == 2) plan.moves = Int(0, 2);
  std::string s = PlanLine(plan);
  s += "<DATA TITLE=\"generated\" VERSION=1.10>\n";
  if (Chance(60)) Background(s);
  for (int n = Int(2, 9); n > 0; --n) {
    if (Chance(40)) Clock(s);
    switch (Int(0, 11)) {
      case 0:
        Background(s);
        break;
      case 1:
      case 2:
        CameraMove(s);
        break;
      case 3:
      case 4:
      case 5:
        Image(s);
        break;
      case 6:
        Title(s);
        break;
      case 7:
        ScrollText(s);
        break;
      case 8:
        Caption(s);
        break;
      case 9:
        s += Chance(60) ? "<SOLID COLOR=" + Colour() + ">\n" : "<CLEAR>\n";
        break;
      case 10:
        Screen(s);
        break;
      default:
        if (Chance(30)) s += "<END>\n";
        break;
    }
  }
  s += "</DATA>\n";
  return s;
}

std::string ShowGenerator::SkyScript() {
  PlayPlan plan;
  plan.mode = 2;
  plan.moves = Int(1, 2);
  plan.keeping = Chance(50) ? 0 : 2;
  std::string s = PlanLine(plan);
  s += "<DATA TITLE=\"sky\" VERSION=1.10>\n";
  s += std::string("<BGMAKE BGFILE=") + (Chance(70) ? "tile.bmp" : "big.bmp") + ">\n";
  for (int n = Int(1, 4); n > 0; --n) {
    s += "<OBJECT FILE=sprite.bmp XPOS=" + std::to_string(Int(-100, 700)) +
         " YPOS=" + std::to_string(Int(-50, 300));
    if (Chance(60)) s += " TRANS=" + Trans();
    s += ">\n";
  }
  s += "</BGMAKE>\n";
  int ms = 0;
  for (int n = Int(4, 8); n > 0; --n) {
    switch (Int(0, 5)) {
      case 0:
      case 1:
        s += "<BGMOVE XMOVE=" + Real(-90, 90);
        if (Chance(60)) s += " YMOVE=" + Real(-60, 60);
        s += " TIME=" + Secs(3000) + ">\n";
        break;
      case 2:
        s += "<BGSCROLL XMOVE=" + Real(-200, 200) + " YMOVE=" + Real(-100, 100) +
             " TIME=" + Secs(3000);
        if (Chance(50)) s += " ACC=30 DEC=30";
        s += ">\n";
        break;
      case 3:
        Image(s);
        break;
      case 4:
        Title(s);
        break;
      default:
        Screen(s);
        break;
    }
    ms += Int(300, 1500);
    s += "<CLOCK SET=" + std::to_string(ms / 1000) + "." +
         std::to_string(ms % 1000 + 1000).substr(1) + ">\n";
  }
  s += "<CLOCK MOVE=2.000>\n<END>\n</DATA>\n";
  return s;
}
