// The third step of a pack's plan: the edits of the original's bytes. Records written, copied
// and removed, node headers resized to what their nodes hold, and no edit among the bytes that
// the unpacker reads off their stored lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "new_table.h"
#include "planning_state.h"
#include "source_changes.h"

// What asked for edits: a source's line, a record of the original moved or removed, or a node
// whose header changes.
struct EditOrigin {
  enum class Kind : std::uint8_t { Line, Record, Node };
  Kind kind = Kind::Line;
  std::uint16_t table = 0;
  std::uint16_t source = 0;  // a line's
  bool removed = false;      // a record: removed, or moved
  bool database = false;     // a node: a database node, or a table
  std::int64_t number = 0;   // a line's file line, a record's line, a node's offset
};

// An edit on its way into the plan: the plan's edit, the node it grows or shrinks, and the
// order among edits at one offset.
struct PendingEdit {
  ByteEdit edit;
  std::uint32_t tableNode;
  std::uint32_t origin;  // what asked for it (EditList::origins), named only in problems
  std::uint8_t rank;  // 0: appended to the node ending at `at`; 1: a node's header; 2: at a record
};

// The edits asked for so far, in the order asked, and what asked for them.
struct EditList {
  std::vector<PendingEdit> edits;
  std::vector<EditOrigin> origins;
};

// Notes what asks for edits: the edits of one line or node share its origin.
std::uint32_t AddOrigin(EditList& edits, const EditOrigin& origin);

// An edit, with the bytes it inserts (if any, kept in the plan), in its table node, in its rank
// at its offset.
void AddEdit(PackPlan& plan, EditList& edits, ByteEdit edit, std::string inserted,
             std::size_t tableNode, int rank, std::uint32_t origin);

// The rank of an edit at an anchor: appended to the node before it, or at a record.
inline int RankAt(const Anchor& anchor) {
  return anchor.after ? 0 : 2;
}

// A moved record copied to `anchor`: joined to the edit before it where that copies to the same
// place, so that a sorted table's moves take few edits. `origin()` is asked for a new edit only.
template <typename MakeOrigin>
void AddCopy(PackPlan& plan, EditList& edits, const Anchor& anchor, const RecordSpot& spot,
             MakeOrigin origin) {
  const int rank = RankAt(anchor);
  PendingEdit* last = edits.edits.empty() ? nullptr : &edits.edits.back();
  const bool joins = last != nullptr && last->edit.at == anchor.at && last->rank == rank &&
                     last->tableNode == anchor.tableNode && last->edit.removed == 0 &&
                     last->edit.copies > 0 &&
                     last->edit.firstCopy + last->edit.copies == plan.copies.size();
  if (!joins) {
    ByteEdit edit;
    edit.at = anchor.at;
    edit.firstCopy = static_cast<std::uint32_t>(plan.copies.size());
    AddEdit(plan, edits, edit, {}, anchor.tableNode, rank, origin());
    last = &edits.edits.back();
  }
  plan.copies.push_back({spot.offset, spot.size});
  ++last->edit.copies;
  last->edit.copiedSize += spot.size;
}

// The problem of an edit (asked for by `source`) that touches bytes read off their stored
// lengths.
std::string ReadOffProblem(const PackRules& rules, const std::string& source,
                           const ReadOffLengths& held);

// The records of the table that leave their places, removed or moved, leave them: records that
// leave one after another as one stretch of bytes. Removed ones are counted and listed.
void PlanRemovals(PackPlanning& planning, EditList& edits, const TableSources& table,
                  const NewTable& newTable);

// The header of each table node and database node whose payload the edits grow or shrink,
// rewritten; a node that would hold more than a node can is a problem.
void PlanNodeHeaders(PackPlanning& planning, EditList& edits);

// No edit may touch bytes that the unpacker reads off their stored lengths, nor add or remove
// bytes among them: each that does is a problem.
void CheckReadOffLengths(PackPlanning& planning, const EditList& edits);

// The edits put into the plan in the order of their offsets, the new database's size and where
// it differs from the original (PackPlan::changed). The list is emptied.
void FinishEdits(PackPlanning& planning, EditList& edits);
