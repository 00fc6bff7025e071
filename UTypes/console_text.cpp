// A message's text for a console that shows Unicode.
#include "console_text.h"

#include <cstdint>

#include "message_text.h"

namespace {

void AppendUtf16(std::u16string& out, char32_t character) {
  if (character < 0x10000) {
    out += static_cast<char16_t>(character);
    return;
  }
  const char32_t above = character - 0x10000;
  out += static_cast<char16_t>(0xD800 + (above >> 10));
  out += static_cast<char16_t>(0xDC00 + (above & 0x3FF));
}

char32_t CharacterOfByteAt(const CodePage& page, std::string_view text, std::size_t at) {
  return CharacterOfByte(page, static_cast<std::uint8_t>(text[at]));
}

// Appends the marked game text that starts after its start mark at `at`; returns where the text
// after its end mark begins.
std::size_t AppendGameText(std::string_view message, std::size_t at, const CodePage& page,
                           std::u16string& out) {
  while (at < message.size() && message[at] != kGameTextEnd) {
    if (message[at] == kGameTextEscape && at + 1 < message.size()) ++at;
    AppendUtf16(out, CharacterOfByteAt(page, message, at));
    ++at;
  }
  return at < message.size() ? at + 1 : at;
}

}  // namespace

std::u16string ConsoleTextOf(std::string_view message, const CodePage& page) {
  std::u16string text;
  text.reserve(message.size());
  std::size_t at = 0;
  while (at < message.size()) {
    const char c = message[at];
    if (c == kGameTextStart) {
      at = AppendGameText(message, at + 1, page, text);
      continue;
    }
    char32_t character = 0;
    const std::size_t length = DecodeUtf8Sequence(message, at, character);
    if (length == 0) {
      // ASCII, or a byte of the code page that no game text mark framed.
      AppendUtf16(text, CharacterOfByteAt(page, message, at));
      ++at;
    } else {
      AppendUtf16(text, character);
      at += length;
    }
  }
  return text;
}
