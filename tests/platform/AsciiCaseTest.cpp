// Names compared without regard to case: only A to Z fold, whatever the locale.
#include <gtest/gtest.h>

#include "platform/AsciiCase.h"

namespace {

TEST(AsciiCase, OnlyTheLettersAToZFold) {
  EXPECT_TRUE(EqualsNoCase("IPAGothic", "ipagothic"));
  EXPECT_TRUE(EqualsNoCase("", ""));
  EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
  EXPECT_FALSE(EqualsNoCase("[", "{"));        // 0x5B and 0x7B are 32 apart but no letters
  EXPECT_FALSE(EqualsNoCase("\xC9", "\xE9"));  // É and é in Latin-1: bytes, not letters here
  EXPECT_TRUE(EqualsNoCase("ＭＳ ゴシック", "ＭＳ ゴシック"));
  EXPECT_FALSE(EqualsNoCase("ＭＳ", "ｍｓ"));  // full-width letters are other characters
  EXPECT_TRUE(StartsWithNoCase("DWORD:0000006e", "dword:"));
  EXPECT_FALSE(StartsWithNoCase("dwor", "dword:"));
}

}  // namespace
