// Tables read back: an edited table's lines found and hashed in one pass over its bytes, without
// holding its text, and the checks that catch what a spreadsheet may have done to a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform.h"

// A spreadsheet's quoting of a cell: a quote at each end.
bool IsQuoted(std::string_view cell);

// A cell with its enclosing quotes taken off ("" inside standing for one "), when it is quoted.
std::string WithoutQuotes(std::string_view cell);

// Where a table's bytes are read from: an open file, or bytes in memory (tests, fuzzing).
struct TableSource {
  PlatformFile file;        // not open: the bytes are `memory`
  std::string_view memory;  // with a closed file
  std::int64_t size = 0;
};

TableSource MemoryTableSource(std::string_view bytes);

// Reads `count` bytes at `offset`, all within the source's size. A failed read, or a file that
// holds fewer bytes than its size said, raises IoFailure.
void ReadTableBytes(const TableSource& source, std::int64_t offset, char* destination,
                    std::size_t count);

// A hash of a line's bytes, equal for equal lines, for aligning and comparing tables. The bytes
// may be handed over in pieces: the hash is that of the whole.
struct LineHasher {
  std::uint64_t hash = 0;
  std::uint64_t size = 0;
  std::uint64_t pending = 0;  // bytes of an unfinished word, the first in the lowest byte
  unsigned pendingSize = 0;
};
void AddToLineHash(LineHasher& hasher, std::string_view bytes);
std::uint64_t FinishLineHash(const LineHasher& hasher);
std::uint64_t LineHash(std::string_view line);

// The lines of an edited table after its header row, as the packer keeps them: where each ends
// and what it hashes to. Line i begins where line i - 1 ends, after its line end.
struct TableIndex {
  std::string_view lineEnd;  // "\r\n" as the unpacker writes, or "\n" from a spreadsheet on Linux
  std::int64_t firstLineStart = 0;
  std::vector<std::int64_t> ends;
  std::vector<std::uint64_t> hashes;
  // Lines that join several lines of the file (a stored text's line breaks): the index of the
  // line and how many file lines all joined lines up to it took beyond one each.
  std::vector<std::pair<std::size_t, std::size_t>> joins;
};

inline std::size_t LineCount(const TableIndex& index) {
  return index.hashes.size();
}

inline std::int64_t LineStart(const TableIndex& index, std::size_t line) {
  return line == 0 ? index.firstLineStart
                   : index.ends[line - 1] + static_cast<std::int64_t>(index.lineEnd.size());
}

// The table file's line number of the line's first part, the header row being line 1.
std::size_t FileLineOf(const TableIndex& index, std::size_t line);

// Notes that line `line` (from 0, after every line noted so far) reads as `text`, which takes
// one file line more for each CR LF it holds (a stored text's line break): FileLineOf counts
// them for the lines after it.
void NoteFileLines(TableIndex& index, std::size_t line, std::string_view text);

// Finds the table's lines in one pass, through a buffer. The header row's end tells how lines
// end: at CR LF, and then an LF or a CR inside a line is part of its text (a stored text may
// hold them), or at every LF. A last line without an end is a line; nothing after the last end
// is none. The start is checked first, reading no more than the header row needs: the problem
// (TableStartProblem) is returned and nothing more is read. File failures raise IoFailure.
std::string IndexTable(const TableSource& source, std::string_view headerRow, TableIndex& index);

// What is wrong with a table's start, given its first bytes (at least its first line, or as much
// as its header row can take): a byte order mark of UTF-8 or UTF-16, or a first line that is not
// the header row the unpacker writes (with quoted cells, or other separators). Empty when it is
// right. The text completes "<table> line 1: ...".
std::string TableStartProblem(std::string_view firstBytes, std::string_view headerRow);

// Joins runs of lines that are exactly the parts of a line holding line breaks: `parts` holds,
// for each such line, the hashes of its parts as the table's line ends split it. A run is
// joined where its lines hash as the parts, and then hashes as the whole line.
void JoinSplitLines(TableIndex& index, const std::vector<std::vector<std::uint64_t>>& parts,
                    const std::vector<std::uint64_t>& wholeHashes);

// Reads lines of a table again, through a window of its bytes: cheapest in increasing order.
struct LineReader {
  const TableSource* source = nullptr;
  const TableIndex* index = nullptr;
  std::string window;
  std::int64_t windowStart = 0;
};

inline LineReader ReaderOfLines(const TableSource& source, const TableIndex& index) {
  return LineReader{&source, &index, {}, 0};
}

// The line's text, valid until the next call. File failures raise IoFailure.
std::string_view ReadLine(LineReader& reader, std::size_t line);

// Whether the text holds a character of more than one byte in UTF-8, and is valid UTF-8 all
// through: a table saved in UTF-8 rather than in the game's single-byte code page.
bool LooksLikeUtf8(std::string_view text);
