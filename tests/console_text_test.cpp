// Tests of what a console that shows Unicode is given: UTF-8 and marked game texts as letters.
#include "console_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "code_page.h"
#include "message_text.h"

namespace {

// Game texts marked while a test runs, unmarked after it, as every other test expects them.
struct MarkedGameTexts {
  MarkedGameTexts() { MarkGameTexts(true); }
  ~MarkedGameTexts() { MarkGameTexts(false); }
  MarkedGameTexts(const MarkedGameTexts&) = delete;
  MarkedGameTexts& operator=(const MarkedGameTexts&) = delete;
};

const CodePage& Page(int number) {
  return *FindCodePage(number);
}

// A marked game text written out by hand: Shift Out, the bytes, Shift In (by appends, which
// GCC's 32-bit optimiser does not take for overlapping copies).
std::string Framed(std::string_view bytes) {
  std::string framed = "\x0E";
  framed += bytes;
  framed += '\x0F';
  return framed;
}

std::string InQuotes(std::string_view text) {
  std::string quoted = "\"";
  quoted += text;
  quoted += '"';
  return quoted;
}

// A message as it reads with its marks taken out, by the marks' own rule: Shift Out and Shift In
// dropped, Data Link Escape dropped before the byte it keeps.
std::string WithoutMarks(std::string_view message) {
  std::string bytes;
  for (std::size_t at = 0; at < message.size(); ++at) {
    if (message[at] == '\x0E' || message[at] == '\x0F') continue;
    if (message[at] == '\x10') ++at;
    if (at < message.size()) bytes += message[at];
  }
  return bytes;
}

// Cyrillic names in Windows-1251 ("Мёртвый маг": a capital and ё make a well-formed UTF-8
// sequence, so only the mark tells that it is a game text), UTF-8 around them, other code pages.
TEST(ConsoleTextTest, ShowsUtf8AndMarkedGameTextsAsTheirLetters) {
  const struct {
    int page;
    std::string message;
    std::u16string shown;
  } cases[] = {
      {1251, "", u""},
      {1251, "grimpack: wrote NEW (12 bytes)\r\n", u"grimpack: wrote NEW (12 bytes)\r\n"},
      // UTF-8 of paths: Cyrillic, Greek, CJK and a character beyond U+FFFF.
      {1251, "'\xD0\x97\xD0\xB0\xD0\xBA/\xCE\x9E\xCF\x8C/\xE5\x91\xAA/\xF0\x9F\x94\xA5.sdb'",
       u"'\u0417\u0430\u043A/\u039E\u03CC/\u546A/\U0001F525.sdb'"},
      {1251, InQuotes(Framed("\xCC\xB8\xF0\xF2\xE2\xFB\xE9 \xEC\xE0\xE3")),
       u"\"\u041C\u0451\u0440\u0442\u0432\u044B\u0439 \u043C\u0430\u0433\""},
      // The same bytes unmarked: the capital and ё read as one UTF-8 character.
      {1251, "\xCC\xB8\xF0", u"\u0338\u0440"},
      // Another code page: Greek, then Western European.
      {1253, Framed("\xC6\xF9\xF4\xE9\xDC"), u"\u0396\u03C9\u03C4\u03B9\u03AC"},
      {1252,
       Framed("Spr\xFC"
              "che \x80"),
       u"Spr\u00FCche \u20AC"},
      // A byte the code page leaves undefined shows its private-use stand-in.
      {1251, Framed("\x98"), u"\uF798"},
      // Mark bytes of the text itself come back through their escapes.
      {1251, Framed("a\x10\x0E\x10\x0F\x10\x10z"), u"a\u000E\u000F\u0010z"},
      // A game text whose end mark is missing runs to the end of the message.
      {1251, "x\x0E\xC0\xC1", u"x\u0410\u0411"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConsoleTextOf(c.message, Page(c.page)), c.shown) << c.message;
  }
}

// A byte that begins no well-formed UTF-8 outside a marked game text is a game text that reached
// the message unmarked: it shows as its letter of the code page, and so does each byte of a
// sequence that is overlong, a surrogate, beyond U+10FFFF or cut short.
TEST(ConsoleTextTest, BytesThatAreNotUtf8ShowAsTheirCodePageLetters) {
  const struct {
    std::string message;
    std::u16string shown;
  } cases[] = {
      {"\xCF\xEB\xE0\xEC\xFF", u"\u041F\u043B\u0430\u043C\u044F"},  // "Пламя"
      {"\xC0\xAF", u"\u0410\u0407"},                                // overlong '/'
      {"\xED\xA0\x80", u"\u043D\u00A0\u0402"},                      // a surrogate
      {"\xF4\x90\x80\x80", u"\u0444\u0452\u0402\u0402"},            // beyond U+10FFFF
      {"ok \xD0", u"ok \u0420"},                                    // cut short at the end
      {"\xD0\x97\xE0", u"\u0417\u0430"},                            // UTF-8, then a game byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConsoleTextOf(c.message, Page(1251)), c.shown) << c.message;
  }
}

// Unmarked, the quoting is what it always was; marked, each game text is framed inside its quotes
// and the marks taken out give back the unmarked bytes; a UTF-8 text is never marked.
TEST(ConsoleTextTest, QuotedGameTextsAreMarkedOnlyWhileTheRunMarksThem) {
  const std::string name = "\xCC\xB8\xF0\xF2\xE2\xFB\xE9";
  EXPECT_EQ(QuotedText(name), InQuotes(name));
  EXPECT_EQ(MarkedGameText(name), name);
  const MarkedGameTexts marked;
  EXPECT_EQ(QuotedText(name), InQuotes(Framed(name)));
  EXPECT_EQ(ShownText(name), Framed(name));
  EXPECT_EQ(QuotedText(std::string(61, 'x')),
            InQuotes(Framed(std::string(60, 'x')) + "...") + " (61 bytes)");
  EXPECT_EQ(ShownText(std::string(61, 'x')), Framed(std::string(60, 'x')) + "...");
  EXPECT_EQ(MarkedGameText("\x0E\x0F\x10"), Framed("\x10\x0E\x10\x0F\x10\x10"));
  EXPECT_EQ(QuotedUtf8Text("\xD0\x97"), "\"\xD0\x97\"");
}

// For every game text of random bytes in every code page: the marked quote, the marks taken out,
// is the unmarked quote, and a console shows each byte of the text as its character in the page
// wherever it stands in a UTF-8 message.
TEST(ConsoleTextTest, EveryGameTextShowsAsTheCharactersOfItsBytes) {
  std::mt19937 random(20261210);
  for (const int number : KnownCodePages()) {
    const CodePage& page = Page(number);
    for (int round = 0; round < 200; ++round) {
      std::string bytes(random() % 40, '\0');
      for (char& byte : bytes)
        byte = static_cast<char>(random() % 256);
      const std::string unmarked = QuotedText(bytes);
      std::string marked;
      {
        const MarkedGameTexts marking;
        marked = MarkedGameText(bytes);
        EXPECT_EQ(WithoutMarks(QuotedText(bytes)), unmarked);
      }
      std::u16string expected = u"\u0421: ";
      for (const char byte : bytes) {
        const char32_t character = CharacterOfByte(page, static_cast<std::uint8_t>(byte));
        ASSERT_LT(character, 0x10000u);
        expected += static_cast<char16_t>(character);
      }
      expected += u" \u00E9";
      std::string message = "\xD0\xA1: ";
      message += marked;
      message += " \xC3\xA9";
      EXPECT_EQ(ConsoleTextOf(message, page), expected) << number << " " << unmarked;
    }
  }
}

}  // namespace
