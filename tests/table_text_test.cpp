// Tests of tables read back: their lines, and what a spreadsheet may have done to them.
#include "table_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(TableTextTest, LinesEndAsTheHeaderRowEnds) {
  const struct {
    std::string bytes;
    std::vector<std::string> lines;
    std::string lineEnd;
  } cases[] = {
      {"H\r\na\r\nb\r\n", {"H", "a", "b"}, "\r\n"},
      {"H\r\na\nb\rc\r\n\r\n", {"H", "a\nb\rc", ""}, "\r\n"},  // breaks inside a text
      {"H\r\nlast", {"H", "last"}, "\r\n"},
      {"H\na\r\nb\n", {"H", "a\r", "b"}, "\n"},  // a spreadsheet on Linux
      {"", {}, "\n"},
  };
  for (const auto& c : cases) {
    const TableLines table = SplitTableLines(c.bytes);
    EXPECT_EQ(std::vector<std::string>(table.lines.begin(), table.lines.end()), c.lines);
    EXPECT_EQ(table.lineEnd, c.lineEnd);
  }
}

TEST(TableTextTest, StartsASpreadsheetChangedAreNamed) {
  const std::string header = "Name\tCode";
  const struct {
    std::string bytes;
    std::string problem;
  } cases[] = {
      {"Name\tCode\r\nx\r\n", ""},
      {"\xEF\xBB\xBFName\tCode\r\n", "UTF-8 byte order mark"},
      {"", "the table is empty"},
      {"\"Name\"\t\"Code\"\r\n", "wrapped in quotes"},
      {"Name,Code\r\n", "the tab as the only separator"},
      {"Name\tCode\tMore\r\n", "is not the one the unpacker writes"},
  };
  for (const auto& c : cases) {
    const std::string problem = TableStartProblem(c.bytes, SplitTableLines(c.bytes), header);
    EXPECT_EQ(problem.empty(), c.problem.empty()) << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

TEST(TableTextTest, Utf8IsToldFromSingleByteCodePages) {
  EXPECT_TRUE(LooksLikeUtf8("\xD0\x9F\xD1\x80\xD0\xB8"));   // Cyrillic in UTF-8
  EXPECT_TRUE(LooksLikeUtf8("a \xE2\x82\xAC b"));           // a three-byte sign
  EXPECT_FALSE(LooksLikeUtf8("\xCF\xF0\xE8\xE2\xE5\xF2"));  // Cyrillic in Windows-1251
  EXPECT_FALSE(LooksLikeUtf8("plain ASCII"));               // nothing to tell
  EXPECT_FALSE(LooksLikeUtf8("\xC3"));                      // cut short
  EXPECT_FALSE(LooksLikeUtf8("\xC0\x80"));                  // an overlong form
}

TEST(TableTextTest, EqualLinesHashAlikeAndOthersApart) {
  EXPECT_EQ(LineHash("Fireball\t12.5"), LineHash(std::string("Fireball\t12.5")));
  EXPECT_NE(LineHash(""), LineHash(std::string(1, '\0')));
  EXPECT_NE(LineHash("12345678"), LineHash("12345679"));
  EXPECT_NE(LineHash("123456789"), LineHash("123456788"));
}

}  // namespace
