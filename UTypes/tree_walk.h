// The walk over a database's levels, shared by both programs: what differs is in WalkRules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "field_codec.h"
#include "node_reader.h"
#include "table_set.h"

// Where a record's line goes: the index of a table, or kDropLine.
inline constexpr int kDropLine = -1;

// The rule of every field code of one table kind, so that a code is looked up without a test.
using FieldCatalogue = std::array<FieldRule, 256>;

// The catalogue of the rules given by field code, each marked with its table's number style;
// codes beyond them are skipped by their length.
constexpr FieldCatalogue CatalogueOf(std::span<const FieldRule> rules, TableStyle tableStyle) {
  FieldCatalogue catalogue{};
  for (std::size_t code = 0; code < rules.size(); ++code) {
    catalogue[code] = rules[code];
    catalogue[code].tableStyle = tableStyle;
  }
  return catalogue;
}

// Every field skipped by its length.
inline constexpr FieldCatalogue kSkipEveryField{};

// How the fields of one table kind are read.
struct TableRules {
  const FieldCatalogue* catalogue = &kSkipEveryField;
  // Moves to every field's end after decoding it, whatever the decoder consumed.
  bool moveToFieldEnds = false;
};

struct WalkRules {
  // Reads the first database node only, then moves to the end of the file.
  bool firstDatabaseNodeOnly = false;
  // Moves to every record's and table's end after reading it, re-aligning the reader with the
  // stored lengths, and reads nothing of a node past its parent's end (a field's payload stops
  // at its record's end); otherwise the next header is read where the last one's handling
  // stopped.
  bool moveToNodeEnds = false;
  TableRules (*tableRules)(std::uint8_t tableKind) = nullptr;
  // The table a record's line goes to, or kDropLine.
  int (*routeLine)(std::uint8_t databaseKind, std::uint8_t tableKind) = nullptr;
};

// What a walk reports to the code that watches it. A watcher has a Line(route, line) for every
// record's finished line, routed or dropped (kDropLine), and the node reports below, which the
// unpackers leave empty by deriving from WatchLinesOnly; the packers and nodedump watch every
// node to learn where each record and field lies, which text it gave and how it was read.
struct WatchLinesOnly {
  // A database or table node's header, read at `offset`; `route` is where its records go.
  void Database(std::int64_t /*offset*/, const NodeHeader& /*header*/) {}
  void Table(std::int64_t /*offset*/, const NodeHeader& /*header*/, int /*route*/) {}
  // A record's header, read at `offset`.
  void Record(std::int64_t /*offset*/, const NodeHeader& /*header*/) {}
  // A field's header, read at `offset`, before its value is decoded (its length cut at its
  // record's end where the walk cuts it).
  void FieldHeader(std::int64_t /*offset*/, const NodeHeader& /*field*/) {}
  // A field decoded: the text its decoder appended (NUL bytes not yet removed) and the position
  // the decoder left the reader at, before any move to the field's end.
  void Field(std::int64_t /*offset*/, const NodeHeader& /*field*/, std::string_view /*text*/,
             std::int64_t /*positionAfter*/) {}
};

// Whether a decoder that left the reader at `positionAfter` read the field otherwise than its
// stored length says: past its payload's end (a list's last element, shop flags or a quintuple
// longer than the field) or short of it. The next header is then read where the lengths put none,
// unless the walk moves to the field's or the record's end.
inline bool ReadOffItsLength(const NodeHeader& field, std::int64_t positionAfter) {
  return positionAfter != NodeEnd(field);
}

// The unpackers' watcher: routed lines go to their tables.
struct TableLineWriter : WatchLinesOnly {
  TableSet& tables;
  void Line(int route, std::string_view line) {
    if (route != kDropLine) WriteLine(tables.tables[static_cast<std::size_t>(route)], line);
  }
};

namespace tree_walk_detail {

// Where the walk stops reading a node. A walk that moves back to node ends reads nothing of a
// node past its parent's end: the walk reads those bytes again as the nodes that follow, and
// taking them into the damaged node too would let nodes that reach far past their parents
// read a small file over and over (a damaged 256 KB database wrote gigabytes).
inline std::int64_t ReadEnd(const NodeHeader& node, std::int64_t parentEnd, bool keepWithinParent) {
  const std::int64_t end = NodeEnd(node);
  return keepWithinParent && end > parentEnd ? parentEnd : end;
}

// The field with its payload cut at the record's end, when it reaches past it.
inline NodeHeader FieldWithinRecord(NodeHeader field, std::int64_t recordEnd) {
  const std::int64_t room = recordEnd > field.payloadStart ? recordEnd - field.payloadStart : 0;
  if (PayloadLength(field) > room) field.length = static_cast<std::int32_t>(room);
  return field;
}

// Reads and decodes the record's fields while the position is before its end. Through a held
// record it stops before a field that ends past the record (a damaged record), whose reads
// would not stay within the held bytes; the caller reads the rest with checks.
template <typename Reader, typename Row, typename Watcher>
void WalkFields(Reader& reader, Row& row, const TableRules& table, bool keepWithinRecord,
                std::int64_t recordEnd, Watcher& watcher) {
  while (Position(reader) < recordEnd) {
    const std::int64_t fieldStart = Position(reader);
    NodeHeader field = ReadNodeHeader(reader);
    if (keepWithinRecord) field = FieldWithinRecord(field, recordEnd);
    if (!CanReadField(reader, field)) return SeekTo(reader, fieldStart);
    watcher.FieldHeader(fieldStart, field);
    const std::size_t textStart = RowSize(row);
    DecodeField((*table.catalogue)[field.kind], reader, field, row);
    watcher.Field(fieldStart, field, RowTextFrom(row, textStart), Position(reader));
    if (table.moveToFieldEnds) SeekTo(reader, NodeEnd(field));
  }
}

}  // namespace tree_walk_detail

// Reads one record node at the position with the table's rules and hands its line to the
// watcher with `route`. With `moveToNodeEnds`, nothing past `tableEnd` is read as part of the
// record and the reader ends at the record's end. A record that lies in the reader's memory is
// read with one check for the whole record: its row room is reserved and its fields decoded
// through a HeldRecord; the rest of any other record is read with a check per read.
template <typename Row, typename Watcher>
void WalkRecord(NodeReader& reader, Row& row, const TableRules& table, int route,
                bool moveToNodeEnds, std::int64_t tableEnd, Watcher& watcher) {
  using namespace tree_walk_detail;
  const std::int64_t recordOffset = Position(reader);
  const NodeHeader record = ReadNodeHeader(reader);  // its kind byte means nothing
  watcher.Record(recordOffset, record);
  const std::int64_t recordEnd = ReadEnd(record, tableEnd, moveToNodeEnds);
  if (CanHoldRecord(reader, recordEnd)) {
    ReserveRow(row, RowRoomOfRecord(recordEnd - Position(reader)));
    HeldRecord held = HoldRecord(reader, recordEnd);
    WalkFields(held, row, table, moveToNodeEnds, recordEnd, watcher);
    ReleaseRecord(reader, held);
  }
  WalkFields(reader, row, table, moveToNodeEnds, recordEnd, watcher);
  watcher.Line(route, FinishRow(row));
  if (moveToNodeEnds) SeekTo(reader, recordEnd);
}

// Walks database nodes, table nodes, record nodes and field nodes until the end of the file,
// handing every record's line, also an empty one, to the watcher. Each level reads children
// while the position is before its node's end. File failures raise IoFailure. The row is a
// RowBuilder, or a RowWithoutText for a watcher that needs no line and no field text (its lines
// and texts are then empty, and the walk's memory stays the same whatever a field's size).
template <typename Row = RowBuilder, typename Watcher>
void WalkDatabase(NodeReader& reader, char decimalSeparator, const WalkRules& rules,
                  Watcher& watcher) {
  using namespace tree_walk_detail;
  Row row;
  row.decimalSeparator = decimalSeparator;
  while (!AtEnd(reader)) {
    const std::int64_t databaseOffset = Position(reader);
    const NodeHeader database = ReadNodeHeader(reader);
    watcher.Database(databaseOffset, database);
    const std::int64_t databaseEnd = NodeEnd(database);
    while (Position(reader) < databaseEnd) {
      const std::int64_t tableOffset = Position(reader);
      const NodeHeader table = ReadNodeHeader(reader);
      const std::int64_t tableEnd = ReadEnd(table, databaseEnd, rules.moveToNodeEnds);
      const TableRules tableRules = rules.tableRules(table.kind);
      const int route = rules.routeLine(database.kind, table.kind);
      watcher.Table(tableOffset, table, route);
      while (Position(reader) < tableEnd) {
        WalkRecord(reader, row, tableRules, route, rules.moveToNodeEnds, tableEnd, watcher);
      }
      if (rules.moveToNodeEnds) SeekTo(reader, tableEnd);
    }
    if (rules.firstDatabaseNodeOnly) SeekTo(reader, Size(reader));
  }
}

// The unpackers' walk: every routed line to its table.
inline void WalkDatabase(NodeReader& reader, TableSet& tables, char decimalSeparator,
                         const WalkRules& rules) {
  TableLineWriter writer{{}, tables};
  WalkDatabase(reader, decimalSeparator, rules, writer);
}
