// Reading tables back: lines found and hashed in one pass, the checks of a table's start.
#include "table_text.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "node_reader.h"
#include "run_failure.h"
#include "split_text.h"
#include "table_set.h"

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";

// Bytes of a table's start read for its header row: enough for the header row quoted.
constexpr std::size_t kStartSlack = 256;

// More lines than a database can hold records (each takes at least two bytes of a node).
constexpr std::size_t kMostLines = std::size_t{1} << 30;

constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;

std::uint64_t Mix(std::uint64_t value) {
  value ^= value >> 32;
  value *= 0xD6E8FEB86659FD93ull;
  value ^= value >> 32;
  value *= 0xD6E8FEB86659FD93ull;
  return value ^ (value >> 32);
}

std::uint64_t MixWord(std::uint64_t hash, std::uint64_t word) {
  return std::rotl((hash ^ word) * kOdd, 29);
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

// The first line of the bytes, without its end (all of them when none ends there).
std::string_view FirstLineOf(std::string_view bytes) {
  const std::size_t feed = bytes.find('\n');
  if (feed == std::string_view::npos) return bytes;
  return bytes.substr(0, feed > 0 && bytes[feed - 1] == '\r' ? feed - 1 : feed);
}

// Splits the source's bytes into lines, piece by piece, hashing each line as it goes.
struct LineSplitter {
  TableIndex& index;
  bool carriageReturns;
  bool inHeader = true;
  LineHasher hasher;
  std::int64_t fedTo = 0;   // bytes before it are in the hash of the line being read
  bool heldReturn = false;  // a CR at the end of the last piece, not yet fed
  std::string problem;

  void EndLine(std::int64_t end, std::int64_t next) {
    if (inHeader) {
      inHeader = false;
      index.firstLineStart = next;
    } else if (index.hashes.size() == kMostLines) {
      if (problem.empty()) problem = "holds more lines than a database can hold records";
    } else {
      index.ends.push_back(end);
      index.hashes.push_back(FinishLineHash(hasher));
    }
    hasher = LineHasher{};
    fedTo = next;
  }

  void Feed(const char* piece, std::int64_t pieceStart, std::int64_t upTo) {
    if (upTo > fedTo) {
      AddToLineHash(hasher, {piece + (fedTo - pieceStart), static_cast<std::size_t>(upTo - fedTo)});
      fedTo = upTo;
    }
  }

  // The bytes [pieceStart, pieceStart + size) of the table.
  void Split(const char* piece, std::int64_t pieceStart, std::size_t size) {
    if (heldReturn && piece[0] != '\n') AddToLineHash(hasher, "\r");
    const bool returnBefore = heldReturn;
    heldReturn = false;
    for (std::size_t at = 0; at < size;) {
      const auto* feed = static_cast<const char*>(std::memchr(piece + at, '\n', size - at));
      if (feed == nullptr) break;
      const auto offset = static_cast<std::size_t>(feed - piece);
      const std::int64_t position = pieceStart + static_cast<std::int64_t>(offset);
      at = offset + 1;
      if (!carriageReturns) {
        Feed(piece, pieceStart, position);
        EndLine(position, position + 1);
      } else if (offset > 0 ? piece[offset - 1] == '\r' : returnBefore) {
        Feed(piece, pieceStart, std::max(position - 1, pieceStart));
        EndLine(position - 1, position + 1);
      }
    }
    const std::int64_t pieceEnd = pieceStart + static_cast<std::int64_t>(size);
    heldReturn = carriageReturns && piece[size - 1] == '\r' && fedTo < pieceEnd;
    Feed(piece, pieceStart, heldReturn ? pieceEnd - 1 : pieceEnd);
    if (heldReturn) fedTo = pieceEnd;
  }

  // A last line without an end is a line.
  void Finish(std::int64_t size) {
    if (heldReturn) AddToLineHash(hasher, "\r");
    if (hasher.size > 0) EndLine(size, size);
  }
};

}  // namespace

bool IsQuoted(std::string_view cell) {
  return cell.size() >= 2 && cell.front() == '"' && cell.back() == '"';
}

std::string WithoutQuotes(std::string_view cell) {
  if (!IsQuoted(cell)) return std::string(cell);
  std::string plain;
  for (std::size_t at = 1; at + 1 < cell.size(); ++at) {
    plain += cell[at];
    if (cell[at] == '"' && cell[at + 1] == '"') ++at;
  }
  return plain;
}

TableSource MemoryTableSource(std::string_view bytes) {
  TableSource source;
  source.memory = bytes;
  source.size = static_cast<std::int64_t>(bytes.size());
  return source;
}

void ReadTableBytes(const TableSource& source, std::int64_t offset, char* destination,
                    std::size_t count) {
  if (source.file.handle == -1) {
    if (count > 0) std::memcpy(destination, source.memory.data() + offset, count);
    return;
  }
  for (std::size_t done = 0; done < count;) {
    std::size_t got = 0;
    const int error = ReadFileAt(source.file, offset + static_cast<std::int64_t>(done),
                                 destination + done, count - done, got);
    if (error != 0) RaiseIoFailure(error);
    if (got == 0) RaiseIoFailure(kErrorReadBeyondEnd);  // the file shrank while it was read
    done += got;
  }
}

void AddToLineHash(LineHasher& hasher, std::string_view bytes) {
  hasher.size += bytes.size();
  std::size_t at = 0;
  while (hasher.pendingSize > 0 && at < bytes.size()) {
    hasher.pending |= std::uint64_t{static_cast<std::uint8_t>(bytes[at++])}
                      << (8 * hasher.pendingSize);
    if (++hasher.pendingSize == 8) {
      hasher.hash = MixWord(hasher.hash, hasher.pending);
      hasher.pending = 0;
      hasher.pendingSize = 0;
    }
  }
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + at, 8);
    hasher.hash = MixWord(hasher.hash, word);
  }
  for (; at < bytes.size(); ++at) {
    hasher.pending |= std::uint64_t{static_cast<std::uint8_t>(bytes[at])}
                      << (8 * hasher.pendingSize++);
  }
}

std::uint64_t FinishLineHash(const LineHasher& hasher) {
  return Mix(MixWord(hasher.hash, hasher.pending) ^ (hasher.size * kOdd));
}

std::uint64_t LineHash(std::string_view line) {
  LineHasher hasher;
  AddToLineHash(hasher, line);
  return FinishLineHash(hasher);
}

std::size_t FileLineOf(const TableIndex& index, std::size_t line) {
  const auto after =
      std::ranges::lower_bound(index.joins, line, {}, &std::pair<std::size_t, std::size_t>::first);
  const std::size_t extra = after == index.joins.begin() ? 0 : std::prev(after)->second;
  return TableFileLine(line + extra);
}

void NoteFileLines(TableIndex& index, std::size_t line, std::string_view text) {
  std::size_t breaks = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
       at = text.find("\r\n", at + 2)) {
    ++breaks;
  }
  if (breaks == 0) return;
  const std::size_t before = index.joins.empty() ? 0 : index.joins.back().second;
  index.joins.emplace_back(line, before + breaks);
}

std::string IndexTable(const TableSource& source, std::string_view headerRow, TableIndex& index) {
  index = TableIndex{};
  const auto startSize = static_cast<std::size_t>(std::min<std::int64_t>(
      source.size, static_cast<std::int64_t>(2 * headerRow.size() + kStartSlack)));
  std::string start(startSize, '\0');
  ReadTableBytes(source, 0, start.data(), startSize);
  const std::size_t firstFeed = start.find('\n');
  const bool carriageReturns =
      firstFeed != std::string::npos && firstFeed > 0 && start[firstFeed - 1] == '\r';
  index.lineEnd = carriageReturns ? "\r\n" : "\n";
  std::string problem = TableStartProblem(start, headerRow);
  if (!problem.empty()) return problem;
  LineSplitter splitter{index, carriageReturns, true, {}, 0, false, {}};
  const auto buffer = std::make_unique_for_overwrite<char[]>(kReadBufferSize);
  for (std::int64_t at = 0; at < source.size && splitter.problem.empty();) {
    const auto size =
        static_cast<std::size_t>(std::min<std::int64_t>(source.size - at, kReadBufferSize));
    ReadTableBytes(source, at, buffer.get(), size);
    splitter.Split(buffer.get(), at, size);
    at += static_cast<std::int64_t>(size);
  }
  splitter.Finish(source.size);
  if (splitter.inHeader) index.firstLineStart = source.size;
  return splitter.problem;
}

std::string TableStartProblem(std::string_view firstBytes, std::string_view headerRow) {
  if (firstBytes.starts_with(kUtf8ByteOrderMark)) {
    return "the table starts with a UTF-8 byte order mark: it was saved in UTF-8; save it in the "
           "character set it was opened with (the game's code page, for example Cyrillic "
           "(Windows-1251))";
  }
  if (firstBytes.starts_with(kUtf16LittleEndianMark) ||
      firstBytes.starts_with(kUtf16BigEndianMark)) {
    return "the table is in UTF-16 (it starts with a UTF-16 byte order mark, as a spreadsheet's "
           "\"Unicode text\" saves): save it as text in the character set it was opened with "
           "(the game's code page, for example Cyrillic (Windows-1251))";
  }
  if (firstBytes.empty()) return "the table is empty: its header row is missing";
  const std::string_view first = FirstLineOf(firstBytes);
  if (first == headerRow) return {};
  const std::string_view afterHeader =
      firstBytes.starts_with(headerRow) ? firstBytes.substr(headerRow.size()) : "";
  if (afterHeader.starts_with('\r') && !afterHeader.starts_with("\r\n")) {
    return "the lines end in CR (\\r) alone, as old Mac OS saved text: save the table with CR LF "
           "(\\r\\n) or LF (\\n) line ends";
  }
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

void JoinSplitLines(TableIndex& index, const std::vector<std::vector<std::uint64_t>>& parts,
                    const std::vector<std::uint64_t>& wholeHashes) {
  if (parts.empty()) return;
  std::unordered_multimap<std::uint64_t, std::size_t> byFirstPart;
  for (std::size_t line = 0; line < parts.size(); ++line)
    byFirstPart.emplace(parts[line].front(), line);
  std::size_t kept = 0;
  std::size_t extra = 0;
  const std::size_t count = LineCount(index);
  for (std::size_t at = 0; at < count;) {
    std::size_t joined = 1;
    std::uint64_t hash = index.hashes[at];
    const auto [first, last] = byFirstPart.equal_range(hash);
    for (auto candidate = first; candidate != last && joined == 1; ++candidate) {
      const std::vector<std::uint64_t>& run = parts[candidate->second];
      if (run.size() < 2 || at + run.size() > count) continue;
      if (std::equal(run.begin(), run.end(),
                     index.hashes.begin() + static_cast<std::ptrdiff_t>(at))) {
        joined = run.size();
        hash = wholeHashes[candidate->second];
      }
    }
    index.ends[kept] = index.ends[at + joined - 1];
    index.hashes[kept] = hash;
    if (joined > 1) {
      extra += joined - 1;
      index.joins.emplace_back(kept, extra);
    }
    ++kept;
    at += joined;
  }
  index.ends.resize(kept);
  index.hashes.resize(kept);
}

std::string_view ReadLine(LineReader& reader, std::size_t line) {
  const std::int64_t start = LineStart(*reader.index, line);
  const std::int64_t end = reader.index->ends[line];
  const auto size = static_cast<std::size_t>(end - start);
  const auto windowEnd = reader.windowStart + static_cast<std::int64_t>(reader.window.size());
  if (start < reader.windowStart || end > windowEnd) {
    const std::int64_t wanted = std::max<std::int64_t>(end - start, kReadBufferSize);
    reader.window.resize(static_cast<std::size_t>(std::min(wanted, reader.source->size - start)));
    reader.windowStart = start;
    ReadTableBytes(*reader.source, start, reader.window.data(), reader.window.size());
  }
  return std::string_view(reader.window)
      .substr(static_cast<std::size_t>(start - reader.windowStart), size);
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
