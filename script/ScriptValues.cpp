// Attribute value readers and the colour-name table.
#include "script/ScriptValues.h"

#include <locale.h>

#include <clocale>
#include <cmath>
#include <cstdlib>

#include "script/TimeEvents.h"

const ColourName kColourNames[kColourNameCount] = {
    {"BLACK", "000000"},
    {"NAVY", "000080"},
    {"DARKBLUE", "00008B"},
    {"MEDIUMBLUE", "0000CD"},
    {"BLUE", "0000FF"},
    {"DARKGREEN", "006400"},
    {"GREEN", "008000"},
    {"TEAL", "008080"},
    {"DARKCYAN", "008B8B"},
    {"DEEPSKYBLUE", "00BFFF"},
    {"DARKTURQUOISE", "00CED1"},
    {"MEDIUMSPRINGGREEN", "00FA9A"},
    {"LIME", "00FF00"},
    {"SPRINGGREEN", "00FF7F"},
    {"AQUA", "00FFFF"},
    {"CYAN", "00FFFF"},
    {"MIDNIGHTBLUE", "191970"},
    {"DODGERBLUE", "1E90FF"},
    {"LIGHTSEAGREEN", "20B2AA"},
    {"FORESTGREEN", "228B22"},
    {"SEAGREEN", "2E8B57"},
    {"DARKSLATEGRAY", "2F4F4F"},
    {"LIMEGREEN", "32CD32"},
    {"MEDIUMSEAGREEN", "3CB371"},
    {"TURQUOISE", "40E0D0"},
    {"ROYALBLUE", "4169E1"},
    {"STEELBLUE", "4682B4"},
    {"DARKSLATEBLUE", "483D8B"},
    {"MEDIUMTURQUOISE", "48D1CC"},
    {"INDIGO", "4B0082"},
    {"DARKOLIVEGREEN", "556B2F"},
    {"CADETBLUE", "5F9EA0"},
    {"CORNFLOWERBLUE", "6495ED"},
    {"MEDIUMAQUAMARINE", "66CDAA"},
    {"DIMGRAY", "696969"},
    {"SLATEBLUE", "6A5ACD"},
    {"OLIVEDRAB", "6B8E23"},
    {"SLATEGRAY", "708090"},
    {"LIGHTSLATEGRAY", "778899"},
    {"MEDIUMSLATEBLUE", "7B68EE"},
    {"LAWNGREEN", "7CFC00"},
    {"CHARTREUSE", "7FFF00"},
    {"AQUAMARINE", "7FFFD4"},
    {"MAROON", "800000"},
    {"PURPLE", "800080"},
    {"OLIVE", "808000"},
    {"GRAY", "808080"},
    {"SKYBLUE", "87CEEB"},
    {"LIGHTSKYBLUE", "87CEFA"},
    {"BLUEVIOLET", "8A2BE2"},
    {"DARKRED", "8B0000"},
    {"DARKMAGENTA", "8B008B"},
    {"SADDLEBROWN", "8B4513"},
    {"DARKSEAGREEN", "8FBC8F"},
    {"LIGHTGREEN", "90EE90"},
    {"MEDIUMPURPLE", "9370DB"},
    {"DARKVIOLET", "9400D3"},
    {"PALEGREEN", "98FB98"},
    {"DARKORCHID", "9932CC"},
    {"YELLOWGREEN", "9ACD32"},
    {"SIENNA", "A0522D"},
    {"BROWN", "A52A2A"},
    {"DARKGRAY", "A9A9A9"},
    {"LIGHTBLUE", "ADD8E6"},
    {"GREENYELLOW", "ADFF2F"},
    {"PALETURQUOISE", "AFEEEE"},
    {"LIGHTSTEELBLUE", "B0C4DE"},
    {"POWDERBLUE", "B0E0E6"},
    {"FIREBRICK", "B22222"},
    {"DARKGOLDENROD", "B8860B"},
    {"MEDIUMORCHID", "BA55D3"},
    {"ROSYBROWN", "BC8F8F"},
    {"DARKKHAKI", "BDB76B"},
    {"SILVER", "C0C0C0"},
    {"MEDIUMVIOLETRED", "C71585"},
    {"INDIANRED", "CD5C5C"},
    {"PERU", "CD853F"},
    {"CHOCOLATE", "D2691E"},
    {"TAN", "D2B48C"},
    {"LIGHTGREY", "D3D3D3"},
    {"THISTLE", "D8BFD8"},
    {"ORCHID", "DA70D6"},
    {"GOLDENROD", "DAA520"},
    {"PALEVIOLETRED", "DB7093"},
    {"CRIMSON", "DC143C"},
    {"GAINSBORO", "DCDCDC"},
    {"PLUM", "DDA0DD"},
    {"BURLYWOOD", "DEB887"},
    {"LIGHTCYAN", "E0FFFF"},
    {"LAVENDER", "E6E6FA"},
    {"DARKSALMON", "E9967A"},
    {"VIOLET", "EE82EE"},
    {"PALEGOLDENROD", "EEE8AA"},
    {"LIGHTCORAL", "F08080"},
    {"KHAKI", "F0E68C"},
    {"ALICEBLUE", "F0F8FF"},
    {"HONEYDEW", "F0FFF0"},
    {"AZURE", "F0FFFF"},
    {"SANDYBROWN", "F4A460"},
    {"WHEAT", "F5DEB3"},
    {"BEIGE", "F5F5DC"},
    {"WHITESMOKE", "F5F5F5"},
    {"MINTCREAM", "F5FFFA"},
    {"GHOSTWHITE", "F8F8FF"},
    {"SALMON", "FA8072"},
    {"ANTIQUEWHITE", "FAEBD7"},
    {"LINEN", "FAF0E6"},
    {"LIGHTGOLDENRODYELLOW", "FAFAD2"},
    {"OLDLACE", "FDF5E6"},
    {"RED", "FF0000"},
    {"FUCHSIA", "FF00FF"},
    {"MAGENTA", "FF00FF"},
    {"DEEPPINK", "FF1493"},
    {"ORANGERED", "FF4500"},
    {"TOMATO", "FF6347"},
    {"HOTPINK", "FF69B4"},
    {"CORAL", "FF7F50"},
    {"DARKORANGE", "FF8C00"},
    {"LIGHTSALMON", "FFA07A"},
    {"ORANGE", "FFA500"},
    {"LIGHTPINK", "FFB6C1"},
    {"PINK", "FFC0CB"},
    {"GOLD", "FFD700"},
    {"PEACHPUFF", "FFDAB9"},
    {"NAVAJOWHITE", "FFDEAD"},
    {"MOCCASIN", "FFE4B5"},
    {"BISQUE", "FFE4C4"},
    {"MISTYROSE", "FFE4E1"},
    {"BLANCHEDALMOND", "FFEBCD"},
    {"PAPAYAWHIP", "FFEFD5"},
    {"LAVENDERBLUSH", "FFF0F5"},
    {"SEASHELL", "FFF5EE"},
    {"CORNSILK", "FFF8DC"},
    {"LEMONCHIFFON", "FFFACD"},
    {"FLORALWHITE", "FFFAF0"},
    {"SNOW", "FFFAFA"},
    {"YELLOW", "FFFF00"},
    {"LIGHTYELLOW", "FFFFE0"},
    {"IVORY", "FFFFF0"},
    {"WHITE", "FFFFFF"},
    {"FARSLANT", "FFC000"},
    {"OFF", "-1"},
    {"LEFTTOP", "-2"},
    {"RIGHTTOP", "-3"},
    {"LEFTBTM", "-4"},
    {"RIGHTBTM", "-5"},
};

namespace {

constexpr double kPi = 3.141592653589793;

// strtod in the C locale, whatever locale the process runs in (the shell may set one).
double CStrtod(const char* s) {
  locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (c == static_cast<locale_t>(0)) return std::strtod(s, nullptr);
  const double d = strtod_l(s, nullptr, c);
  freelocale(c);
  return d;
}

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return c & 0x0F;
}

const ColourName* FindColour(const std::string& upper) {
  for (const ColourName& row : kColourNames) {
    if (upper == row.name) return &row;
  }
  return nullptr;
}

}  // namespace

std::int32_t Integer(std::string_view v) {
  const std::string s(v);
  const long long n = std::strtoll(s.c_str(), nullptr, 10);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(n);
}

double Real(std::string_view v) {
  const std::string s(v);
  return CStrtod(s.c_str());
}

std::int32_t TruncToInt32(double d) {
  if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(d);
}

std::int32_t TimeMs(std::string_view v) {
  return TruncToInt32(Real(v) * 1000.0);
}

double Radians(std::string_view v) {
  return Real(v) * kPi / 180.0;
}

double Factor(std::string_view v) {
  return Real(v) * 0.01;
}

std::string Keyword(std::string_view v) {
  std::string s(v);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

bool IsColourName(std::string_view v) {
  return FindColour(Keyword(v)) != nullptr;
}

std::int32_t ReadColour(std::string_view v) {
  std::string digits;
  if (!v.empty() && v[0] == '#') {
    digits = std::string(v.substr(1, 6));
  } else {
    digits = std::string(v.substr(0, 6));
    if (const ColourName* row = FindColour(Keyword(v))) {
      digits = row->value;
      if (digits[0] == '-') return Integer(digits);
    }
  }
  digits = Keyword(digits);
  const std::string six = std::string(6 - digits.size(), '0') + digits;
  std::int32_t rgb[3];
  for (int i = 0; i < 3; ++i) {
    rgb[i] = DigitValue(static_cast<unsigned char>(six[2 * i])) * 16 +
             DigitValue(static_cast<unsigned char>(six[2 * i + 1]));
  }
  return rgb[0] | (rgb[1] << 8) | (rgb[2] << 16);
}
