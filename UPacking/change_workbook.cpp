// The change workbook: a pack's plan as sheets of records, conflicts and sources.
#include "change_workbook.h"

#include <algorithm>
#include <cstdint>

#include "pack_report.h"
#include "split_text.h"
#include "workbook_tables.h"

namespace {

constexpr std::string_view kActionWords[] = {"moved", "changed", "added", "removed"};

// The longest number text taken as a number; longer ones stay text.
constexpr std::size_t kLongestNumber = 40;

// One row of a table sheet: a changed record (all its plan items), an added or a removed one.
struct ChangeRow {
  PlanAction action = PlanAction::Changed;
  std::size_t firstItem = 0;
  std::size_t items = 1;     // plan.items[firstItem, firstItem + items)
  std::size_t sortLine = 0;  // the original's line it comes after (an added record's row above)
};

// The cells of one row, with the texts they point into.
struct RowCells {
  std::vector<std::string> texts;
  std::vector<SheetCell> cells;
};

// A text cut to what a cell holds: at most kMostCellCharacters bytes of UTF-8 (never more UTF-16
// units than bytes), at a character's start.
std::string FittedText(std::string text) {
  if (text.size() <= kMostCellCharacters) return text;
  std::size_t end = kMostCellCharacters;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  text.resize(end);
  return text;
}

// The game's bytes as UTF-8, fitted to a cell.
std::string CellTextOf(const ChangeWorkbookInput& input, std::string_view bytes) {
  std::string utf8;
  AppendUtf8OfBytes(*input.codePage, bytes, utf8);
  return FittedText(std::move(utf8));
}

// A table's number ("-12,5", "1.5E-05") as a workbook's number text with '.', or empty when the
// text is no plain decimal number.
std::string NumberTextOf(std::string_view text, char separator) {
  if (text.empty() || text.size() > kLongestNumber) return {};
  std::string number;
  std::size_t at = 0;
  auto digits = [&] {
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
      number += text[at++];
    return at > start;
  };
  if (text[at] == '-') number += text[at++];
  if (!digits()) return {};
  if (at < text.size() && text[at] == separator) {
    number += '.';
    ++at;
    if (!digits()) return {};
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    number += text[at++];
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) number += text[at++];
    if (!digits()) return {};
  }
  return at == text.size() ? number : std::string();
}

// Adds a cell of a table's text to `row`: a number where the column holds numbers and the text
// reads as one, else a text.
void AddValueCell(const ChangeWorkbookInput& input, bool numberColumn, std::string_view text,
                  CellStyle style, RowCells& row) {
  std::string number = numberColumn ? NumberTextOf(text, input.decimalSeparator) : std::string();
  const bool isNumber = !number.empty();
  row.texts.push_back(isNumber ? std::move(number) : CellTextOf(input, text));
  const SheetCellKind kind = isNumber                   ? SheetCellKind::Number
                             : row.texts.back().empty() ? SheetCellKind::Empty
                                                        : SheetCellKind::Text;
  row.cells.push_back({kind, {}, style});
}

void AddTextCell(std::string text, CellStyle style, RowCells& row) {
  const SheetCellKind kind = text.empty() ? SheetCellKind::Empty : SheetCellKind::Text;
  row.texts.push_back(FittedText(std::move(text)));
  row.cells.push_back({kind, {}, style});
}

void AddNumberCell(std::size_t number, RowCells& row) {
  row.texts.push_back(std::to_string(number));
  row.cells.push_back({SheetCellKind::Number, {}, CellStyle::General});
}

// Points the cells at their texts (which stay put once the row is made) and appends the row.
void AppendRow(WorkbookWriter& workbook, std::size_t sheet, RowCells& row) {
  for (std::size_t at = 0; at < row.cells.size(); ++at)
    row.cells[at].value = row.texts[at];
  const std::size_t cells = std::min(row.cells.size(), kMostSheetColumns);
  AppendSheetRow(workbook, sheet, std::span(row.cells).first(cells));
  row = {};
}

void AppendHeader(WorkbookWriter& workbook, std::size_t sheet,
                  const std::vector<std::string>& names) {
  RowCells row;
  for (const std::string& name : names)
    AddTextCell(name, CellStyle::Header, row);
  AppendRow(workbook, sheet, row);
}

std::vector<SheetColumn> ColumnsOf(const std::vector<std::string>& names) {
  std::vector<SheetColumn> columns;
  for (const std::string& name : names)
    columns.push_back({std::clamp(static_cast<double>(name.size()) + 2, 8.0, 40.0)});
  if (columns.size() > kMostSheetColumns) columns.resize(kMostSheetColumns);
  return columns;
}

// The rows of one table's changed, added and removed records, in the original's order.
std::vector<ChangeRow> RowsOfTable(const PackPlan& plan, std::size_t table) {
  std::vector<ChangeRow> rows;
  std::size_t lastLine = 0;
  for (std::size_t at = 0; at < plan.items.size(); ++at) {
    const PlanItem& item = plan.items[at];
    if (item.table != table || item.action == PlanAction::Moved) continue;
    // A changed record's items come one after another and share its record.
    if (item.action == PlanAction::Changed && !rows.empty() &&
        rows.back().action == PlanAction::Changed &&
        plan.items[rows.back().firstItem].record == item.record) {
      ++rows.back().items;
      continue;
    }
    if (item.action != PlanAction::Added) lastLine = item.originalLine;
    rows.push_back({item.action, at, 1, lastLine});
  }
  std::ranges::stable_sort(rows, {}, &ChangeRow::sortLine);
  return rows;
}

// What a table sheet shows: which columns changed and whether other bytes did.
struct TableSheetLayout {
  std::size_t columns = 0;           // of the table
  std::vector<bool> changedColumns;  // per column of the table
  bool otherChanges = false;
  bool severalSources = false;
};

TableSheetLayout LayoutOf(const ChangeWorkbookInput& input, const PackPlan& plan, std::size_t table,
                          const std::vector<ChangeRow>& rows) {
  TableSheetLayout layout;
  layout.severalSources = input.sources.size() > 1;
  layout.columns = SplitColumns(input.rules->tables[table].headerRow).size();
  for (const ChangeRow& row : rows) {
    const PlanItem& first = plan.items[row.firstItem];
    layout.columns = std::max(layout.columns, SplitColumns(plan.records[first.record].line).size());
  }
  layout.columns = std::min(layout.columns, kMostSheetColumns);
  layout.changedColumns.assign(layout.columns, false);
  for (const ChangeRow& row : rows) {
    for (std::size_t at = row.firstItem;
         row.action == PlanAction::Changed && at < row.firstItem + row.items; ++at) {
      const ChangedCell& cell = plan.changedCells[plan.items[at].cell];
      if (cell.unit.kind != UnitKind::Cell) {
        layout.otherChanges = true;
      } else if (cell.unit.index < layout.columns) {
        layout.changedColumns[cell.unit.index] = true;
      }
    }
  }
  return layout;
}

std::vector<std::string> TableHeader(const ChangeWorkbookInput& input, std::size_t table,
                                     const TableSheetLayout& layout) {
  std::vector<std::string> names;
  for (std::string_view name : kChangeColumns) {
    if (name != "Source" || layout.severalSources) names.emplace_back(name);
  }
  for (std::size_t column = 0; column < layout.columns; ++column) {
    const std::string name = CellTextOf(input, BareColumnName(input.rules->tables[table], column));
    names.push_back(name);
    if (layout.changedColumns[column]) names.push_back(name + std::string(kOriginalSuffix));
  }
  if (layout.otherChanges) names.emplace_back(kOtherChangesColumn);
  return names;
}

// The sources of a row's items: "1", "1, 3".
std::string SourcesOfRow(const PackPlan& plan, const ChangeRow& row) {
  std::vector<std::size_t> sources;
  for (std::size_t at = row.firstItem; at < row.firstItem + row.items; ++at)
    sources.push_back(plan.items[at].source + std::size_t{1});
  std::ranges::sort(sources);
  sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
  std::string text;
  for (std::size_t source : sources)
    text += (text.empty() ? "" : ", ") + std::to_string(source);
  return text;
}

void AppendTableRow(WorkbookWriter& workbook, std::size_t sheet, const ChangeWorkbookInput& input,
                    const PackPlan& plan, const std::vector<TableColumn>& kinds,
                    const TableSheetLayout& layout, const ChangeRow& row) {
  const PlanItem& first = plan.items[row.firstItem];
  const PlanRecord& record = plan.records[first.record];
  const CellStyle mark = row.action == PlanAction::Added     ? CellStyle::Added
                         : row.action == PlanAction::Removed ? CellStyle::Removed
                                                             : CellStyle::General;
  // Per column, the original's text of a changed cell; what else changed.
  std::vector<const ChangedCell*> changed(layout.columns, nullptr);
  std::string other;
  for (std::size_t at = row.firstItem;
       row.action == PlanAction::Changed && at < row.firstItem + row.items; ++at) {
    const ChangedCell& cell = plan.changedCells[plan.items[at].cell];
    if (cell.unit.kind != UnitKind::Cell) {
      const ShownChange shown = ShownChangeOf(*input.rules, first.table, cell);
      other += (other.empty() ? "" : "; ") + shown.column + ": " + shown.oldText + " -> " +
               shown.newText;
    } else if (cell.unit.index < layout.columns) {
      changed[cell.unit.index] = &cell;
    }
  }
  RowCells cells;
  AddTextCell(std::string(kActionWords[static_cast<std::size_t>(row.action)]), mark, cells);
  AddNumberCell(row.action == PlanAction::Added ? first.line : first.originalLine, cells);
  cells.texts.push_back(CellTextOf(input, record.name));
  cells.cells.push_back(
      {cells.texts.back().empty() ? SheetCellKind::Empty : SheetCellKind::Text, {}, mark});
  if (layout.severalSources) AddTextCell(SourcesOfRow(plan, row), CellStyle::General, cells);
  const std::vector<std::string_view> values = SplitColumns(record.line);
  for (std::size_t column = 0; column < layout.columns; ++column) {
    const bool number = column < kinds.size() && kinds[column].kind != ColumnKind::Text;
    const std::string_view value = column < values.size() ? values[column] : std::string_view();
    AddValueCell(input, number, value, changed[column] != nullptr ? CellStyle::Changed : mark,
                 cells);
    if (!layout.changedColumns[column]) continue;
    AddValueCell(input, number, changed[column] != nullptr ? changed[column]->oldValue : "",
                 CellStyle::General, cells);
  }
  if (layout.otherChanges) AddTextCell(CellTextOf(input, other), CellStyle::Changed, cells);
  AppendRow(workbook, sheet, cells);
}

// A last row that says how many rows a sheet could not hold.
void AppendLeftOut(WorkbookWriter& workbook, std::size_t sheet, std::size_t leftOut) {
  RowCells cells;
  // Appended, not concatenated to a literal: GCC 12 takes that for an overlapping copy.
  std::string text = std::to_string(leftOut);
  text += " more rows left out: a sheet holds no more";
  AddTextCell(std::move(text), CellStyle::General, cells);
  AppendRow(workbook, sheet, cells);
}

void AddTableSheet(WorkbookWriter& workbook, const ChangeWorkbookInput& input, const PackPlan& plan,
                   std::size_t table) {
  const std::vector<ChangeRow> rows = RowsOfTable(plan, table);
  if (rows.empty()) return;
  const TableSheetLayout layout = LayoutOf(input, plan, table, rows);
  const std::vector<std::string> header = TableHeader(input, table, layout);
  const std::size_t sheet = AddSheet(workbook, std::string(SheetNameOf(input.rules->tables[table])),
                                     ColumnsOf(header), true);
  AppendHeader(workbook, sheet, header);
  const std::vector<TableColumn> kinds =
      ColumnsOfTable(*input.rules->walk, static_cast<int>(table));
  const std::size_t room = kMostSheetRows - 2;  // the header and the row saying what is left out
  for (std::size_t at = 0; at < rows.size() && at < room; ++at)
    AppendTableRow(workbook, sheet, input, plan, kinds, layout, rows[at]);
  if (rows.size() > room) AppendLeftOut(workbook, sheet, rows.size() - room);
}

// What a conflict is about: a column's name, or what else in parentheses.
std::string ConflictSubjectOf(const PackRules& rules, const TableConflict& noted) {
  if (!noted.conflict.added && noted.conflict.unit.kind == UnitKind::Cell) {
    return BareColumnName(rules.tables[noted.table], noted.conflict.unit.index);
  }
  std::string subject = "(";  // by appends, as for ColumnName
  subject += ConflictWhat(rules, noted);
  subject += ')';
  return subject;
}

void AppendConflictRow(WorkbookWriter& workbook, std::size_t sheet,
                       const ChangeWorkbookInput& input, const TableConflict& noted) {
  const Conflict& conflict = noted.conflict;
  RowCells cells;
  AddTextCell(TableName(*input.rules, noted.table), CellStyle::General, cells);
  AddNumberCell(conflict.added ? noted.line : noted.originalLine, cells);
  AddTextCell(CellTextOf(input, noted.name), CellStyle::General, cells);
  AddTextCell(CellTextOf(input, ConflictSubjectOf(*input.rules, noted)), CellStyle::General, cells);
  AddNumberCell(conflict.winner + std::size_t{1}, cells);
  const bool cell = !conflict.added && conflict.unit.kind == UnitKind::Cell;
  bool number = false;
  if (cell) {
    const std::vector<TableColumn> kinds =
        ColumnsOfTable(*input.rules->walk, static_cast<int>(noted.table));
    number =
        conflict.unit.index < kinds.size() && kinds[conflict.unit.index].kind != ColumnKind::Text;
  }
  for (std::size_t source = 0; source < input.sources.size(); ++source) {
    const auto at = std::ranges::find(conflict.sources, source) - conflict.sources.begin();
    const auto index = static_cast<std::size_t>(at);
    if (index == conflict.sources.size()) {
      AddTextCell({}, CellStyle::General, cells);
      continue;
    }
    const CellStyle style = source == conflict.winner ? CellStyle::Changed : CellStyle::General;
    if (conflict.added) {
      AddTextCell("(added)", style, cells);
    } else if (conflict.unit.kind == UnitKind::WholeRecord) {
      AddTextCell(conflict.removals[index] ? "(removed)" : "(changed)", style, cells);
    } else {
      AddValueCell(input, number,
                   index < conflict.values.size() ? ConflictValueText(noted, index) : "", style,
                   cells);
    }
  }
  AppendRow(workbook, sheet, cells);
}

void AddConflictsSheet(WorkbookWriter& workbook, const ChangeWorkbookInput& input,
                       const PackPlan& plan) {
  std::vector<std::string> header = {"Table", "Line", "Record", "Column", "Winner"};
  for (std::size_t source = 0; source < input.sources.size(); ++source)
    header.push_back("Source " + std::to_string(source + 1));
  const std::size_t sheet =
      AddSheet(workbook, std::string(kConflictsSheet), ColumnsOf(header), true);
  AppendHeader(workbook, sheet, header);
  const std::size_t room = kMostSheetRows - 2;
  for (std::size_t at = 0; at < plan.conflicts.size() && at < room; ++at)
    AppendConflictRow(workbook, sheet, input, plan.conflicts[at]);
  if (plan.conflicts.size() > room) AppendLeftOut(workbook, sheet, plan.conflicts.size() - room);
}

// Per source and table, the summary's counts: a single source's are the table's.
void AddSourcesSheet(WorkbookWriter& workbook, const ChangeWorkbookInput& input,
                     const PackPlan& plan) {
  const std::vector<std::string> header = {"Source",  "Path",  "Table",
                                           "Changed", "Added", "Removed"};
  const std::size_t sheet = AddSheet(workbook, std::string(kSourcesSheet), ColumnsOf(header), true);
  AppendHeader(workbook, sheet, header);
  const PackRules& rules = *input.rules;
  for (std::size_t source = 0; source < input.sources.size(); ++source) {
    for (std::size_t table = 0; table < rules.tables.size(); ++table) {
      SourceChanges counts;
      if (input.sources.size() == 1) {
        counts = {plan.changes[table].changed, plan.changes[table].added,
                  plan.changes[table].removed};
      } else {
        counts = plan.sourceChanges[table][source];
      }
      RowCells cells;
      AddNumberCell(source + 1, cells);
      AddTextCell(CellTextOf(input, input.sources[source]), CellStyle::General, cells);
      AddTextCell(TableName(rules, table), CellStyle::General, cells);
      AddNumberCell(counts.changed, cells);
      AddNumberCell(counts.added, cells);
      AddNumberCell(counts.removed, cells);
      AppendRow(workbook, sheet, cells);
    }
  }
}

}  // namespace

void AddChangeSheets(WorkbookWriter& workbook, const ChangeWorkbookInput& input,
                     const PackPlan& plan) {
  for (std::size_t table = 0; table < input.rules->tables.size(); ++table)
    AddTableSheet(workbook, input, plan, table);
  AddConflictsSheet(workbook, input, plan);
  AddSourcesSheet(workbook, input, plan);
}

void WriteChangeWorkbook(const std::string& path, const std::string& model,
                         const ChangeWorkbookInput& input, const PackPlan& plan) {
  WorkbookWriter workbook;
  try {
    AddChangeSheets(workbook, input, plan);
    WriteWorkbookFile(workbook, path, model);
  } catch (...) {
    CloseWorkbookWriter(workbook);
    throw;
  }
}
