// Texts as messages quote them.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>

// A text with a backslash, tab, CR and LF written as \\, \t, \r and \n, every other byte as it
// is: one line, whatever it holds.
std::string EscapedText(std::string_view text);

// A text as a message quotes it: escaped (EscapedText, and other control bytes, NUL among them,
// as \xHH), in double quotes; beyond its first
// kLongestQuote bytes cut off and followed by its length ("abc..." (1073741824 bytes)).
std::string QuotedText(std::string_view text);
inline constexpr std::size_t kLongestQuote = 60;

// A path as a message names it: in single quotes, as it is ("'mods/spells.sdb'").
std::string QuotedPath(std::string_view path);

// A text as a message shows it without quotes: escaped as QuotedText escapes it, beyond its first
// kLongestQuote bytes cut off and followed by "...".
std::string ShownText(std::string_view text);

// A count and its noun, the noun in the plural but for one: "1 byte", "2 bytes", "0 bytes".
template <std::integral Count>
std::string Plural(Count count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}
