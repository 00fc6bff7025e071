// Texts as messages quote them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A text with a backslash, tab, CR and LF written as \\, \t, \r and \n, every other byte as it
// is: one line, whatever it holds.
std::string EscapedText(std::string_view text);

// A text as a message quotes it: escaped (EscapedText), in double quotes; beyond its first
// kLongestQuote bytes cut off and followed by its length ("abc..." (1073741824 bytes)).
std::string QuotedText(std::string_view text);
inline constexpr std::size_t kLongestQuote = 60;
