// The original database's layout, read with the unpacker's own walk.
#include "original_layout.h"

#include <algorithm>

#include "run_failure.h"
#include "split_text.h"
#include "table_text.h"

namespace {

// Records read of a table node before the room for all of them is estimated.
constexpr std::size_t kRecordsBeforeEstimate = 16384;

// Watches the unpacker's walk over the original.
struct LayoutWatcher : WatchLinesOnly {
  Layout& layout;
  const WalkRules& rules;
  RenderedTables* rendered;
  std::int64_t recordOffset = 0;
  std::int64_t recordEnd = 0;
  std::int64_t furthest = 0;
  std::int64_t misreadField = -1;
  bool readOffToTheEnd = false;
  std::size_t recordsInNode = 0;  // of the table node being read

  void Database(std::int64_t offset, const NodeHeader& header) {
    layout.databases.push_back({offset, header});
  }
  void Table(std::int64_t offset, const NodeHeader& header, int /*route*/) {
    layout.tableNodes.push_back({offset, header, layout.databases.size() - 1});
    recordsInNode = 0;
  }
  void Record(std::int64_t offset, const NodeHeader& header) {
    recordOffset = offset;
    recordEnd = NodeEnd(header);
    furthest = recordEnd;
    misreadField = -1;
  }
  void Field(std::int64_t offset, const NodeHeader& field, std::string_view /*text*/,
             std::int64_t positionAfter) {
    if (ReadOffItsLength(field, positionAfter) && misreadField < 0) misreadField = offset;
    furthest = std::max(furthest, positionAfter);
  }
  void Line(int route, std::string_view line) {
    NoteReadOffLengths(route);
    if (route == kDropLine) return;
    TableRecords& table = layout.tables[static_cast<std::size_t>(route)];
    if (line.find('\n') != std::string_view::npos) {
      table.multiLine.push_back(static_cast<std::uint32_t>(table.spots.size()));
    }
    table.spots.push_back({recordOffset, static_cast<std::uint32_t>(recordEnd - recordOffset),
                           static_cast<std::uint32_t>(layout.tableNodes.size() - 1)});
    table.hashes.push_back(LineHash(line));
    if (++recordsInNode == kRecordsBeforeEstimate) ReserveForTheNode(table);
    if (rendered != nullptr) {
      std::string& text = rendered->texts[static_cast<std::size_t>(route)];
      TableIndex& index = rendered->indexes[static_cast<std::size_t>(route)];
      text += line;
      index.ends.push_back(static_cast<std::int64_t>(text.size()));
      index.hashes.push_back(table.hashes.back());
      text += kLineEnd;
      NoteFileLines(index, index.hashes.size() - 1, line);
    }
  }

  // Room for the records the rest of the table node will hold at the size of those so far,
  // taken at once rather than by doubling, which would hold up to twice the room, and more
  // while it moves.
  void ReserveForTheNode(TableRecords& table) const {
    const NodeHeader& node = layout.tableNodes.back().header;
    const std::int64_t read = recordEnd - node.payloadStart;
    const std::int64_t left = NodeEnd(node) - recordEnd;
    if (read <= 0 || left <= 0) return;
    const auto more = static_cast<std::size_t>(
        static_cast<double>(left) / static_cast<double>(read) * static_cast<double>(recordsInNode));
    const std::size_t room = table.spots.size() + more + more / 32;
    table.spots.reserve(room);
    table.hashes.reserve(room);
  }

  // A walk that moves to node ends re-aligns after the record: only what the record read is
  // held. Otherwise every later header is read where the misread left the reader.
  void NoteReadOffLengths(int route) {
    if (misreadField < 0 || readOffToTheEnd) return;
    if (!rules.moveToNodeEnds) {
      layout.readOff.push_back({recordOffset, layout.size, misreadField});
      readOffToTheEnd = true;
    } else if (route != kDropLine) {
      layout.readOff.push_back({recordOffset, furthest, misreadField});
    }
  }
};

// Collects the fields of one record as the walk reads them.
struct FieldCollector : WatchLinesOnly {
  StoredRecord& record;
  const FieldCatalogue& catalogue;
  std::int64_t recordOffset = 0;

  void Record(std::int64_t offset, const NodeHeader& header) {
    recordOffset = offset;
    record.headerSize = static_cast<std::size_t>(header.payloadStart - offset);
  }
  void Field(std::int64_t offset, const NodeHeader& field, std::string_view text,
             std::int64_t /*positionAfter*/) {
    StoredField stored;
    stored.offset = static_cast<std::size_t>(offset - recordOffset);
    stored.headerSize = static_cast<std::size_t>(field.payloadStart - offset);
    stored.payloadSize = static_cast<std::size_t>(PayloadLength(field));
    stored.code = field.kind;
    stored.rule = catalogue[field.kind];
    for (char c : text) {
      if (c != '\0') stored.text += c;
    }
    record.fields.push_back(std::move(stored));
  }
  void Line(int /*route*/, std::string_view /*line*/) {}
};

// Keeps the line of the one record walked.
struct LineKeeper : WatchLinesOnly {
  std::string_view line;
  void Line(int /*route*/, std::string_view text) { line = text; }
};

// Whether a line of one table looks like UTF-8.
struct Utf8LineFinder : WatchLinesOnly {
  int table;
  bool found;
  void Line(int route, std::string_view line) {
    if (route == table && !found) found = LooksLikeUtf8(line);
  }
};

// The record's bytes and the few after it that a value of its last field may reach, read at
// once: records are read again in any order, one system call each.
std::string HeldBytesOf(NodeReader& database, const RecordSpot& spot) {
  const auto count = static_cast<std::size_t>(
      std::min<std::int64_t>(spot.size + kHeldRecordMargin, Size(database) - spot.offset));
  std::string bytes(count, '\0');
  ReadBytesAt(database, spot.offset, count, reinterpret_cast<std::uint8_t*>(bytes.data()));
  return bytes;
}

// Walks the one record at `spot` with its table's rules over `reader`, where it lies at `at`.
template <typename Watcher>
void WalkOneRecord(NodeReader& reader, std::int64_t at, const PackRules& rules,
                   const Layout& layout, const RecordSpot& spot, RowBuilder& row,
                   Watcher& watcher) {
  const TableNodeSpot& node = layout.tableNodes[spot.tableNode];
  const TableRules tableRules = rules.walk->tableRules(node.header.kind);
  SeekTo(reader, at);
  WalkRecord(reader, row, tableRules, kDropLine, rules.walk->moveToNodeEnds,
             NodeEnd(node.header) - spot.offset + at, watcher);
}

// Walks the record over its held bytes; false, the row emptied, where the walk reads further (a
// record read off its stored lengths), which only the file holds.
template <typename Watcher>
bool WalkHeldRecord(std::string_view bytes, const PackRules& rules, const Layout& layout,
                    const RecordSpot& spot, RowBuilder& row, Watcher& watcher) {
  NodeReader held =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  try {
    WalkOneRecord(held, 0, rules, layout, spot, row, watcher);
    return true;
  } catch (const IoFailure& failure) {
    // The record reads on past its held bytes: the caller reads it from the file instead.
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
  }
  row.size = 0;
  return false;
}

}  // namespace

Layout ReadLayout(NodeReader& database, const PackRules& rules, char decimalSeparator,
                  RenderedTables* rendered) {
  Layout layout;
  layout.size = Size(database);
  layout.tables.resize(rules.tables.size());
  if (rendered != nullptr) {
    rendered->texts.assign(rules.tables.size(), {});
    rendered->indexes.assign(rules.tables.size(), {});
    for (std::size_t table = 0; table < rules.tables.size(); ++table) {
      rendered->texts[table] = std::string(rules.tables[table].headerRow) + std::string(kLineEnd);
      rendered->indexes[table].lineEnd = kLineEnd;
      rendered->indexes[table].firstLineStart =
          static_cast<std::int64_t>(rendered->texts[table].size());
    }
  }
  LayoutWatcher watcher{{}, layout, *rules.walk, rendered};
  SeekTo(database, 0);
  try {
    WalkDatabase(database, decimalSeparator, *rules.walk, watcher);
  } catch (const IoFailure& failure) {
    if (failure.errorNumber != kErrorReadBeyondEnd) throw;
    throw PackFailure{
        {"the original database cannot be unpacked: a value runs past the end "
         "of the file (nodedump marks where)"}};
  }
  return layout;
}

StoredRecord ReadStoredRecord(NodeReader& database, const PackRules& rules, const Layout& layout,
                              const RecordSpot& spot, char decimalSeparator) {
  StoredRecord record;
  const TableNodeSpot& node = layout.tableNodes[spot.tableNode];
  FieldCollector collector{{}, record, *rules.walk->tableRules(node.header.kind).catalogue};
  RowBuilder row;
  row.decimalSeparator = decimalSeparator;
  std::string bytes = HeldBytesOf(database, spot);
  if (!WalkHeldRecord(bytes, rules, layout, spot, row, collector)) {
    record = StoredRecord{};
    WalkOneRecord(database, spot.offset, rules, layout, spot, row, collector);
  }
  bytes.resize(spot.size);
  record.bytes = std::move(bytes);
  return record;
}

HiddenParts HiddenPartsOf(NodeReader& database, const Layout& layout) {
  // Spans left out, [start, end), and for a node's header its kind byte, which counts (its
  // length follows from the records).
  struct Span {
    std::int64_t start;
    std::int64_t end;
    int kind;  // -1: a record
    auto operator<=>(const Span&) const = default;
  };
  std::vector<Span> shown;
  for (const DatabaseSpot& node : layout.databases)
    shown.push_back({node.offset, node.header.payloadStart, node.header.kind});
  for (const TableNodeSpot& node : layout.tableNodes)
    shown.push_back({node.offset, node.header.payloadStart, node.header.kind});
  for (const TableRecords& table : layout.tables) {
    for (const RecordSpot& spot : table.spots)
      shown.push_back({spot.offset, RecordEnd(spot), -1});
  }
  std::ranges::sort(shown);
  HiddenParts parts;
  LineHasher hasher;
  std::string buffer;
  auto take = [&](std::int64_t from, std::int64_t to) {
    for (; from < to; from += static_cast<std::int64_t>(buffer.size())) {
      buffer.resize(static_cast<std::size_t>(std::min<std::int64_t>(to - from, 1 << 16)));
      ReadBytesAt(database, from, buffer.size(), reinterpret_cast<std::uint8_t*>(buffer.data()));
      AddToLineHash(hasher, buffer);
      parts.size += static_cast<std::int64_t>(buffer.size());
    }
  };
  std::int64_t at = 0;
  for (const Span& span : shown) {
    take(at, span.start);
    if (span.kind >= 0) AddToLineHash(hasher, std::string(1, static_cast<char>(span.kind)));
    at = std::max(at, span.end);
  }
  take(at, layout.size);
  parts.hash = FinishLineHash(hasher);
  return parts;
}

std::string ReadRecordBytes(NodeReader& database, const RecordSpot& spot) {
  std::string bytes(spot.size, '\0');
  ReadBytesAt(database, spot.offset, spot.size, reinterpret_cast<std::uint8_t*>(bytes.data()));
  return bytes;
}

std::string_view RecordLine(NodeReader& database, const PackRules& rules, const Layout& layout,
                            const RecordSpot& spot, RowBuilder& row) {
  LineKeeper keeper;
  const std::string bytes = HeldBytesOf(database, spot);
  if (!WalkHeldRecord(bytes, rules, layout, spot, row, keeper)) {
    WalkOneRecord(database, spot.offset, rules, layout, spot, row, keeper);
  }
  return keeper.line;
}

bool TableHasUtf8Lines(NodeReader& database, const PackRules& rules, char decimalSeparator,
                       std::size_t table) {
  Utf8LineFinder finder{{}, static_cast<int>(table), false};
  SeekTo(database, 0);
  WalkDatabase(database, decimalSeparator, *rules.walk, finder);
  return finder.found;
}

const ReadOffLengths* ReadOffWithin(const Layout& layout, std::int64_t start, std::int64_t end) {
  for (const ReadOffLengths& held : layout.readOff) {
    if (start < held.end && end > held.start) return &held;
  }
  return nullptr;
}
