// Texts as messages quote them.
#include "message_text.h"

#include <cstdint>

std::string EscapedText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

namespace {

// EscapedText, with the other control bytes (NUL among them) as \xHH, which a terminal would
// otherwise take or hide.
std::string MessageText(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown;
  for (char c : EscapedText(text)) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
    } else {
      shown += "\\x";
      shown += kDigits[byte >> 4];
      shown += kDigits[byte & 15];
    }
  }
  return shown;
}

bool gameTextsMarked = false;

// A text quoted as a message quotes it, its shown part passed through `mark`.
std::string Quoted(std::string_view text, std::string (*mark)(std::string_view)) {
  if (text.size() <= kLongestQuote) return '"' + mark(MessageText(text)) + '"';
  std::string quoted = "\"";
  quoted += mark(MessageText(text.substr(0, kLongestQuote)));
  quoted += "...\" (";
  quoted += std::to_string(text.size());
  quoted += " bytes)";
  return quoted;
}

std::string Unmarked(std::string_view text) {
  return std::string(text);
}

}  // namespace

void MarkGameTexts(bool marked) {
  gameTextsMarked = marked;
}

std::string MarkedGameText(std::string_view text) {
  if (!gameTextsMarked) return std::string(text);
  std::string marked(1, kGameTextStart);
  for (const char c : text) {
    if (c == kGameTextStart || c == kGameTextEnd || c == kGameTextEscape) marked += kGameTextEscape;
    marked += c;
  }
  marked += kGameTextEnd;
  return marked;
}

std::string QuotedPath(std::string_view path) {
  std::string quoted = "'";
  quoted += path;
  quoted += '\'';
  return quoted;
}

std::string QuotedText(std::string_view text) {
  return Quoted(text, MarkedGameText);
}

std::string ShownText(std::string_view text) {
  if (text.size() <= kLongestQuote) return MarkedGameText(MessageText(text));
  return MarkedGameText(MessageText(text.substr(0, kLongestQuote))) + "...";
}

std::string QuotedUtf8Text(std::string_view text) {
  return Quoted(text, Unmarked);
}
