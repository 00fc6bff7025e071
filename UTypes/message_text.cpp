// Texts as messages quote them.
#include "message_text.h"

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

std::string QuotedText(std::string_view text) {
  if (text.size() <= kLongestQuote) return '"' + EscapedText(text) + '"';
  return '"' + EscapedText(text.substr(0, kLongestQuote)) + "...\" (" +
         std::to_string(text.size()) + " bytes)";
}
