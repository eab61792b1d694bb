// Hostile and broken scripts: loading ends, the timeline is sorted and ends with its end event,
// and the error record tells what happened.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ScriptFixture.h"
#include "script/TagId.h"

namespace {

class BadInput : public ::testing::Test {
 protected:
  ScriptEngine e;
  CTimeLine& tl = e.tl;

  // The timeline is sorted and its last event is the end of the script.
  void ExpectWellFormed() {
    ASSERT_GT(tl.EventCount, 0);
    ASSERT_LE(tl.EventCount, kMaxEvents);
    for (int i = 1; i < tl.EventCount; ++i) {
      const CTimeDat& a = *tl.Events[i - 1];
      const CTimeDat& b = *tl.Events[i];
      ASSERT_TRUE(a.Tick < b.Tick || (a.Tick == b.Tick && a.OrderKey <= b.OrderKey)) << i;
    }
    EXPECT_EQ(tl.Events[tl.EventCount - 1]->Kind, kTagDataEnd);
  }
};

TEST_F(BadInput, BinaryGarbageAndNulBytes) {
  std::mt19937 rng(7);
  std::string junk;
  for (int i = 0; i < 200000; ++i) junk.push_back(static_cast<char>(rng()));
  std::string nul = "<DATA TITLE=t VERSION=1><IMAGE\0 TIME=1>";
  nul.append(std::string("a\0b<SOLID COLOR=\0RED>", 21));
  nul += "<CLEAR></DATA>";
  // Spaces and a line feed before the end, so that no open tag or comment swallows it.
  ASSERT_EQ(e.LoadFile(Script(junk + std::string(300, ' ') + "\n")), 0);
  ExpectWellFormed();
  ASSERT_EQ(e.LoadFile(nul), 0);
  ExpectWellFormed();
}

TEST_F(BadInput, HugeFileWithoutAClosingBracket) {
  const std::string body(1 << 20, 'x');
  ASSERT_EQ(e.LoadFile(Script("<IMAGE STRING=\"" + body + "<SOLID>")), 0);
  ExpectWellFormed();
  EXPECT_STREQ(tl.LastError.Message, "何らかの文法上の誤りがあります。");
  // The 256-byte cut leaves the quote open; the SOLID after the text is still found.
  EXPECT_EQ(tl.EventCount, 3);
}

TEST_F(BadInput, ManyTagsAndObjects) {
  std::string tags;
  for (int i = 0; i < 10000; ++i) tags += "<SOLID><CLEAR>";
  ASSERT_EQ(e.LoadFile(Script(tags)), 0);
  ExpectWellFormed();
  EXPECT_EQ(tl.EventCount, kMaxEvents);
  EXPECT_NE(std::string(tl.LastError.Message).find("2048"), std::string::npos);

  std::string images;
  for (int i = 0; i < 3000; ++i) images += "<IMAGE TIME=1 CONTRAST=FADEINOUT><SET XPOS=1>";
  ASSERT_EQ(e.LoadFile(Script(images)), 0);
  ExpectWellFormed();
}

TEST_F(BadInput, DeepFormatsAndLongLines) {
  std::string formats;
  for (int i = 0; i < 100; ++i) formats += "<FORMAT SIZE=12>a";
  for (int i = 0; i < 100; ++i) formats += "</FORMAT>";
  ASSERT_EQ(e.LoadFile(Script("<SCRTEXT>" + formats + std::string(10000, 'y') + "</SCRTEXT>")), 0);
  ExpectWellFormed();
  EXPECT_EQ(e.KindAt(1), kTagScrText);

  ASSERT_EQ(e.LoadFile(Script("<CAPTION>" + std::string(10000, 'z') + "<P></CAPTION>")), 0);
  ExpectWellFormed();
  EXPECT_EQ(e.KindAt(1), kTagCaption);
}

TEST_F(BadInput, UnterminatedQuoteInMemory) {
  e.Compile("<DATA TITLE=\"t VERSION=1><IMAGE TIME=1></DATA>");
  // The whole rest is one tag: a DATA whose title runs to the end, and no end event.
  ASSERT_EQ(tl.EventCount, 1);
  EXPECT_EQ(e.KindAt(0), kTagData);
}

// Every script that ever broke the loader stays here and loads cleanly (under the sanitizer
// build, any undefined behaviour on the way fails the test too).
TEST_F(BadInput, KeptMalformedScriptsLoad) {
  const std::filesystem::path dir = std::filesystem::path(ONDRELIX_TEST_DATA) / "malformed";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("script-", 0) != 0) continue;
    SCOPED_TRACE(name);
    std::ifstream f(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(e.LoadFile(bytes), 0);
    ExpectWellFormed();
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

TEST_F(BadInput, EmptyAndTagOnlyFiles) {
  ASSERT_EQ(e.LoadFile("<DATA TITLE=t VERSION=1></DATA>"), 0);
  ExpectWellFormed();
  EXPECT_EQ(tl.EventCount, 2);
  e.Compile("");
  EXPECT_EQ(tl.EventCount, 0);
  e.Compile("<");
  EXPECT_EQ(tl.EventCount, 0);
}

}  // namespace
