// The walk over a database's levels, shared by both programs: what differs is in WalkRules.
#pragma once

#include <cstdint>

#include "node_reader.h"
#include "row_text.h"
#include "table_set.h"

// Where a record's line goes: the index of a table, or kDropLine.
inline constexpr int kDropLine = -1;

struct WalkRules {
  // Reads the first database node only, then moves to the end of the file.
  bool firstDatabaseNodeOnly = false;
  // Moves to every record's and table's end after reading it, re-aligning the reader with the
  // stored lengths; otherwise the next header is read where the last one's handling stopped.
  bool moveToNodeEnds = false;
  // Decodes one field of a table of the given kind, leaving the reader where the next field
  // header is to be read.
  void (*walkField)(std::uint8_t tableKind, const NodeHeader& field, NodeReader& reader,
                    RowBuilder& row) = nullptr;
  // The table a record's line goes to, or kDropLine.
  int (*routeLine)(std::uint8_t databaseKind, std::uint8_t tableKind) = nullptr;
};

// Walks database nodes, table nodes, record nodes and field nodes until the end of the file,
// writing one line per routed record, also an empty one. Each level reads children while the
// position is before its node's end. File failures end the run.
void WalkDatabase(NodeReader& reader, TableSet& tables, char decimalSeparator,
                  const WalkRules& rules);
