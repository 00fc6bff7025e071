// The new table: its lines, the records that keep their places, and the places of the others.
#include "new_table.h"

#include <algorithm>
#include <span>

namespace {

// A line of the merged table: an added line, or a record, named for the last source that
// changed it (none for a record no source changed).
NewLine MergedLineAt(const MergedTable& merged, const MergedLine& mergedLine) {
  NewLine newLine;
  newLine.isAdded = mergedLine.added;
  if (newLine.isAdded) {
    const AddedLine& added = merged.added[mergedLine.index];
    newLine.added = mergedLine.index;
    newLine.source = static_cast<std::uint16_t>(added.source);
    newLine.line = static_cast<std::uint32_t>(added.line);
    return newLine;
  }
  newLine.record = mergedLine.index;
  const MergedRecord* verdict = VerdictOf(merged, newLine.record);
  if (verdict != nullptr && !verdict->unitSources.empty()) {
    newLine.source = static_cast<std::uint16_t>(*std::ranges::max_element(verdict->unitSources));
    newLine.line = static_cast<std::uint32_t>(SourceLineOf(*verdict, newLine.source));
  }
  return newLine;
}

// Each new line's neighbour record (NewTable::neighbours) from the records of the lines.
std::vector<std::uint32_t> NeighbourRecords(std::span<const std::uint32_t> records) {
  std::vector<std::uint32_t> neighbours(records.size(), kNoRecord);
  std::uint32_t above = kNoRecord;
  for (std::size_t line = 0; line < records.size(); ++line) {
    if (records[line] != kNoRecord) above = records[line];
    neighbours[line] = above;
  }
  std::uint32_t below = 0;
  for (std::size_t line = records.size(); line-- > 0;) {
    if (records[line] != kNoRecord) below = records[line];
    if (neighbours[line] == kNoRecord) neighbours[line] = below;
  }
  return neighbours;
}

// Which lines keep their records' places, given each line's table node: the longest run of
// records in increasing order, node by node. Where the nodes are in order, one source's
// pairing has chosen them (`ownInPlace`, none for several sources).
void ChooseLinesInPlace(const std::vector<bool>* ownInPlace,
                        const std::vector<std::uint32_t>& records,
                        const std::vector<std::uint32_t>& nodes, NewTable& newTable) {
  const std::size_t count = records.size();
  if (std::ranges::is_sorted(nodes)) {
    newTable.inPlace = ownInPlace != nullptr ? *ownInPlace : LongestIncreasingRun(records);
    return;
  }
  newTable.order.resize(count);
  for (std::uint32_t line = 0; line < count; ++line)
    newTable.order[line] = line;
  std::ranges::stable_sort(newTable.order, {}, [&](std::uint32_t line) { return nodes[line]; });
  std::vector<std::uint32_t> ordered(count);
  for (std::size_t at = 0; at < count; ++at)
    ordered[at] = records[newTable.order[at]];
  const std::vector<bool> orderedInPlace = LongestIncreasingRun(ordered);
  newTable.inPlace.assign(count, false);
  for (std::size_t at = 0; at < count; ++at)
    newTable.inPlace[newTable.order[at]] = orderedInPlace[at];
}

// Each table node's first line in place, in the order the lines are planned.
std::vector<std::uint32_t> FirstLinesInPlace(const OriginalTables& original,
                                             const std::vector<std::uint32_t>& nodes,
                                             const NewTable& newTable) {
  std::vector<std::uint32_t> firstInPlace(original.layout.tableNodes.size(), kNoNewLine);
  for (std::size_t at = 0; at < newTable.count; ++at) {
    const std::uint32_t line = LineInOrder(newTable, at);
    if (newTable.inPlace[line] && firstInPlace[nodes[line]] == kNoNewLine)
      firstInPlace[nodes[line]] = line;
  }
  return firstInPlace;
}

}  // namespace

NewTable PlaceNewLines(PackPlanning& planning, const TableSources& table) {
  NewTable newTable;
  // One source gives the new table its own order; several, the merge's.
  const TablePairing* own = planning.severalSources ? nullptr : &table.sources.front().pairing;
  newTable.ownOrder = own != nullptr;
  newTable.count = own != nullptr ? own->recordOfLine.size() : table.merged.lines.size();
  const std::size_t count = newTable.count;
  std::vector<std::uint32_t> records(count);
  for (std::size_t line = 0; line < count; ++line)
    records[line] = NewLineAt(table, newTable, line).record;
  const std::vector<RecordSpot>& spots = planning.original.layout.tables[table.table].spots;
  newTable.neighbours = NeighbourRecords(records);
  std::vector<std::uint32_t> nodes(count, 0);
  if (!spots.empty()) {
    for (std::uint32_t line = 0; line < count; ++line)
      nodes[line] = spots[newTable.neighbours[line]].tableNode;
  }
  ChooseLinesInPlace(own != nullptr ? &own->inPlace : nullptr, records, nodes, newTable);
  newTable.recordStays.assign(spots.size(), false);
  std::size_t staying = 0;
  for (std::size_t line = 0; line < count; ++line) {
    if (!newTable.inPlace[line]) continue;
    newTable.recordStays[records[line]] = true;
    ++staying;
  }
  if (!spots.empty()) newTable.firstInPlace = FirstLinesInPlace(planning.original, nodes, newTable);
  // Room for every record that may move, and its plan item, at once.
  PackPlan& plan = planning.plan;
  const std::size_t moving = count - staying;
  plan.copies.reserve(plan.copies.size() + moving);
  if (planning.withItems) plan.items.reserve(plan.items.size() + moving);
  plan.lineHashes[table.table].reserve(count);
  return newTable;
}

NewLine NewLineAt(const TableSources& table, const NewTable& newTable, std::size_t index) {
  if (!newTable.ownOrder) return MergedLineAt(table.merged, table.merged.lines[index]);
  NewLine newLine;
  newLine.source = 0;
  newLine.line = static_cast<std::uint32_t>(index);
  newLine.record = table.sources.front().pairing.recordOfLine[index];
  newLine.isAdded = newLine.record == kNoRecord;
  return newLine;
}

Anchor NextAnchor(const OriginalTables& original, const TableSources& table,
                  const NewTable& newTable, PlacesWalk& walk, std::uint32_t line) {
  const std::vector<RecordSpot>& spots = original.layout.tables[table.table].spots;
  if (spots.empty()) return {};  // no record to place anything by
  const std::size_t node = spots[newTable.neighbours[line]].tableNode;
  if (node != walk.node) walk.lastInPlace = kNoNewLine;  // places stay in their node
  walk.node = node;
  Anchor anchor;
  if (walk.lastInPlace != kNoNewLine) {
    const RecordSpot& spot = spots[NewLineAt(table, newTable, walk.lastInPlace).record];
    anchor = {RecordEnd(spot), spot.tableNode, true};
  } else {
    const std::uint32_t below = newTable.firstInPlace[node];
    const RecordSpot& spot =
        spots[below != kNoNewLine ? NewLineAt(table, newTable, below).record : 0];
    anchor = {spot.offset, spot.tableNode, false};
  }
  if (newTable.inPlace[line]) walk.lastInPlace = line;
  return anchor;
}
