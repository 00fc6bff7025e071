// The shared walk over database, table, record and field nodes.
#include "tree_walk.h"

namespace {

// Where the walk stops reading a node. A walk that moves back to node ends reads nothing of a
// node past its parent's end: the walk reads those bytes again as the nodes that follow, and
// taking them into the damaged node too would let nodes that reach far past their parents
// read a small file over and over (a damaged 256 KB database wrote gigabytes).
std::int64_t ReadEnd(const NodeHeader& node, std::int64_t parentEnd, bool keepWithinParent) {
  const std::int64_t end = NodeEnd(node);
  return keepWithinParent && end > parentEnd ? parentEnd : end;
}

// The field with its payload cut at the record's end, when it reaches past it.
NodeHeader FieldWithinRecord(NodeHeader field, std::int64_t recordEnd) {
  const std::int64_t room = recordEnd > field.payloadStart ? recordEnd - field.payloadStart : 0;
  if (PayloadLength(field) > room) field.length = static_cast<std::int32_t>(room);
  return field;
}

// Reads and decodes the record's fields while the position is before its end. Through a held
// record it stops before a field that ends past the record (a damaged record), whose reads
// would not stay within the held bytes; the caller reads the rest with checks.
template <typename Reader>
void WalkFields(Reader& reader, RowBuilder& row, const TableRules& table, bool keepWithinRecord,
                std::int64_t recordEnd) {
  while (Position(reader) < recordEnd) {
    const std::int64_t fieldStart = Position(reader);
    NodeHeader field = ReadNodeHeader(reader);
    if (keepWithinRecord) field = FieldWithinRecord(field, recordEnd);
    if (!CanReadField(reader, field)) return SeekTo(reader, fieldStart);
    DecodeField((*table.catalogue)[field.kind], reader, field, row);
    if (table.moveToFieldEnds) SeekTo(reader, NodeEnd(field));
  }
}

// A record that lies in the reader's memory is read with one check for the whole record: its
// row room is reserved and its fields decoded through a HeldRecord; the rest of any other record
// is read with a check per read.
void WalkRecord(NodeReader& reader, RowBuilder& row, const TableRules& table, Table* target,
                bool moveToRecordEnd, std::int64_t tableEnd) {
  const NodeHeader record = ReadNodeHeader(reader);  // its kind byte means nothing
  const std::int64_t recordEnd = ReadEnd(record, tableEnd, moveToRecordEnd);
  if (CanHoldRecord(reader, recordEnd)) {
    RowSpace(row, RowRoomOfRecord(recordEnd - Position(reader)));
    HeldRecord held = HoldRecord(reader, recordEnd);
    WalkFields(held, row, table, moveToRecordEnd, recordEnd);
    ReleaseRecord(reader, held);
  }
  WalkFields(reader, row, table, moveToRecordEnd, recordEnd);
  const std::string_view line = FinishRow(row);
  if (target != nullptr) WriteLine(*target, line);
  if (moveToRecordEnd) SeekTo(reader, recordEnd);
}

void WalkTable(NodeReader& reader, TableSet& tables, RowBuilder& row, const WalkRules& rules,
               const NodeHeader& database, std::int64_t databaseEnd) {
  const NodeHeader table = ReadNodeHeader(reader);
  const std::int64_t tableEnd = ReadEnd(table, databaseEnd, rules.moveToNodeEnds);
  const TableRules tableRules = rules.tableRules(table.kind);
  const int route = rules.routeLine(database.kind, table.kind);
  Table* target = route == kDropLine ? nullptr : &tables.tables[static_cast<std::size_t>(route)];
  while (Position(reader) < tableEnd) {
    WalkRecord(reader, row, tableRules, target, rules.moveToNodeEnds, tableEnd);
  }
  if (rules.moveToNodeEnds) SeekTo(reader, tableEnd);
}

}  // namespace

void WalkDatabase(NodeReader& reader, TableSet& tables, char decimalSeparator,
                  const WalkRules& rules) {
  RowBuilder row;
  row.decimalSeparator = decimalSeparator;
  while (!AtEnd(reader)) {
    const NodeHeader database = ReadNodeHeader(reader);
    const std::int64_t databaseEnd = NodeEnd(database);
    while (Position(reader) < databaseEnd) {
      WalkTable(reader, tables, row, rules, database, databaseEnd);
    }
    if (rules.firstDatabaseNodeOnly) SeekTo(reader, Size(reader));
  }
}
