// The plan's items: moved, changed, added and removed records, and the sources' conflicts.
#include "plan_items.h"

#include <algorithm>

#include "record_patch.h"
#include "split_text.h"

namespace {

// The changed cell of an item of a unit: the unit, and the original's value of it beside the
// source's.
ChangedCell ChangedCellOf(const PackPlanning& planning, const UnitChange& unit, std::size_t source,
                          const StoredRecord& record, const std::vector<std::string>& cells) {
  ChangedCell cell;
  cell.unit = unit.unit;
  cell.newValue = unit.value;
  switch (unit.unit.kind) {
    case UnitKind::Cell:
      if (unit.unit.index < cells.size()) cell.oldValue = cells[unit.unit.index];
      break;
    case UnitKind::Field: {
      const StoredField& field = record.fields[unit.unit.index];
      cell.fieldCode = field.code;
      cell.oldValue = record.bytes.substr(field.offset, field.headerSize + field.payloadSize);
      break;
    }
    case UnitKind::RecordHeader:
      cell.oldValue = {record.bytes.front(), static_cast<char>(record.headerSize)};
      break;
    case UnitKind::WholeRecord:
      // A database source's record as it stores it, the original's with it; a line as text.
      cell.storedRecord = planning.sources[source].kind == SourceKind::Database;
      cell.oldValue = cell.storedRecord ? record.bytes : StoredLine(record);
      break;
  }
  return cell;
}

// One item of a changed unit of a record, for one of the sources that changed it so.
template <typename ShownByCells>
void NoteChangedUnit(PackPlanning& planning, const TableSources& table, const MergedRecord& merged,
                     std::size_t at, std::size_t source, const StoredRecord& record,
                     const std::vector<std::string>& cells, ShownByCells shownByCells) {
  const UnitChange& unit = merged.units[at];
  if (unit.unit.kind == UnitKind::Field && shownByCells(unit.unit.index, source)) return;
  const std::size_t line = SourceLineOf(merged, source);
  PlanItem item =
      Item(PlanAction::Changed, table.table, source, FileLineOf(*table.sources[source].index, line),
           FileLineOf(table.originalLines, merged.record));
  ChangedCell cell = ChangedCellOf(planning, unit, source, record, cells);
  if (!planning.withItems) return;
  PackPlan& plan = planning.plan;
  item.cell = static_cast<std::uint32_t>(plan.changedCells.size());
  item.record = static_cast<std::uint32_t>(plan.records.size() - 1);  // the changed record's
  plan.changedCells.push_back(std::move(cell));
  plan.items.push_back(item);
}

}  // namespace

PlanItem Item(PlanAction action, std::size_t table, std::size_t source, std::size_t line,
              std::size_t originalLine) {
  PlanItem item;
  item.action = action;
  item.table = static_cast<std::uint16_t>(table);
  item.source = static_cast<std::uint16_t>(source);
  item.line = static_cast<std::uint32_t>(line);
  item.originalLine = static_cast<std::uint32_t>(originalLine);
  return item;
}

std::uint32_t AddRecord(PackPlan& plan, std::string_view line, std::string_view name) {
  plan.records.push_back({std::string(name), std::string(line)});
  return static_cast<std::uint32_t>(plan.records.size() - 1);
}

void AddItem(PackPlanning& planning, PlanItem item, std::string_view line, std::string_view name) {
  if (!planning.withItems) return;
  item.record = AddRecord(planning.plan, line, name);
  planning.plan.items.push_back(item);
}

void NoteChangedUnits(PackPlanning& planning, const TableSources& table, const MergedRecord& merged,
                      const StoredRecord& record) {
  const std::vector<std::string> cells = CellsOf(StoredLine(record));
  const std::vector<std::vector<std::size_t>> fieldColumns = ColumnsOfFields(record);
  auto shownByCells = [&](std::size_t field, std::size_t source) {
    for (std::size_t at = 0; at < merged.units.size(); ++at) {
      const ChangeUnit& unit = merged.units[at].unit;
      if (std::ranges::find(merged.alikeSources[at], source) != merged.alikeSources[at].end() &&
          unit.kind == UnitKind::Cell &&
          std::ranges::find(fieldColumns[field], unit.index) != fieldColumns[field].end()) {
        return true;
      }
    }
    return false;
  };
  // A cell that shows the stored value otherwise ("1.000" for 1) is no unit of a change
  // (AddCellChanges).
  for (std::size_t at = 0; at < merged.units.size(); ++at) {
    for (std::size_t source : merged.alikeSources[at])
      NoteChangedUnit(planning, table, merged, at, source, record, cells, shownByCells);
  }
}

void NoteConflicts(PackPlanning& planning, TableSources& table) {
  for (const Conflict& conflict : table.merged.conflicts) {
    TableConflict noted{table.table, FileLineOf(table.originalLines, conflict.record), 0, 0, {},
                        conflict};
    if (conflict.added) {
      const AddedLine& line = table.merged.added[conflict.record];
      noted.originalLine = 0;
      noted.line = FileLineOf(*table.sources[line.source].index, line.line);
      noted.name = RecordName(ReadSourceLine(table.sources[line.source], line.line));
      planning.plan.conflicts.push_back(std::move(noted));
      continue;
    }
    noted.name = RecordName(OriginalRecordLine(planning.original, table.table, conflict.record));
    if (conflict.unit.kind == UnitKind::Field) {
      const StoredRecord& record = RecordOf(planning.original, table, conflict.record);
      noted.fieldCode = record.fields[conflict.unit.index].code;
    }
    planning.plan.conflicts.push_back(std::move(noted));
  }
}
