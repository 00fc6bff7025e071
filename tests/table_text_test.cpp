// Tests of tables read back: their lines, and what a spreadsheet may have done to them.
#include "table_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kHeader = "H";

std::vector<std::string> IndexedLines(const std::string& bytes, TableIndex& index) {
  const TableSource source = MemoryTableSource(bytes);
  EXPECT_EQ(IndexTable(source, kHeader, index), "");
  LineReader reader = ReaderOfLines(source, index);
  std::vector<std::string> lines;
  for (std::size_t line = 0; line < LineCount(index); ++line) {
    lines.emplace_back(ReadLine(reader, line));
    EXPECT_EQ(index.hashes[line], LineHash(lines.back()));
  }
  return lines;
}

// The lines as a person reads the rule: the header row's end decides, CR LF or LF.
std::vector<std::string> ReferenceLines(const std::string& bytes) {
  const std::size_t feed = bytes.find('\n');
  const bool carriageReturns = feed != std::string::npos && feed > 0 && bytes[feed - 1] == '\r';
  const std::string end = carriageReturns ? "\r\n" : "\n";
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at = bytes.find(end); at != std::string::npos; at = bytes.find(end, start)) {
    lines.push_back(bytes.substr(start, at - start));
    start = at + end.size();
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  if (!lines.empty()) lines.erase(lines.begin());  // the header row
  return lines;
}

TEST(TableTextTest, LinesEndAsTheHeaderRowEnds) {
  const struct {
    std::string bytes;
    std::vector<std::string> lines;
    std::string lineEnd;
  } cases[] = {
      {"H\r\na\r\nb\r\n", {"a", "b"}, "\r\n"},
      {"H\r\na\nb\rc\r\n\r\n", {"a\nb\rc", ""}, "\r\n"},  // breaks inside a text
      {"H\r\nlast", {"last"}, "\r\n"},
      {"H\r\nlast\r", {"last\r"}, "\r\n"},
      {"H\na\r\nb\n", {"a\r", "b"}, "\n"},  // a spreadsheet on Linux
      {"H", {}, "\n"},
  };
  for (const auto& c : cases) {
    TableIndex index;
    EXPECT_EQ(IndexedLines(c.bytes, index), c.lines);
    EXPECT_EQ(index.lineEnd, c.lineEnd);
  }
}

// Line ends that straddle the pieces the table is read in split lines as they would whole.
TEST(TableTextTest, LinesFoundPieceByPieceAreTheLinesOfTheWhole) {
  std::mt19937 random(5);
  const std::string pieces[] = {"a", "bc", "\t", "\r", "\n", "\r\n", "defghijklmn", ""};
  for (const char* header : {"H\r\n", "H\n"}) {
    std::string bytes = header;
    while (bytes.size() < 700000)
      bytes += pieces[random() % std::size(pieces)];
    TableIndex index;
    EXPECT_EQ(IndexedLines(bytes, index), ReferenceLines(bytes));
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
      {"\xFF\xFEN\0a\0", "is in UTF-16"},
      {"\xFE\xFF\0N\0a", "is in UTF-16"},
      {"", "the table is empty"},
      {"\"Name\"\t\"Code\"\r\n", "wrapped in quotes"},
      {"Name,Code\r\n", "the tab as the only separator"},
      {"Name\tCode\tMore\r\n", "is not the one the unpacker writes"},
      {std::string(100000, 'x'), "has no tab"},  // only the start is read
  };
  for (const auto& c : cases) {
    TableIndex index;
    const std::string problem = IndexTable(MemoryTableSource(c.bytes), header, index);
    EXPECT_EQ(problem.empty(), c.problem.empty()) << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
}

// Lines that a stored text's line breaks split are joined again where they are its parts.
TEST(TableTextTest, SplitLinesJoinWhereTheyAreARecordsParts) {
  const std::string bytes = "H\r\nx\r\ntwo\r\nparts\r\ntwo\r\nother\r\ny\r\n";
  TableIndex index;
  IndexedLines(bytes, index);
  JoinSplitLines(index, {{LineHash("two"), LineHash("parts")}}, {LineHash("two\r\nparts")});
  const TableSource source = MemoryTableSource(bytes);
  LineReader reader = ReaderOfLines(source, index);
  ASSERT_EQ(LineCount(index), 5u);
  EXPECT_EQ(ReadLine(reader, 1), "two\r\nparts");
  EXPECT_EQ(index.hashes[1], LineHash("two\r\nparts"));
  EXPECT_EQ(ReadLine(reader, 2), "two");
  const std::size_t fileLines[] = {2, 3, 5, 6, 7};
  for (std::size_t line = 0; line < 5; ++line)
    EXPECT_EQ(FileLineOf(index, line), fileLines[line]);
}

TEST(TableTextTest, Utf8IsToldFromSingleByteCodePages) {
  EXPECT_TRUE(LooksLikeUtf8("\xD0\x9F\xD1\x80\xD0\xB8"));   // Cyrillic in UTF-8
  EXPECT_TRUE(LooksLikeUtf8("a \xE2\x82\xAC b"));           // a three-byte sign
  EXPECT_FALSE(LooksLikeUtf8("\xCF\xF0\xE8\xE2\xE5\xF2"));  // Cyrillic in Windows-1251
  EXPECT_FALSE(LooksLikeUtf8("plain ASCII"));               // nothing to tell
  EXPECT_FALSE(LooksLikeUtf8("\xC3"));                      // cut short
  EXPECT_FALSE(LooksLikeUtf8("\xC0\x80"));                  // an overlong form
}

TEST(TableTextTest, LinesHashAsTheirBytesHandedOverInAnyPieces) {
  const std::string line = "Fireball\t12.5\tthe text of a longer cell";
  for (std::size_t cut = 0; cut <= line.size(); ++cut) {
    LineHasher hasher;
    AddToLineHash(hasher, std::string_view(line).substr(0, cut));
    AddToLineHash(hasher, std::string_view(line).substr(cut));
    EXPECT_EQ(FinishLineHash(hasher), LineHash(line));
  }
  EXPECT_NE(LineHash(""), LineHash(std::string(1, '\0')));
  EXPECT_NE(LineHash("12345678"), LineHash("12345679"));
  EXPECT_NE(LineHash("123456789"), LineHash("123456788"));
}

}  // namespace
