// Tests of the XML text writers: entities, the cell escape _xHHHH_ and its inverse.
#include "xml_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

namespace {

// A text and what a writer makes of it.
struct TextCase {
  std::string_view text;
  std::string_view written;
};

using namespace std::string_view_literals;

TEST(XmlTextTest, CellTextEscapesWhatXmlCannotHold) {
  const TextCase cases[] = {
      {"", ""},
      {"a&b<c>d", "a&amp;b&lt;c&gt;d"},
      {"tab\tand\nLF", "tab\tand\nLF"},
      {"CR\r\nLF", "CR_x000D_\nLF"},
      {"\0\x01\x08\x0B\x0C\x0E\x1F\x7F"sv, "_x0000__x0001__x0008__x000B__x000C__x000E__x001F_\x7F"},
      {"\xEF\xBF\xBE|\xEF\xBF\xBF", "_xFFFE_|_xFFFF_"},
      {"\xEF\xBF\xBD\xEF\xBB\xBF", "\xEF\xBF\xBD\xEF\xBB\xBF"},  // U+FFFD and U+FEFF are kept
      {"\xF0\x9F\x98\x80\xC3\xA9", "\xF0\x9F\x98\x80\xC3\xA9"},
      // Literal text that looks like an escape has its first underscore escaped.
      {"_x000D_", "_x005F_x000D_"},
      {"_x005F_", "_x005F_x005F_"},
      {"_x00aB_", "_x005F_x00aB_"},
      {"__x0041_", "__x005F_x0041_"},
      {"_x0041_x0042_", "_x005F_x0041_x005F_x0042_"},
      // ... and so does one that the escape of the character after it would complete.
      {"_x0041\r", "_x005F_x0041_x000D_"},
      {"_x0041\xEF\xBF\xBE", "_x005F_x0041_xFFFE_"},
      // Not an escape: too short, a non-hex digit, capital X, no closing underscore.
      {"_x00", "_x00"},
      {"_x004_", "_x004_"},
      {"_X0041_", "_X0041_"},
      {"_x0041", "_x0041"},
      {"_x0041\t", "_x0041\t"},
  };
  for (const TextCase& test : cases) {
    std::string out = "kept|";
    AppendCellText(out, test.text);
    EXPECT_EQ(out, "kept|" + std::string(test.written)) << test.text;
  }
}

// WriteCellText stays within the room it asks for, kMostCellTextGrowth bytes a byte, which a
// text of controls fills exactly, and writes nothing past what it returns.
TEST(XmlTextTest, WrittenCellTextStaysWithinItsRoom) {
  const std::string_view pieces[] = {"a", "\x01", "\r", "&", "_x0041_", "\xEF\xBF\xBE", "_"};
  std::mt19937 random(20261211);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    const bool controls = round % 10 == 0;
    for (int piece = length(random); piece > 0; --piece)
      text += controls ? "\x02" : pieces[pick(random)];
    constexpr char kGuard = '#';
    std::string room(kMostCellTextGrowth * text.size() + 8, kGuard);
    const char* const end = WriteCellText(text, room.data());
    const auto size = static_cast<std::size_t>(end - room.data());
    ASSERT_LE(size, kMostCellTextGrowth * text.size()) << text;
    if (controls) {
      EXPECT_EQ(size, kMostCellTextGrowth * text.size());
    }
    EXPECT_EQ(room.find_first_not_of(kGuard, size), std::string::npos) << text;
  }
}

TEST(XmlTextTest, UnescapingTurnsEscapesIntoCharacters) {
  const TextCase cases[] = {
      {"_x0041_", "A"},
      {"_x000d__x000D_", "\r\r"},
      {"_x0000_", "\0"sv},
      {"_x00E9_", "\xC3\xA9"},
      {"_xFFFE_", "\xEF\xBF\xBE"},
      {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},  // a surrogate pair joins
      {"_xD83D_", "_xD83D_"},                  // a lone surrogate stays as written
      {"_xDE00__xD83D_", "_xDE00__xD83D_"},    // a pair the wrong way round
      {"_xD83D__xD83D__xDE00_", "_xD83D_\xF0\x9F\x98\x80"},
      {"_xD83D__x0041_", "_xD83D_A"},
      {"_x005F_x0041_", "_x0041_"},
      {"__x0041_", "_A"},
      {"_X0041_", "_X0041_"},
      {"_x004_", "_x004_"},
      {"_x0041", "_x0041"},
  };
  for (const TextCase& test : cases) {
    std::string out = "kept|";
    AppendUnescapedCellText(out, test.text);
    EXPECT_EQ(out, "kept|" + std::string(test.written)) << test.text;
  }
}

TEST(XmlTextTest, AttributeTextUsesEntitiesAndCharacterReferences) {
  const TextCase cases[] = {
      {"a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e'f"},
      {"\t\n\r", "&#9;&#10;&#13;"},
      {"_x0041_\xC3\xA9", "_x0041_\xC3\xA9"},
  };
  for (const TextCase& test : cases) {
    std::string out = "kept|";
    AppendXmlAttributeText(out, test.text);
    EXPECT_EQ(out, "kept|" + std::string(test.written)) << test.text;
  }
}

// Decodes the three entities AppendCellText writes, as an XML reader would; false when an '&'
// starts anything else.
bool DecodeCellEntities(std::string_view text, std::string& decoded) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '&') {
      decoded += text[at];
      continue;
    }
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("&amp;"))
      decoded += '&', at += 4;
    else if (rest.starts_with("&lt;"))
      decoded += '<', at += 3;
    else if (rest.starts_with("&gt;"))
      decoded += '>', at += 3;
    else
      return false;
  }
  return true;
}

// True when the bytes are ones XML 1.0 content can carry unchanged: no control but tab and LF,
// no CR, no U+FFFE or U+FFFF, no markup character.
bool XmlCanCarry(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 && byte != '\t' && byte != '\n') return false;
    if (byte == '<' || byte == '>') return false;
    if (byte == 0xEF && text.substr(at + 1, 1) == "\xBF" &&
        (text.substr(at + 2, 1) == "\xBE" || text.substr(at + 2, 1) == "\xBF")) {
      return false;
    }
  }
  return true;
}

// Every valid UTF-8 text, written and read back through entities and the escape, is itself, and
// its written form is one XML can carry.
TEST(XmlTextTest, CellTextRoundTripsForRandomTexts) {
  const std::string_view alphabet[] = {
      "_", "_", "x", "x", "X", "0", "0", "D", "d", "F", "5", "a", "\r", "\n", "\t", "\x01", "\0"sv,
      "\x1F", "&", "<", ">", "A", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBE",
      "\xEF\xBF\xBF", "\xEF\xBF\xBD", "_x", "_x00", "_x005F_", "_xD83D_",
      // Runs copied eight bytes at a time, and bytes near the special ones that are not.
      "ordinary text, long enough", " =?;^`\x7F\xEE\x80\x80 ", "abcdefgh"};
  std::mt19937 random(20261210);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int piece = length(random); piece > 0; --piece)
      text += alphabet[pick(random)];
    std::string written;
    AppendCellText(written, text);
    ASSERT_TRUE(XmlCanCarry(written)) << written;
    std::string decoded;
    ASSERT_TRUE(DecodeCellEntities(written, decoded)) << written;
    std::string back;
    AppendUnescapedCellText(back, decoded);
    ASSERT_EQ(back, text) << written;
  }
}

}  // namespace
