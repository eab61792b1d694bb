// Value readers: numbers, times and the colour names.
#include <gtest/gtest.h>

#include "script/ScriptValues.h"

namespace {

TEST(ScriptValues, Colours) {
  EXPECT_EQ(ReadColour("#FFC000"), 0x0000C0FF);
  EXPECT_EQ(ReadColour("FARSLANT"), 0x0000C0FF);
  EXPECT_EQ(ReadColour("farslant"), 0x0000C0FF);
  EXPECT_EQ(ReadColour("#FF0000"), 0x000000FF);
  EXPECT_EQ(ReadColour("FF0000"), 0x000000FF);
  EXPECT_EQ(ReadColour("RED"), 0x000000FF);
  EXPECT_EQ(ReadColour("OFF"), -1);
  EXPECT_EQ(ReadColour("LEFTTOP"), -2);
  EXPECT_EQ(ReadColour("LEFTBTM"), -4);
  EXPECT_EQ(ReadColour("RIGHTBTM"), -5);
  EXPECT_EQ(ReadColour("#8"), 0x00080000);
  EXPECT_EQ(ReadColour("FF"), 0x00FF0000);  // right-aligned: 0000FF is blue
  EXPECT_EQ(ReadColour("#ff8000"), 0x000080FF);
  // Unknown names read their first six bytes as digits, other bytes by their low four bits.
  EXPECT_EQ(ReadColour("PURPLE1"), 0x00CE2005);
  EXPECT_EQ(ReadColour("PURPLE"), 0x00800080);
  EXPECT_EQ(ReadColour(""), 0);
  EXPECT_EQ(ReadColour("#1234567"), 0x00563412);  // at most six digits after "#"
  // Names are matched whole: AQUA and CYAN share a value, LIME is not LIMEGREEN.
  EXPECT_EQ(ReadColour("CYAN"), ReadColour("AQUA"));
  EXPECT_EQ(ReadColour("LIMEGREEN"), 0x0032CD32);
}

TEST(ScriptValues, ColourTableEndsWithTheMarkers) {
  EXPECT_STREQ(kColourNames[0].name, "BLACK");
  EXPECT_STREQ(kColourNames[140].name, "FARSLANT");
  EXPECT_STREQ(kColourNames[145].name, "RIGHTBTM");
}

TEST(ScriptValues, Numbers) {
  EXPECT_EQ(Integer("  +12abc"), 12);
  EXPECT_EQ(Integer("-7"), -7);
  EXPECT_EQ(Integer("x1"), 0);
  EXPECT_EQ(Integer("99999999999"), INT32_MAX);  // a 32-bit long saturates
  EXPECT_DOUBLE_EQ(Real(" 2.5e1x"), 25.0);
  EXPECT_DOUBLE_EQ(Real("abc"), 0.0);
  EXPECT_EQ(TimeMs("1.5"), 1500);
  EXPECT_EQ(TimeMs("-0.0339"), -33);  // truncated toward zero
  EXPECT_EQ(TimeMs("0.0019"), 1);
  EXPECT_EQ(TimeMs("1e12"), INT32_MIN);  // out of range: the integer-indefinite value
  EXPECT_NEAR(Radians("180"), 3.141592653589793, 1e-15);
  EXPECT_DOUBLE_EQ(Factor("150"), 1.5);
  EXPECT_EQ(Keyword("fadeIn\x82\x61"), "FADEIN\x82\x41");
}

}  // namespace
