// The Windows single-byte code pages of the game's texts, and their conversion to and from UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The code page of the game's texts unless the user names another.
inline constexpr int kDefaultCodePage = 1251;

// A byte the code page leaves undefined stands for this private-use character plus the byte, so
// that every byte value comes back: byte 0x98 of 1251 is U+F798.
inline constexpr char32_t kUndefinedByteBase = 0xF700;

// One character of a code page's upper half and the byte that stands for it.
struct CharacterByte {
  char16_t character = 0;
  std::uint8_t byte = 0;
};

// A character's UTF-8, one to three bytes.
struct Utf8Character {
  std::uint8_t length = 0;
  char bytes[3] = {};
};

// One Windows single-byte code page: the character of each byte from 0x80 to 0xFF (bytes 0x00 to
// 0x7F are ASCII in every page). All tables are built at compile time.
struct CodePage {
  int number = 0;
  const std::array<char16_t, 128>* upperHalf = nullptr;         // 0 where the byte is undefined
  const std::array<CharacterByte, 256>* byCharacter = nullptr;  // hashed, for the way back
  const std::array<Utf8Character, 128>* utf8OfUpperHalf = nullptr;
};

// The code page of that number, or null: 874 and 1250 to 1258.
const CodePage* FindCodePage(int number);

// The numbers that FindCodePage knows, ascending (for usage texts).
std::span<const int> KnownCodePages();

// The numbers of the known code pages, separated by spaces ("874 1250 ... 1258"), for messages.
std::string KnownCodePagesText();

// The character a byte stands for; an undefined byte gives kUndefinedByteBase + byte.
char32_t CharacterOfByte(const CodePage& page, std::uint8_t byte);

// Whether every byte is ASCII (below 0x80): such bytes are their own UTF-8 in every code page.
bool IsAscii(std::string_view bytes);

// Appends the UTF-8 of `bytes` read in the code page (ASCII runs are copied in one piece).
// Allocates at most once; throws std::length_error where the UTF-8 exceeds the string's maximum.
void AppendUtf8OfBytes(const CodePage& page, std::string_view bytes, std::string& utf8);

// Why UTF-8 text cannot go back into a code page: the character it cannot hold, or for invalid
// UTF-8 the first byte of the ill-formed sequence (invalidUtf8 set), and the byte offset of that
// character or sequence in the UTF-8 text.
struct CodePageMiss {
  std::size_t offset = 0;
  char32_t character = 0;
  bool invalidUtf8 = false;
};

// Appends the bytes of `utf8` in the code page: each character the page holds becomes its byte,
// kUndefinedByteBase + b becomes b where b is undefined in this page. UTF-8 must be well formed
// (no overlong form, surrogate, character beyond U+10FFFF or truncated sequence). Returns false
// at the first character the page cannot hold or the first ill-formed sequence, with `miss`
// saying which; `bytes` then holds the bytes of the text before it. Allocates at most once;
// throws std::length_error where `bytes` cannot grow by the length of `utf8`.
bool AppendBytesOfUtf8(const CodePage& page, std::string_view utf8, std::string& bytes,
                       CodePageMiss& miss);

// The length of the well-formed UTF-8 sequence of two to four bytes at `at` (no overlong form,
// surrogate or value beyond U+10FFFF), with its character; 0 when the sequence there is ill
// formed, cut short by the end of the text, or a single byte.
std::size_t DecodeUtf8Sequence(std::string_view text, std::size_t at, char32_t& character);

// Appends the UTF-8 of one character (at most U+10FFFF, no surrogate); any other value appends
// the replacement character U+FFFD.
void AppendUtf8(std::string& out, char32_t character);

// The character's name for a message: "U+4E2D '中'", the character itself in UTF-8 after its
// number, at least four hex digits; a control (U+0000 to U+001F, U+007F to U+009F), a surrogate or
// a value beyond U+10FFFF has its number alone: "U+0007".
std::string CharacterName(char32_t character);
