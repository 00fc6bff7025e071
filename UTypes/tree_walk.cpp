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

void WalkRecord(NodeReader& reader, RowBuilder& row, const TableRules& table, Table* target,
                bool moveToRecordEnd, std::int64_t tableEnd) {
  const NodeHeader record = ReadNodeHeader(reader);  // its kind byte means nothing
  const std::int64_t recordEnd = ReadEnd(record, tableEnd, moveToRecordEnd);
  while (Position(reader) < recordEnd) {
    NodeHeader field = ReadNodeHeader(reader);
    if (moveToRecordEnd) field = FieldWithinRecord(field, recordEnd);
    DecodeField(RuleOf(table.catalogue, field.kind), reader, field, row);
    if (table.moveToFieldEnds) SeekTo(reader, NodeEnd(field));
  }
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
