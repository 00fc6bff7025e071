// The second step of a pack's plan: the new table, built once from what the sources change. Its
// lines in order, which of them keep their records' places, and where each of the others goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planning_state.h"
#include "source_changes.h"

// A line of the new table: an original record, kept or changed, or an added line
// (MergedTable::added[added]). `source` and `line` name the source line it comes from (for a
// changed record, the last source that changed it; kNoSource for a record no source changed).
struct NewLine {
  std::uint32_t record = kNoRecord;
  std::uint32_t added = 0;
  std::uint32_t line = 0;
  std::uint16_t source = kNoSource;
  bool isAdded = false;
};

// A place for an edit: before a record or after it, in its table node.
struct Anchor {
  std::int64_t at = 0;
  std::size_t tableNode = 0;
  bool after = false;
};

struct NewTable {
  std::size_t count = 0;  // of lines
  bool ownOrder =
      false;  // one source's lines in their order, else the merge's (MergedTable::lines)
  // Per new line: the record of the nearest line above that stands for one, else of the
  // nearest one below, else the first record: an added line's neighbour, in whose table node it
  // goes.
  std::vector<std::uint32_t> neighbours;
  // The new lines in the order they are planned: each table node's lines in the new table's
  // order, the nodes in the original's order (empty: the new table's order).
  std::vector<std::uint32_t> order;
  std::vector<bool> inPlace;                // per new line: its record keeps its place
  std::vector<bool> recordStays;            // per record: it keeps its place
  std::vector<std::uint32_t> firstInPlace;  // per table node: its first line in place
};

// The new table of the sources' changes: one source's lines in their order, several sources'
// records in the original's order with their added lines among them. A line stands for its
// record, which stays in its table node: the lines are planned node by node, each added line in
// its neighbour's node, and the records that keep their place are the longest run of them in
// increasing order in that order. Reserves the plan's room for the lines that move.
NewTable PlaceNewLines(PackPlanning& planning, const TableSources& table);

// The new table's line `index`, read off the pairing of its one source or the merge: the new
// table holds no line of its own, as a table may have millions.
NewLine NewLineAt(const TableSources& table, const NewTable& newTable, std::size_t index);

// The new line planned `at`-th.
inline std::uint32_t LineInOrder(const NewTable& newTable, std::size_t at) {
  return newTable.order.empty() ? static_cast<std::uint32_t>(at) : newTable.order[at];
}

// The walk of the new lines in the order they are planned, as far as places go: the last line
// so far that keeps its place in the table node being walked.
struct PlacesWalk {
  std::uint32_t lastInPlace = kNoNewLine;
  std::size_t node = static_cast<std::size_t>(-1);
};

// Where the next line planned (`line`) goes if it does not keep its place: after the record of
// the nearest line above in its table node that keeps its place, else before the record of the
// node's first one, else where the table's records began. Steps the walk past the line. Held as
// a walk rather than per line, since a place per line of a table of millions costs more memory
// than the packers may take.
Anchor NextAnchor(const OriginalTables& original, const TableSources& table,
                  const NewTable& newTable, PlacesWalk& walk, std::uint32_t line);
