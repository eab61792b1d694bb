// The reader: characters, escapes and comments, tag text from files and memory, tokenising.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ScriptFixture.h"
#include "script/ScriptReader.h"
#include "script/TagId.h"

namespace {

// Every text character up to the first tag start (or the end), and whether a tag started.
std::string Chars(ScriptSource& src, bool* tag) {
  std::string out;
  for (;;) {
    const int c = src.ReadChar(tag);
    if (c == kReadEnd || *tag) return out;
    out.push_back(static_cast<char>(c));
  }
}

TagRecord Parse(std::string text, bool* ok = nullptr) {
  TagRecord r;
  const bool parsed = ParseTag(text, &r);
  if (ok) *ok = parsed;
  return r;
}

TEST(ScriptReader, EscapesCommentsAndLineFeeds) {
  ScriptSource src;
  src.OpenText("a<<b<#c#hidden <TAG>\nd\ne<X>");
  bool tag = false;
  EXPECT_EQ(Chars(src, &tag), "a<b#cde");
  ASSERT_TRUE(tag);
  EXPECT_EQ(src.ReadTagText(), "<X>");
  EXPECT_EQ(src.ReadChar(&tag), kReadEnd);
}

TEST(ScriptReader, CommentToTheEndOfTheSourceEndsReading) {
  ScriptSource src;
  src.OpenText("ab#no line feed <DATA>");
  bool tag = false;
  EXPECT_EQ(Chars(src, &tag), "ab");
  EXPECT_FALSE(tag);
}

TEST(ScriptReader, FileDropsCarriageReturnBeforeLineFeedOnly) {
  TempFolder dir;
  const std::string path = dir.Write("s.txt", "a\r\nb\rc\r\n<IMAGE\r\nFILE=x>");
  ScriptSource src;
  ASSERT_TRUE(src.OpenFile(path));
  bool tag = false;
  EXPECT_EQ(Chars(src, &tag), "ab\rc");
  ASSERT_TRUE(tag);
  EXPECT_EQ(src.Tell(), 8u);  // a real byte offset of the "<"
  EXPECT_EQ(src.ReadTagText(), "<IMAGEFILE=x>");
  int line = 0, column = 0;
  src.LineColumn(src.TagOffset(), &line, &column);
  EXPECT_EQ(line, 3);
  EXPECT_EQ(column, 1);
}

// Every offset, in any order, against a count of the line feeds before it; a second text
// opened in the same source must not be answered from the first one's lines.
TEST(ScriptReader, LineAndColumnOfEveryOffset) {
  ScriptSource src;
  for (const char* text : {"\n\nab\n<X>\ncd", "one line only", "x\n", ""}) {
    src.OpenText(text);
    const std::string t(text);
    for (std::size_t k = 0; k <= t.size() + 2; ++k) {
      const std::size_t offset = (k * 7) % (t.size() + 3);  // jumps back and forth
      const std::size_t end = std::min(offset, t.size());
      const std::size_t lf = t.rfind('\n', end == 0 ? std::string::npos : end - 1);
      const int wantLine = 1 + static_cast<int>(std::count(t.begin(), t.begin() + end, '\n'));
      const int wantColumn = static_cast<int>(end - (lf == std::string::npos || end == 0 ? 0 : lf + 1)) + 1;
      int line = 0, column = 0;
      src.LineColumn(offset, &line, &column);
      EXPECT_EQ(line, wantLine) << '"' << t << "\" at " << offset;
      EXPECT_EQ(column, wantColumn) << '"' << t << "\" at " << offset;
    }
  }
}

TEST(ScriptReader, QuotedGreaterThanDoesNotEndTheTag) {
  ScriptSource src;
  src.OpenText("<IMAGE STRING=\"a>b\" TIME=1>rest");
  bool tag = false;
  src.ReadChar(&tag);
  ASSERT_TRUE(tag);
  std::string text = src.ReadTagText();
  EXPECT_EQ(text, "<IMAGE STRING=\"a>b\" TIME=1>");
  TagRecord r;
  ASSERT_TRUE(ParseTag(text, &r));
  EXPECT_EQ(r.Attrs[0].ValueText(), "a>b");
  EXPECT_EQ(r.Attrs[1].ValueText(), "1");
}

TEST(ScriptReader, LongTagIsCutAt256BytesFromFilesOnly) {
  const std::string tag = "<IMAGE STRING=\"" + std::string(300, 'x') + "\">";
  TempFolder dir;
  ScriptSource file;
  ASSERT_TRUE(file.OpenFile(dir.Write("s.txt", tag + "<CLEAR>")));
  bool isTag = false;
  file.ReadChar(&isTag);
  std::string text = file.ReadTagText();
  EXPECT_EQ(text.size(), 256u);
  TagRecord r;
  ParseFailure why;
  EXPECT_FALSE(ParseTag(text, &r, &why));
  EXPECT_EQ(why, ParseFailure::kNoClosing);
  // The rest of the cut tag is read as text, and the next tag is found after it.
  EXPECT_EQ(Chars(file, &isTag), std::string(300 - 241, 'x') + "\">");
  EXPECT_TRUE(isTag);

  ScriptSource mem;
  mem.OpenText(tag.c_str());
  mem.ReadChar(&isTag);
  text = mem.ReadTagText();
  EXPECT_EQ(text, tag);
  ASSERT_TRUE(ParseTag(text, &r));
  EXPECT_EQ(r.Attrs[0].ValueView().size(), 128u);  // cut at the slot, never past it
}

TEST(ScriptReader, UnterminatedQuoteRunsToTheEnd) {
  ScriptSource src;
  src.OpenText("<IMAGE STRING=\"abc> <CLEAR>");
  bool tag = false;
  src.ReadChar(&tag);
  EXPECT_EQ(src.ReadTagText(), "<IMAGE STRING=\"abc> <CLEAR>");
  EXPECT_EQ(src.ReadChar(&tag), kReadEnd);
}

TEST(ParseTag, NamesAreUpperCasedAndLookedUp) {
  bool ok = false;
  TagRecord r = Parse("<image file=a.bmp>", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(r.TagId, kTagImage);
  EXPECT_TRUE(r.Attrs[0].Is("FILE"));
  EXPECT_EQ(r.Attrs[0].ValueText(), "A.BMP");

  r = Parse("<BR >", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.TagId, kTagBr);
  EXPECT_TRUE(r.Attrs[0].Empty());

  Parse("<SCHEDULE_I>", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Parse("<shcedule_i>", &ok).TagId, kTagScheduleI);
  EXPECT_TRUE(ok);
  Parse("<NONE>", &ok);
  EXPECT_FALSE(ok);
  Parse("DATA>", &ok);
  EXPECT_FALSE(ok);
  Parse("<ABCDEFGHIJKLMNOPQRSTU>", &ok);  // 21 name bytes
  EXPECT_FALSE(ok);
  Parse("<IMAGE FILE=a", &ok);  // no ">" after the attributes
  EXPECT_FALSE(ok);
  Parse("<CLEAR", &ok);  // no attributes: nothing else is checked
  EXPECT_TRUE(ok);
}

TEST(ParseTag, QuotingKeepsCaseAndSpaces) {
  TagRecord r = Parse("<IMAGE FILE=\"a b.bmp\" string=Mixed\"Quo ted\"tail>");
  EXPECT_EQ(r.Attrs[0].ValueText(), "a b.bmp");
  EXPECT_TRUE(r.Attrs[1].Is("STRING"));
  EXPECT_EQ(r.Attrs[1].ValueText(), "MIXEDQuo ted");
  EXPECT_TRUE(r.Attrs[2].Is("TAIL"));  // the word after the closing quote starts a slot
  EXPECT_EQ(r.Attrs[2].ValueText(), "");
}

TEST(ParseTag, SpacesEqualsAndBareNames) {
  TagRecord r = Parse("<CLOCK SET = 2 MOVE FLAG X=1=2>");
  EXPECT_TRUE(r.Attrs[0].Is("SET"));
  EXPECT_EQ(r.Attrs[0].ValueText(), "2");
  EXPECT_TRUE(r.Attrs[1].Is("MOVE"));
  EXPECT_EQ(r.Attrs[1].ValueText(), "");
  EXPECT_TRUE(r.Attrs[2].Is("FLAG"));
  EXPECT_TRUE(r.Attrs[3].Is("X"));
  EXPECT_EQ(r.Attrs[3].ValueText(), "2");  // "=" restarts the value
  // A tab is an ordinary byte.
  r = Parse("<CLOCK SET=1\tMOVE>");
  EXPECT_EQ(r.Attrs[0].ValueText(), "1\tMOVE");
}

TEST(ParseTag, SlotLimits) {
  TagRecord r = Parse("<IMAGE ABCDEFGHIJ=5>");
  EXPECT_EQ(r.Attrs[0].NameView(), "ABCDEFGHIJ");  // fills the slot, no terminating zero
  EXPECT_FALSE(r.Attrs[0].Is("ABCDEFGHI"));
  EXPECT_EQ(r.Attrs[1].NameView(), "");
  EXPECT_EQ(r.Attrs[1].ValueText(), "5");

  r = Parse("<IMAGE A=1 B=2 C=3 D=4 E=5 F=6 G=7 H=8 I=9 J=10 K=11>");
  EXPECT_TRUE(r.Attrs[9].Is("J"));
  EXPECT_EQ(r.Attrs[9].ValueText(), "10");  // the eleventh is ignored
}

TEST(ParseTag, UpperCasingIsBytewiseOutsideQuotes) {
  // 0x82 0x61 is a double-byte character whose second byte is "a": unquoted it changes.
  TagRecord r = Parse("<IMAGE STRING=\x82\x61 FILE=\"\x82\x61\">");
  EXPECT_EQ(r.Attrs[0].ValueText(), "\x82\x41");
  EXPECT_EQ(r.Attrs[1].ValueText(), "\x82\x61");
}

}  // namespace
