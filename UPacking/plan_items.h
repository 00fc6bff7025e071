// The items of a pack's plan, for a person to read: each line or record that does not simply
// stay where it was, the units it changes, and the sources' conflicts with what they are about.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "planning_state.h"
#include "source_changes.h"

// An item without its record.
PlanItem Item(PlanAction action, std::size_t table, std::size_t source, std::size_t line,
              std::size_t originalLine);

// The record of plan items of the given line and name, added to the plan; its index.
std::uint32_t AddRecord(PackPlan& plan, std::string_view line, std::string_view name);

// An item of its own record, of the given name and line; nothing unless the plan lists items.
void AddItem(PackPlanning& planning, PlanItem item, std::string_view line, std::string_view name);

// Items for the units of a changed record (the original's `record`) that the sources changed,
// one for each source that changed a unit so, of the plan's last record (AddRecord). A field's
// bytes are an item of their own only where no cell of the same source shows them.
void NoteChangedUnits(PackPlanning& planning, const TableSources& table, const MergedRecord& merged,
                      const StoredRecord& record);

// The conflicts of the table's sources, with what they are about (PackPlan::conflicts).
void NoteConflicts(PackPlanning& planning, TableSources& table);
