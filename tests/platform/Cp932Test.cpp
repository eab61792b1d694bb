// CP932 conversion: Japanese text both ways, the 0x5C trail byte, and damaged input.
#include <gtest/gtest.h>

#include "platform/Cp932.h"

namespace {

TEST(Cp932, JapaneseTextBothWays) {
  // "ＭＳ ゴシック", half-width katakana, and "ソ" whose trail byte is 0x5C ("\").
  const std::string cp932 = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e \xb1\xb2 \x83\x5c";
  const std::string utf8 = "ＭＳ ゴシック ｱｲ ソ";
  EXPECT_EQ(Cp932ToUtf8(cp932), utf8);
  EXPECT_EQ(Utf8ToCp932(utf8), cp932);
  EXPECT_EQ(Cp932ToUtf32("A\x83\x5c"), U"Aソ");
  // Backslash and tilde are themselves, as Windows reads them.
  EXPECT_EQ(Cp932ToUtf8("a\\b~"), "a\\b~");
  // NEC and IBM extensions of CP932: circled digit one, roman numeral one.
  EXPECT_EQ(Cp932ToUtf8("\x87\x40\x87\x54"), "①Ⅰ");
}

TEST(Cp932, DamagedInputIsReplacedNotFatal) {
  // An invalid byte, a lead byte followed by ASCII, a lead byte at the very end.
  EXPECT_EQ(Cp932ToUtf8("a\xff"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Cp932ToUtf8("\x82"
                        "0x"),
            "\xEF\xBF\xBD"
            "0x");
  EXPECT_EQ(Cp932ToUtf8("ok\x82"), "ok\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf32("\x82"), std::u32string(1, U'\uFFFD'));
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_FALSE(Cp932ToUtf8(all).empty());

  // Characters without a CP932 form, and broken UTF-8, become '?'.
  EXPECT_EQ(Utf8ToCp932("x😀y"), "x?y");
  EXPECT_EQ(Utf8ToCp932("Ελ"), "\x83\xa3\x83\xc9");  // Greek is in the table
  EXPECT_EQ(Utf8ToCp932("a\xC3"), "a?");
  EXPECT_EQ(Utf8ToCp932("\xE3\x81z"), "??z");
}

TEST(Cp932, LeadAndTrailBytesMatchTheTable) {
  // Every lead byte with a typical trail byte forms a character or a user-defined slot; bytes
  // outside the lead range never start a double-byte character.
  for (int b = 0x81; b <= 0xFC; ++b) {
    if (!IsSjisLead(static_cast<unsigned char>(b))) {
      std::string one(1, static_cast<char>(b));
      EXPECT_EQ(Cp932ToUtf32(one + "A").size(), 2u) << std::hex << b;
    }
  }
  EXPECT_FALSE(IsSjisLead(0xA0));
  EXPECT_TRUE(IsSjisLead(0x81) && IsSjisLead(0xFC) && IsSjisLead(0xE0));
  EXPECT_FALSE(IsSjisTrail(0x7F));
  EXPECT_TRUE(IsSjisTrail(0x5C));
}

}  // namespace
