// The plan's items: moved, changed, added and removed records, and the sources' conflicts.
#include "plan_items.h"

#include <algorithm>

#include "record_patch.h"
#include "split_text.h"

namespace {

// The bytes as hexadecimal pairs, for a plan item about bytes no column shows.
std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[static_cast<std::uint8_t>(c) >> 4];
    text += kDigits[static_cast<std::uint8_t>(c) & 15];
  }
  return text;
}

// A record node's kind byte and length form, as a plan item shows them: "kind 2, long form".
std::string HeaderText(char kind, std::size_t headerSize) {
  return "kind " + std::to_string(static_cast<std::uint8_t>(kind)) +
         (headerSize == 2 ? ", short form" : ", long form");
}

// The changed cell of an item of a unit: which column or what else, and its old and new text.
ChangedCell ChangedCellOf(const PackPlanning& planning, const UnitChange& unit, std::size_t source,
                          const StoredRecord& record, const std::vector<std::string>& cells) {
  ChangedCell cell;
  cell.newText = unit.value;
  switch (unit.unit.kind) {
    case UnitKind::Cell:
      cell.column = unit.unit.index;
      if (unit.unit.index < cells.size()) cell.oldText = cells[unit.unit.index];
      break;
    case UnitKind::Field: {
      const StoredField& field = record.fields[unit.unit.index];
      cell.columnText = "(field code " + std::to_string(field.code) + ")";
      cell.oldText = HexBytes(std::string_view(record.bytes)
                                  .substr(field.offset, field.headerSize + field.payloadSize));
      cell.newText = HexBytes(unit.value);
      break;
    }
    case UnitKind::RecordHeader:
      cell.columnText = "(the record's header)";
      cell.oldText = HeaderText(record.bytes.front(), record.headerSize);
      cell.newText = HeaderText(unit.value[0], static_cast<std::size_t>(unit.value[1]));
      break;
    case UnitKind::WholeRecord: {
      // A database source's record in hexadecimal, the original's with it; a line as text.
      const bool database = planning.sources[source].kind == SourceKind::Database;
      cell.columnText = "(the record)";
      cell.oldText = database ? HexBytes(record.bytes) : StoredLine(record);
      if (database) cell.newText = HexBytes(unit.value);
      break;
    }
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
  const PackRules& rules = planning.original.rules;
  for (const Conflict& conflict : table.merged.conflicts) {
    TableConflict noted{table.table, FileLineOf(table.originalLines, conflict.record), 0, {}, {},
                        conflict};
    if (conflict.added) {
      const AddedLine& line = table.merged.added[conflict.record];
      noted.originalLine = 0;
      noted.line = FileLineOf(*table.sources[line.source].index, line.line);
      noted.what = "the record";
      noted.name = RecordName(ReadSourceLine(table.sources[line.source], line.line));
      planning.plan.conflicts.push_back(std::move(noted));
      continue;
    }
    noted.name = RecordName(OriginalRecordLine(planning.original, table.table, conflict.record));
    switch (conflict.unit.kind) {
      case UnitKind::Cell:
        noted.what = ColumnName(rules.tables[table.table], conflict.unit.index);
        break;
      case UnitKind::Field: {
        const StoredRecord& record = RecordOf(planning.original, table, conflict.record);
        noted.what = "field code " + std::to_string(record.fields[conflict.unit.index].code);
        // Shown as a changed item shows them.
        for (std::string& value : noted.conflict.values)
          value = HexBytes(value);
        break;
      }
      case UnitKind::RecordHeader:
        noted.what = "the record's header";
        for (std::string& value : noted.conflict.values)
          value = HeaderText(value[0], static_cast<std::size_t>(value[1]));
        break;
      case UnitKind::WholeRecord:
        noted.what = "the record";
        break;
    }
    planning.plan.conflicts.push_back(std::move(noted));
  }
}
