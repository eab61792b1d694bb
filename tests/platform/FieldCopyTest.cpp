// Text into fixed record fields: cut at the limit and at the field's size, zero-filled, ended.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/FieldCopy.h"

namespace {

TEST(FieldCopy, CutsAtTheLimitOrTheFieldAndFillsTheRestWithZeros) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  CopyField(field, "abcdef", 4);
  EXPECT_EQ(std::string(field, sizeof field), std::string("abcd\0\0\0\0", 8));
  CopyField(field, "abcdefghijkl");  // the field's size less its ending zero
  EXPECT_EQ(std::string(field, sizeof field), std::string("abcdefg\0", 8));
  CopyField(field, std::string_view("a\0b", 3), 100);  // a zero inside the text is copied
  EXPECT_EQ(std::string(field, 4), std::string("a\0b\0", 4));
  char one[1] = {'x'};
  CopyField(one, "abc");
  EXPECT_EQ(one[0], 0);
}

TEST(FieldCopy, Utf8CutNeverSplitsACharacter) {
  char field[6];
  CopyField(field, "ab\xE3\x81\x82z", 4, FieldCut::kUtf8);  // "abあz": あ does not fit whole
  EXPECT_EQ(std::string(field), "ab");
  CopyField(field, "ab\xE3\x81\x82z", 4, FieldCut::kBytes);
  EXPECT_EQ(std::string(field), "ab\xE3\x81");
  CopyField(field, "ab\xE3\x81\x82z", 5, FieldCut::kUtf8);
  EXPECT_EQ(std::string(field), "ab\xE3\x81\x82");
  CopyField(field, "abc\xE3\x81\x82", 5, FieldCut::kUtf8);
  EXPECT_EQ(std::string(field), "abc");
  CopyField(field, "\xE3\x81\x82\xE3\x81\x82", 5, FieldCut::kUtf8);
  EXPECT_EQ(std::string(field), "\xE3\x81\x82");
}

}  // namespace
