// The edits of the original's bytes: records removed and moved, node headers resized, the check
// of bytes read off their lengths, and the edits put in order.
#include "byte_edits.h"

#include <algorithm>

#include "node_writer.h"
#include "plan_items.h"

namespace {

// A node whose payload grows or shrinks gets a new header, in its own length form where the
// new length fits.
std::string ResizedHeader(const NodeHeader& header, std::int64_t offset, std::int64_t length) {
  return NodeHeaderBytes(header.kind, static_cast<std::size_t>(length),
                         OwnLengthForm(static_cast<std::size_t>(header.payloadStart - offset)));
}

std::string OriginText(const PackPlanning& planning, const EditOrigin& origin) {
  const PackRules& rules = planning.original.rules;
  switch (origin.kind) {
    case EditOrigin::Kind::Line:
      return SourcePrefix(planning, origin.source) + TableName(rules, origin.table) + " line " +
             std::to_string(origin.number);
    case EditOrigin::Kind::Record:
      return TableName(rules, origin.table) + ": the record unpacked as line " +
             std::to_string(origin.number) + (origin.removed ? ", removed" : ", moved");
    case EditOrigin::Kind::Node:
      break;
  }
  return std::string(origin.database ? "the database node @" : "the table @") +
         std::to_string(origin.number);
}

// The node's header rewritten for a payload `growth` bytes longer; returns how much longer the
// header is (0 with a problem when the node cannot hold it).
std::int64_t ResizeNode(PackPlanning& planning, EditList& edits, std::int64_t offset,
                        const NodeHeader& header, std::int64_t growth, std::size_t tableNode,
                        const std::string& what) {
  const std::int64_t length = PayloadLength(header) + growth;
  if (length > static_cast<std::int64_t>(kLongestPayload)) {
    AddProblem(planning.problems, "the " + what + " @" + std::to_string(offset) + " would hold " +
                                      std::to_string(length) + " bytes, more than a node can");
    return 0;
  }
  ByteEdit edit;
  edit.at = offset;
  edit.removed = header.payloadStart - offset;
  std::string bytes = ResizedHeader(header, offset, length);
  const std::int64_t headerGrowth = static_cast<std::int64_t>(bytes.size()) - edit.removed;
  EditOrigin origin;
  origin.kind = EditOrigin::Kind::Node;
  origin.database = what != "table";
  origin.number = offset;
  AddEdit(planning.plan, edits, edit, std::move(bytes), tableNode, 1, AddOrigin(edits, origin));
  return headerGrowth;
}

// Where the new database differs from the original, in its own offsets, a byte wider on each
// side, overlapping ranges merged; the edits are in order.
void NoteChangedRanges(PackPlan& plan) {
  std::int64_t shift = 0;
  for (const ByteEdit& edit : plan.edits) {
    const std::int64_t at = edit.at + shift;
    const std::int64_t written = WrittenSize(plan, edit);
    const ByteRange range{std::max<std::int64_t>(at - 1, 0), at + written + 1};
    if (!plan.changed.empty() && plan.changed.back().end >= range.start) {
      plan.changed.back().end = std::max(plan.changed.back().end, range.end);
    } else {
      plan.changed.push_back(range);
    }
    shift += written - edit.removed;
  }
}

}  // namespace

std::uint32_t AddOrigin(EditList& edits, const EditOrigin& origin) {
  edits.origins.push_back(origin);
  return static_cast<std::uint32_t>(edits.origins.size() - 1);
}

void AddEdit(PackPlan& plan, EditList& edits, ByteEdit edit, std::string inserted,
             std::size_t tableNode, int rank, std::uint32_t origin) {
  if (!inserted.empty()) {
    edit.inserted = static_cast<std::uint32_t>(plan.insertions.size());
    plan.insertions.push_back(std::move(inserted));
  }
  edits.edits.push_back(
      {edit, static_cast<std::uint32_t>(tableNode), origin, static_cast<std::uint8_t>(rank)});
}

std::string ReadOffProblem(const PackRules& rules, const std::string& source,
                           const ReadOffLengths& held) {
  const std::string why = rules.walk->moveToNodeEnds
                              ? "changes a record that is read off its stored lengths"
                              : "changes the database after a record that is read off its "
                                "stored lengths, and everything after it is read so";
  return source + ": " + why + " (the field @" + std::to_string(held.field) +
         " is not read as its length says; nodedump shows it); keep it as it is";
}

void PlanRemovals(PackPlanning& planning, EditList& edits, const TableSources& table,
                  const NewTable& newTable) {
  const std::size_t firstEdit = edits.edits.size();
  for (std::uint32_t record = 0; record < newTable.recordStays.size(); ++record) {
    if (newTable.recordStays[record]) continue;
    const MergedRecord* verdict = VerdictOf(table.merged, record);
    const bool removed = verdict != nullptr && verdict->removed;
    const RecordSpot& spot = SpotOf(planning.original, table.table, record);
    PendingEdit* last = edits.edits.size() > firstEdit ? &edits.edits.back() : nullptr;
    if (last != nullptr && last->tableNode == spot.tableNode &&
        last->edit.at + last->edit.removed == spot.offset) {
      last->edit.removed += spot.size;
    } else {
      EditOrigin origin;
      origin.kind = EditOrigin::Kind::Record;
      origin.table = static_cast<std::uint16_t>(table.table);
      origin.removed = removed;
      origin.number = static_cast<std::int64_t>(FileLineOf(table.originalLines, record));
      ByteEdit edit;
      edit.at = spot.offset;
      edit.removed = spot.size;
      AddEdit(planning.plan, edits, edit, {}, spot.tableNode, 2, AddOrigin(edits, origin));
    }
    if (!removed) continue;
    ++planning.plan.changes[table.table].removed;
    if (!planning.withItems) continue;
    const std::string text(OriginalRecordLine(planning.original, table.table, record));
    AddItem(planning,
            Item(PlanAction::Removed, table.table, verdict->removedBy, 0,
                 FileLineOf(table.originalLines, record)),
            text, RecordName(text));
  }
}

void PlanNodeHeaders(PackPlanning& planning, EditList& edits) {
  const Layout& layout = planning.original.layout;
  std::vector<std::int64_t> tableGrowth(layout.tableNodes.size(), 0);
  for (const PendingEdit& pending : edits.edits) {
    const ByteEdit& edit = pending.edit;
    tableGrowth[pending.tableNode] += WrittenSize(planning.plan, edit) - edit.removed;
  }
  std::vector<std::int64_t> databaseGrowth(layout.databases.size(), 0);
  const std::size_t tableNodes = layout.tableNodes.size();
  for (std::size_t index = 0; index < tableNodes; ++index) {
    if (tableGrowth[index] == 0) continue;
    const TableNodeSpot spot = layout.tableNodes[index];
    databaseGrowth[spot.database] +=
        tableGrowth[index] +
        ResizeNode(planning, edits, spot.offset, spot.header, tableGrowth[index], index, "table");
  }
  for (std::size_t index = 0; index < layout.databases.size(); ++index) {
    if (databaseGrowth[index] == 0) continue;
    const DatabaseSpot spot = layout.databases[index];
    ResizeNode(planning, edits, spot.offset, spot.header, databaseGrowth[index], 0,
               "database node");
  }
}

void CheckReadOffLengths(PackPlanning& planning, const EditList& edits) {
  for (const PendingEdit& pending : edits.edits) {
    const ByteEdit& edit = pending.edit;
    for (const ReadOffLengths& held : planning.original.layout.readOff) {
      const bool touches = edit.removed > 0
                               ? edit.at < held.end && edit.at + edit.removed > held.start
                               : edit.at > held.start && edit.at < held.end;
      if (!touches) continue;
      AddProblem(planning.problems,
                 ReadOffProblem(planning.original.rules,
                                OriginText(planning, edits.origins[pending.origin]), held));
      break;
    }
  }
}

void FinishEdits(PackPlanning& planning, EditList& edits) {
  PackPlan& plan = planning.plan;
  std::ranges::stable_sort(edits.edits, [](const PendingEdit& a, const PendingEdit& b) {
    if (a.edit.at != b.edit.at) return a.edit.at < b.edit.at;
    return a.rank < b.rank;
  });
  plan.newSize = planning.original.layout.size;
  plan.edits.reserve(edits.edits.size());
  for (const PendingEdit& pending : edits.edits) {
    plan.newSize += WrittenSize(plan, pending.edit) - pending.edit.removed;
    plan.edits.push_back(pending.edit);
  }
  edits = {};
  NoteChangedRanges(plan);
}
