// The shared walk over database, table, record and field nodes.
#include "tree_walk.h"

namespace {

void WalkRecord(NodeReader& reader, TableSet& tables, RowBuilder& row, const WalkRules& rules,
                const NodeHeader& database, const NodeHeader& table) {
  const NodeHeader record = ReadNodeHeader(reader);  // its kind byte means nothing
  const std::int64_t recordEnd = NodeEnd(record);
  while (Position(reader) < recordEnd) {
    const NodeHeader field = ReadNodeHeader(reader);
    rules.walkField(table.kind, field, reader, row);
  }
  const std::string_view line = FinishRow(row);
  const int target = rules.routeLine(database.kind, table.kind);
  if (target != kDropLine) WriteLine(tables.tables[static_cast<std::size_t>(target)], line);
  if (rules.moveToNodeEnds) SeekTo(reader, recordEnd);
}

void WalkTable(NodeReader& reader, TableSet& tables, RowBuilder& row, const WalkRules& rules,
               const NodeHeader& database) {
  const NodeHeader table = ReadNodeHeader(reader);
  const std::int64_t tableEnd = NodeEnd(table);
  while (Position(reader) < tableEnd)
    WalkRecord(reader, tables, row, rules, database, table);
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
    while (Position(reader) < databaseEnd)
      WalkTable(reader, tables, row, rules, database);
    if (rules.firstDatabaseNodeOnly) SeekTo(reader, Size(reader));
  }
}
