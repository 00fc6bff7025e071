// Tables read back: an edited table's lines as the unpacker ended them, their hashes and the
// checks that catch what a spreadsheet may have done to a table on its way back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The lines of a table file, without their ends, the header row first.
struct TableLines {
  std::vector<std::string_view> lines;
  std::string_view lineEnd;  // "\r\n" as the unpacker writes, or "\n" from a spreadsheet on Linux
};

// Splits a table's bytes into lines. The header row's end tells how lines end: at CR LF, and
// then an LF or a CR inside a line is part of its text (a stored text may hold them), or at
// every LF. A last line without an end is a line; nothing after the last end is none.
TableLines SplitTableLines(std::string_view bytes);

// A hash of a line's bytes, equal for equal lines, for aligning and comparing tables.
std::uint64_t LineHash(std::string_view line);

// What is wrong with a table's start: a UTF-8 byte order mark, or a first line that is not the
// header row the unpacker writes (with quoted cells, or other separators). Empty when it is
// right. The text completes "<table> line 1: ...".
std::string TableStartProblem(std::string_view bytes, const TableLines& table,
                              std::string_view headerRow);

// Whether the text holds a character of more than one byte in UTF-8, and is valid UTF-8 all
// through: a table saved in UTF-8 rather than in the game's single-byte code page.
bool LooksLikeUtf8(std::string_view text);
