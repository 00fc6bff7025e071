// Texts as messages quote them.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>

// A text with a backslash, tab, CR and LF written as \\, \t, \r and \n, every other byte as it
// is: one line, whatever it holds.
std::string EscapedText(std::string_view text);

// ---- The game's texts in messages.
//
// A message is UTF-8 (its own words, paths, sheet names) but for the game's texts it quotes (cells,
// names), which are bytes of the game's code page. While the run marks game texts (only where
// every standard stream is a console that shows Unicode, see PrepareConsoleText), each of them is
// framed by kGameTextStart and kGameTextEnd, a byte of the text equal to one of the three marks
// preceded by kGameTextEscape, so that the console can show its bytes as letters of their code
// page (ConsoleTextOf). Unmarked, a message holds the bytes it always held.
inline constexpr char kGameTextStart = '\x0E';   // Shift Out
inline constexpr char kGameTextEnd = '\x0F';     // Shift In
inline constexpr char kGameTextEscape = '\x10';  // Data Link Escape

// Whether game texts are marked from now on; unmarked until a run says.
void MarkGameTexts(bool marked);

// A game text (already escaped as the message shows it) as a message holds it: framed while game
// texts are marked, as it is otherwise.
std::string MarkedGameText(std::string_view text);

// A game text as a message quotes it: escaped (EscapedText, and other control bytes, NUL among
// them, as \xHH), in double quotes; beyond its first kLongestQuote bytes cut off and followed by
// its length ("abc..." (1073741824 bytes)). Marked as a game text (MarkedGameText) inside the
// quotes.
std::string QuotedText(std::string_view text);
inline constexpr std::size_t kLongestQuote = 60;

// A path as a message names it: in single quotes, as it is ("'mods/spells.sdb'").
std::string QuotedPath(std::string_view path);

// A game text as a message shows it without quotes: escaped and marked as QuotedText does it,
// beyond its first kLongestQuote bytes cut off and followed by "...".
std::string ShownText(std::string_view text);

// A UTF-8 text (a sheet's name, a workbook's cell as it was read) quoted as QuotedText quotes a
// game text, but never marked: its bytes are characters already.
std::string QuotedUtf8Text(std::string_view text);

// A count and its noun, the noun in the plural but for one: "1 byte", "2 bytes", "0 bytes".
template <std::integral Count>
std::string Plural(Count count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}
