// Tests of the code pages: every byte comes back, glibc's iconv agrees, UTF-8 is checked.
#include "code_page.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef __linux__
#include <iconv.h>
#endif

namespace {

// The UTF-8 of `bytes`, appended after "pre" to show that what was there stays.
std::string Utf8OfBytes(const CodePage& page, std::string_view bytes) {
  std::string utf8 = "pre";
  AppendUtf8OfBytes(page, bytes, utf8);
  return utf8.substr(3);
}

std::string Utf8Of(char32_t character) {
  std::string utf8;
  AppendUtf8(utf8, character);
  return utf8;
}

// The way back of one text, appended after "pre" to show that what was there stays.
struct WayBack {
  bool held = false;
  std::string bytes;
  CodePageMiss miss;
};

WayBack BytesOfUtf8(const CodePage& page, std::string_view utf8) {
  WayBack back;
  back.bytes = "pre";
  back.held = AppendBytesOfUtf8(page, utf8, back.bytes, back.miss);
  back.bytes.erase(0, 3);
  return back;
}

// A random number from 0 to below - 1.
std::uint32_t RandomBelow(std::mt19937& random, std::uint32_t below) {
  return static_cast<std::uint32_t>(random() % below);
}

std::string AllBytes() {
  std::string bytes;
  for (int byte = 0; byte < 256; ++byte)
    bytes += static_cast<char>(byte);
  return bytes;
}

TEST(CodePageTest, FindsKnownPagesOnly) {
  const std::vector<int> known(KnownCodePages().begin(), KnownCodePages().end());
  EXPECT_EQ(known, (std::vector<int>{874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}));
  for (const int number : known) {
    ASSERT_NE(FindCodePage(number), nullptr) << number;
    EXPECT_EQ(FindCodePage(number)->number, number);
  }
  ASSERT_NE(FindCodePage(kDefaultCodePage), nullptr);
  for (const int number : {0, -1251, 437, 1249, 1259, 65001})
    EXPECT_EQ(FindCodePage(number), nullptr) << number;
}

TEST(CodePageTest, EveryByteStringComesBack) {
  std::mt19937 random(1251);
  for (const int number : KnownCodePages()) {
    const CodePage& page = *FindCodePage(number);
    std::vector<std::string> texts = {AllBytes()};
    for (int count = 0; count < 500; ++count) {
      // Half the texts mostly ASCII, so that runs of all lengths occur, even long ones.
      const std::uint32_t asciiChance = count % 2 == 0 ? 2 : 20;
      std::string bytes(RandomBelow(random, 40), '\0');
      for (char& byte : bytes)
        byte =
            static_cast<char>(RandomBelow(random, asciiChance) != 0 ? RandomBelow(random, 0x80)
                                                                    : RandomBelow(random, 0x100));
      texts.push_back(bytes);
    }
    for (const std::string& bytes : texts) {
      const WayBack back = BytesOfUtf8(page, Utf8OfBytes(page, bytes));
      EXPECT_TRUE(back.held) << number;
      EXPECT_EQ(back.bytes, bytes) << number;
    }
  }
}

TEST(CodePageTest, TellsAsciiByEveryByte) {
  std::mt19937 random(20);
  for (std::size_t length = 0; length <= 26; ++length) {
    std::string bytes(length, '\0');
    for (char& byte : bytes)
      byte = static_cast<char>(RandomBelow(random, 0x80));
    EXPECT_TRUE(IsAscii(bytes)) << length;
    // One byte beyond ASCII anywhere, in or after the eight-byte blocks.
    for (std::size_t at = 0; at < length; ++at) {
      for (const int high : {0x80, 0xFF, static_cast<int>(0x80 + RandomBelow(random, 0x80))}) {
        std::string marked = bytes;
        marked[at] = static_cast<char>(high);
        EXPECT_FALSE(IsAscii(marked)) << length << " at " << at << " byte " << high;
      }
    }
  }
}

TEST(CodePageTest, HoldsExactlyTheCharactersOfItsBytes) {
  for (const int number : KnownCodePages()) {
    const CodePage& page = *FindCodePage(number);
    std::map<char32_t, char> byteOf;
    for (const char byte : AllBytes())
      byteOf[CharacterOfByte(page, static_cast<std::uint8_t>(byte))] = byte;
    ASSERT_EQ(byteOf.size(), 256u) << number;
    for (char32_t character = 0; character <= 0x10FFFF; character += character < 0x10000 ? 1 : 97) {
      if (character >= 0xD800 && character <= 0xDFFF) continue;
      const WayBack back = BytesOfUtf8(page, Utf8Of(character));
      const auto held = byteOf.find(character);
      const std::string name = std::to_string(number) + " " + CharacterName(character);
      if (held != byteOf.end())
        EXPECT_TRUE(back.held && back.bytes == std::string(1, held->second)) << name;
      else
        EXPECT_TRUE(!back.held && back.miss.character == character && back.miss.offset == 0)
            << name;
    }
  }
}

TEST(CodePageTest, RefusesWhatThePageCannotHold) {
  struct Case {
    int page;
    const char* utf8;
    std::size_t offset;
    char32_t character;
    const char* bytesBefore;
  };
  const Case cases[] = {
      {1251, "ab\u4E2D", 2, 0x4E2D, "ab"},       {1252, "x\u0416y", 1, 0x0416, "x"},
      {1252, "\uF798", 0, 0xF798, ""},           {1256, "\u00E9\uF781", 2, 0xF781, "\xE9"},
      {1251, "\u0416\u00E9", 2, 0x00E9, "\xC6"}, {1251, "\u0081", 0, 0x0081, ""},
      {1250, "\U0001F600", 0, 0x1F600, ""},      {874, "\u0E01\u0E3B", 3, 0x0E3B, "\xA1"},
  };
  for (const Case& c : cases) {
    const WayBack back = BytesOfUtf8(*FindCodePage(c.page), c.utf8);
    EXPECT_FALSE(back.held) << c.page << " " << c.utf8;
    EXPECT_EQ(back.miss.offset, c.offset) << c.utf8;
    EXPECT_EQ(back.miss.character, c.character) << c.utf8;
    EXPECT_FALSE(back.miss.invalidUtf8) << c.utf8;
    EXPECT_EQ(back.bytes, c.bytesBefore) << c.utf8;
  }
  // Byte 0x98 is undefined in 1251 only.
  EXPECT_EQ(Utf8OfBytes(*FindCodePage(1251), "\x98\xC6"), "\uF798\u0416");
  const WayBack undefined = BytesOfUtf8(*FindCodePage(1251), "\uF798\u0416");
  EXPECT_TRUE(undefined.held);
  EXPECT_EQ(undefined.bytes, "\x98\xC6");
}

TEST(CodePageTest, RefusesInvalidUtf8AtItsFirstByte) {
  struct Case {
    std::string_view utf8;
    std::size_t offset;
  };
  const Case cases[] = {
      {"\xC0\xAF", 0},      {"\xC1\xBF", 0},     {"a\xE0\x80\xAF", 1},    {"\xF0\x8F\xBF\xBF", 0},
      {"a\xED\xA0\x80", 1}, {"\xED\xBF\xBF", 0}, {"\xF4\x90\x80\x80", 0}, {"\xF5\x80\x80\x80", 0},
      {"\xFF", 0},          {"ab\x80", 2},       {"\xE3\x81\x41", 0},     {"abcdefgh\xD0", 8},
      {"ab\xE2\x82", 2},    {"\xF0\x9F\x98", 0}, {"ok\xF4\x8F\xBF", 2},
  };
  for (const Case& c : cases) {
    const WayBack back = BytesOfUtf8(*FindCodePage(1252), c.utf8);
    EXPECT_FALSE(back.held) << c.offset;
    EXPECT_TRUE(back.miss.invalidUtf8) << c.offset;
    EXPECT_EQ(back.miss.offset, c.offset);
    EXPECT_EQ(back.miss.character, static_cast<std::uint8_t>(c.utf8[c.offset]));
    EXPECT_EQ(back.bytes, c.utf8.substr(0, c.offset));
  }
}

TEST(CodePageTest, NamesCharacters) {
  const std::pair<char32_t, std::string_view> cases[] = {
      {0x4E2D, "U+4E2D '\u4E2D'"},
      {0x41, "U+0041 'A'"},
      {0x0416, "U+0416 '\u0416'"},
      {0x00A0, "U+00A0 '\u00A0'"},
      {0x1F600, "U+1F600 '\U0001F600'"},
      {0x0, "U+0000"},
      {0x7, "U+0007"},
      {0x1F, "U+001F"},
      {0x7F, "U+007F"},
      {0x9F, "U+009F"},
      {0xD800, "U+D800"},
      {0x110000, "U+110000"},
  };
  for (const auto& [character, name] : cases)
    EXPECT_EQ(CharacterName(character), name);
  EXPECT_EQ(Utf8Of(0xDFFF), "\uFFFD");
  EXPECT_EQ(Utf8Of(0x110000), "\uFFFD");
}

#ifdef __linux__
// What glibc's iconv makes of `input`: its output, and the input offset where it stopped.
struct Converted {
  std::string output;
  std::size_t stop = 0;
};

Converted Convert(iconv_t converter, std::string input) {
  std::string output(4 * input.size() + 16, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t inLeft = input.size();
  std::size_t outLeft = output.size();
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1))
    iconv(converter, nullptr, nullptr, &out, &outLeft);  // pages that wait for combining marks
  output.resize(output.size() - outLeft);
  return {output, input.size() - inLeft};
}

bool IsOpen(iconv_t converter) {
  return converter != reinterpret_cast<iconv_t>(-1);
}

// A converter from the code page to UTF-8, under either of glibc's names for it.
iconv_t OpenCodePageToUtf8(int number) {
  for (const char* prefix : {"CP", "WINDOWS-"}) {
    std::string name = prefix;
    name += std::to_string(number);
    const iconv_t converter = iconv_open("UTF-8", name.c_str());
    if (IsOpen(converter)) return converter;
  }
  return reinterpret_cast<iconv_t>(-1);
}

// Appends a character in UTF-32LE, the form iconv gives.
void AppendUtf32(std::string& utf32, char32_t character) {
  for (int shift = 0; shift < 32; shift += 8)
    utf32 += static_cast<char>((character >> shift) & 0xFF);
}
#endif

TEST(CodePageTest, AgreesWithIconvOnEveryByte) {
#ifndef __linux__
  GTEST_SKIP() << "glibc's iconv is the independent converter";
#else
  std::string lacking;
  for (const int number : KnownCodePages()) {
    const iconv_t converter = OpenCodePageToUtf8(number);
    if (!IsOpen(converter)) {
      lacking += " " + std::to_string(number);
      continue;
    }
    const CodePage& page = *FindCodePage(number);
    for (const char byte : AllBytes()) {
      const Converted converted = Convert(converter, std::string(1, byte));
      const auto value = static_cast<std::uint8_t>(byte);
      if (converted.stop == 1)
        EXPECT_EQ(Utf8OfBytes(page, std::string(1, byte)), converted.output)
            << number << " byte " << int{value};
      else  // undefined in iconv too
        EXPECT_EQ(CharacterOfByte(page, value), kUndefinedByteBase + value)
            << number << " byte " << int{value};
    }
    iconv_close(converter);
  }
  if (!lacking.empty()) GTEST_SKIP() << "iconv lacks code pages" << lacking;
#endif
}

TEST(CodePageTest, DecodesUtf8AsIconvDoes) {
#ifndef __linux__
  GTEST_SKIP() << "glibc's iconv is the independent converter";
#else
  const iconv_t toUtf8 = iconv_open("UTF-8", "UTF-32LE");
  const iconv_t fromUtf8 = iconv_open("UTF-32LE", "UTF-8");
  ASSERT_TRUE(IsOpen(toUtf8) && IsOpen(fromUtf8));
  // Every character's UTF-8, in one piece.
  std::string utf32;
  std::string utf8;
  for (char32_t character = 0; character <= 0x10FFFF; ++character) {
    if (character >= 0xD800 && character <= 0xDFFF) continue;
    AppendUtf32(utf32, character);
    AppendUtf8(utf8, character);
  }
  EXPECT_TRUE(Convert(toUtf8, utf32).output == utf8);
  // Texts of valid, cut and stray pieces, read character by character: misses are skipped.
  const CodePage& page = *FindCodePage(1252);
  std::mt19937 random(65001);
  const std::uint8_t strays[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  for (int count = 0; count < 20000; ++count) {
    std::string text;
    for (std::uint32_t piece = RandomBelow(random, 6); piece > 0; --piece) {
      const std::uint32_t top[] = {0x80, 0x800, 0x10000, 0x110000};  // each UTF-8 length alike
      const std::string valid = Utf8Of(RandomBelow(random, top[RandomBelow(random, 4)]));
      const std::uint32_t kind = RandomBelow(random, 3);
      text += kind == 0 ? valid : kind == 1 ? valid.substr(1) : valid.substr(0, valid.size() - 1);
      if (RandomBelow(random, 4) == 0)
        text += static_cast<char>(
            strays[RandomBelow(random, static_cast<std::uint32_t>(std::size(strays)))]);
    }
    std::string characters;
    std::size_t at = 0;
    for (bool more = true; more;) {
      const WayBack back = BytesOfUtf8(page, std::string_view(text).substr(at));
      for (const char byte : back.bytes)
        AppendUtf32(characters, CharacterOfByte(page, static_cast<std::uint8_t>(byte)));
      more = !back.held && !back.miss.invalidUtf8;
      at = back.held ? text.size() : at + back.miss.offset;
      if (more) {
        AppendUtf32(characters, back.miss.character);
        at += Utf8Of(back.miss.character).size();
      }
    }
    const Converted expected = Convert(fromUtf8, text);
    EXPECT_EQ(at, expected.stop) << testing::PrintToString(text);
    EXPECT_TRUE(characters == expected.output) << testing::PrintToString(text);
  }
  iconv_close(toUtf8);
  iconv_close(fromUtf8);
#endif
}

}  // namespace
