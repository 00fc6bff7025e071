// Windows-1251 text from UTF-8 source text, for the sample databases' Cyrillic names.
#include "code_page_text.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Decodes the UTF-8 character at `at` (one to three bytes) and moves past it.
std::uint32_t NextCodePoint(std::string_view utf8, std::size_t& at) {
  const auto lead = static_cast<std::uint8_t>(utf8[at++]);
  if (lead < 0x80) return lead;
  const int trailing = lead >= 0xE0 ? 2 : 1;
  std::uint32_t codePoint = lead & (trailing == 2 ? 0x0Fu : 0x1Fu);
  for (int index = 0; index < trailing; ++index) {
    if (at >= utf8.size()) std::abort();
    codePoint = (codePoint << 6) | (static_cast<std::uint8_t>(utf8[at++]) & 0x3Fu);
  }
  return codePoint;
}

char Cp1251Byte(std::uint32_t codePoint) {
  if (codePoint < 0x80) return static_cast<char>(codePoint);
  if (codePoint >= 0x410 && codePoint <= 0x44F) return static_cast<char>(0xC0 + codePoint - 0x410);
  if (codePoint == 0x401) return static_cast<char>(0xA8);
  if (codePoint == 0x451) return static_cast<char>(0xB8);
  std::abort();
}

}  // namespace

std::string Cp1251FromUtf8(std::string_view utf8) {
  std::string bytes;
  std::size_t at = 0;
  while (at < utf8.size())
    bytes += Cp1251Byte(NextCodePoint(utf8, at));
  return bytes;
}
