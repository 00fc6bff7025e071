// Each line of a table's new table turned into edits of the original's bytes: a kept record
// stays or is copied to its place, a changed one is rewritten, an added one built; with what
// became of each in the plan (counts, line hashes, items) and the names it brings.
#pragma once

#include "byte_edits.h"
#include "name_checks.h"
#include "new_table.h"
#include "planning_state.h"
#include "source_changes.h"

// One table on its way into the plan: what its sources change, its new table, and its names.
struct TableInPlanning {
  TableSources sources;
  NewTable newTable;
  NameChecks names;
};

// The edits and plan items of every line of the new table, in the order they are planned
// (LineInOrder); a line that cannot be stored or touches bytes read off their stored lengths is
// a problem.
void PlanNewLines(PackPlanning& planning, EditList& edits, TableInPlanning& table);
