// The shared walk over database, table, record and field nodes.
#include "tree_walk.h"

namespace {

void WalkRecord(NodeReader& reader, RowBuilder& row, const TableRules& table, Table* target,
                bool moveToRecordEnd) {
  const NodeHeader record = ReadNodeHeader(reader);  // its kind byte means nothing
  const std::int64_t recordEnd = NodeEnd(record);
  while (Position(reader) < recordEnd) {
    const NodeHeader field = ReadNodeHeader(reader);
    DecodeField(RuleOf(table.catalogue, field.kind), reader, field, row);
    if (table.moveToFieldEnds) SeekTo(reader, NodeEnd(field));
  }
  const std::string_view line = FinishRow(row);
  if (target != nullptr) WriteLine(*target, line);
  if (moveToRecordEnd) SeekTo(reader, recordEnd);
}

void WalkTable(NodeReader& reader, TableSet& tables, RowBuilder& row, const WalkRules& rules,
               const NodeHeader& database) {
  const NodeHeader table = ReadNodeHeader(reader);
  const std::int64_t tableEnd = NodeEnd(table);
  const TableRules tableRules = rules.tableRules(table.kind);
  const int route = rules.routeLine(database.kind, table.kind);
  Table* target = route == kDropLine ? nullptr : &tables.tables[static_cast<std::size_t>(route)];
  while (Position(reader) < tableEnd) {
    WalkRecord(reader, row, tableRules, target, rules.moveToNodeEnds);
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
    while (Position(reader) < databaseEnd) WalkTable(reader, tables, row, rules, database);
    if (rules.firstDatabaseNodeOnly) SeekTo(reader, Size(reader));
  }
}
