// Readers of attribute values: numbers, times, angles, sizes, keywords and colours.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kColourNameCount = 146;

struct ColourName {
  const char* name;
  const char* value;  // RRGGBB, or a negative marker in decimal
};
// The colour names in table order (the first match wins); the last five are markers.
extern const ColourName kColourNames[kColourNameCount];

inline constexpr std::int32_t kTransOff = -1;

// Standard C conversion to a long integer, limited to 32 bits; 0 without digits.
std::int32_t Integer(std::string_view v);
// Standard C conversion to a double (always in the C locale); 0 without a number.
double Real(std::string_view v);
// A double truncated toward zero; values outside 32 bits give 0x80000000.
std::int32_t TruncToInt32(double d);
// Seconds as milliseconds, truncated toward zero.
std::int32_t TimeMs(std::string_view v);
double Radians(std::string_view v);
double Factor(std::string_view v);
// The value upper-cased (a to z only).
std::string Keyword(std::string_view v);
// A packed colour 0x00BBGGRR, or a negative marker.
std::int32_t ReadColour(std::string_view v);
// True when `v` names a colour row (as ReadColour looks it up).
bool IsColourName(std::string_view v);
