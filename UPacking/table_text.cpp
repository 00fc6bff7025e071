// Reading tables back: lines, hashes and the checks of a table's start.
#include "table_text.h"

#include <bit>
#include <cstring>

#include "row_text.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::uint64_t Mix(std::uint64_t value) {
  value ^= value >> 32;
  value *= 0xD6E8FEB86659FD93ull;
  value ^= value >> 32;
  value *= 0xD6E8FEB86659FD93ull;
  return value ^ (value >> 32);
}

// A cell with its enclosing quotes taken off ("" inside standing for one "), as quoted.
std::string WithoutQuotes(std::string_view cell) {
  if (cell.size() < 2 || cell.front() != '"' || cell.back() != '"') return std::string(cell);
  std::string plain;
  for (std::size_t at = 1; at + 1 < cell.size(); ++at) {
    plain += cell[at];
    if (cell[at] == '"' && cell[at + 1] == '"') ++at;
  }
  return plain;
}

// The line with every cell's enclosing quotes taken off.
std::string LineWithoutQuotes(std::string_view line) {
  std::string plain;
  const std::vector<std::string_view> cells = SplitColumns(line);
  for (std::size_t index = 0; index < cells.size(); ++index) {
    if (index > 0) plain += '\t';
    plain += WithoutQuotes(cells[index]);
  }
  return plain;
}

// The length of the UTF-8 sequence that starts with `lead`, 0 for a byte that starts none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

TableLines SplitTableLines(std::string_view bytes) {
  TableLines table;
  const std::size_t firstFeed = bytes.find('\n');
  const bool carriageReturns =
      firstFeed != std::string_view::npos && firstFeed > 0 && bytes[firstFeed - 1] == '\r';
  table.lineEnd = carriageReturns ? "\r\n" : "\n";
  // Every line end holds a line feed: find those, and with CR LF take only those after a CR.
  std::size_t start = 0;
  std::size_t searchFrom = 0;
  while (start < bytes.size()) {
    const std::size_t feed = bytes.find('\n', searchFrom);
    if (feed == std::string_view::npos) {
      table.lines.push_back(bytes.substr(start));
      break;
    }
    searchFrom = feed + 1;
    if (carriageReturns && (feed == start || bytes[feed - 1] != '\r')) continue;
    const std::size_t end = feed + 1 - table.lineEnd.size();
    table.lines.push_back(bytes.substr(start, end - start));
    start = feed + 1;
  }
  return table;
}

std::uint64_t LineHash(std::string_view line) {
  // One multiplication a word; the words' order counts through the rotation.
  constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  std::uint64_t hash = line.size() * kOdd;
  std::size_t at = 0;
  for (; at + 8 <= line.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, line.data() + at, 8);
    hash = std::rotl((hash ^ word) * kOdd, 29);
  }
  std::uint64_t rest = 0;
  if (at < line.size()) std::memcpy(&rest, line.data() + at, line.size() - at);
  return Mix(hash ^ rest);
}

std::string TableStartProblem(std::string_view bytes, const TableLines& table,
                              std::string_view headerRow) {
  if (bytes.starts_with(kByteOrderMark)) {
    return "the table starts with a UTF-8 byte order mark: it was saved in UTF-8; save it in the "
           "character set it was opened with (the game's code page, for example Cyrillic "
           "(Windows-1251))";
  }
  if (table.lines.empty()) return "the table is empty: its header row is missing";
  const std::string_view first = table.lines.front();
  if (first == headerRow) return {};
  if (LineWithoutQuotes(first) == headerRow) {
    return "the cells are wrapped in quotes; save the table without quoting (no text "
           "delimiter, or \"quote all text cells\" off)";
  }
  if (first.find('\t') == std::string_view::npos) {
    return "the header row has no tab: save the table with the tab as the only separator";
  }
  return "the header row is not the one the unpacker writes (\"" + std::string(headerRow) +
         "\"): keep the header row as it is";
}

bool LooksLikeUtf8(std::string_view text) {
  bool multiByte = false;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    if (length == 0 || at + length > text.size()) return false;
    for (std::size_t next = 1; next < length; ++next) {
      if ((static_cast<unsigned char>(text[at + next]) & 0xC0) != 0x80) return false;
    }
    multiByte = multiByte || length > 1;
    at += length;
  }
  return multiByte;
}
