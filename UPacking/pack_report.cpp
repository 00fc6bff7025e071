// The plan and the summary of a pack, as text.
#include "pack_report.h"

#include <vector>

#include "message_text.h"

namespace {

// Rounded values and duplicate names listed one by one in the summary; the rest are counted.
constexpr std::size_t kListedOneByOne = 10;

constexpr std::string_view kActionNames[] = {"moved", "changed", "added", "removed"};

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

// A record node's kind byte and length form (a header unit's two bytes), as a plan item shows
// them: "kind 2, long form".
std::string HeaderText(std::string_view header) {
  return "kind " + std::to_string(static_cast<std::uint8_t>(header[0])) +
         (static_cast<std::size_t>(header[1]) == 2 ? ", short form" : ", long form");
}

// A cell or a name of the game in a plan line: escaped, whole, and marked as a game text.
std::string GameTextInPlan(std::string_view text) {
  return MarkedGameText(EscapedText(text));
}

std::string PlanLine(const PackRules& rules, const PackPlan& plan, const PlanItem& item) {
  std::string text(kActionNames[static_cast<std::size_t>(item.action)]);
  text += '\t';
  text += rules.tables[item.table].fileName;
  text += '\t' + std::to_string(item.source + 1) + '\t';
  text += item.action == PlanAction::Removed ? "-" : std::to_string(item.line);
  text += '\t';
  text += item.originalLine == 0 ? "-" : std::to_string(item.originalLine);
  if (item.action == PlanAction::Changed) {
    const ShownChange shown = ShownChangeOf(rules, item.table, plan.changedCells[item.cell]);
    text += '\t' + EscapedText(shown.column);
    text += '\t' + GameTextInPlan(shown.oldText);
    text += '\t' + GameTextInPlan(shown.newText);
  }
  return text + '\t' + GameTextInPlan(plan.records[item.record].name) + '\n';
}

// What a conflict is about, bare: a column's name, or what else in parentheses.
std::string ConflictSubject(const PackRules& rules, const TableConflict& conflict) {
  if (conflict.conflict.unit.kind == UnitKind::Cell) {
    return BareColumnName(rules.tables[conflict.table], conflict.conflict.unit.index);
  }
  return "(" + ConflictWhat(rules, conflict) + ")";
}

std::string ConflictLine(const PackRules& rules, const TableConflict& noted) {
  const Conflict& conflict = noted.conflict;
  std::string text = "conflict\t";
  text += TableName(rules, noted.table);
  text += '\t';
  text += std::to_string(conflict.winner + 1);
  text += '\t';
  text += conflict.added ? std::to_string(noted.line) + "\t-"
                         : "-\t" + std::to_string(noted.originalLine);
  text += '\t';
  text += EscapedText(ConflictSubject(rules, noted));
  for (std::size_t at = 0; at < conflict.sources.size(); ++at) {
    text += '\t';
    text += std::to_string(conflict.sources[at] + 1);
    text += '\t';
    if (conflict.added) {
      text += "(added)";
    } else if (conflict.unit.kind == UnitKind::WholeRecord) {
      text += conflict.removals[at] ? "(removed)" : "(changed)";
    } else {
      text += GameTextInPlan(ConflictValueText(noted, at));
    }
  }
  return text + "\n";
}

// " (Fireball)" for a record's name as a message shows it, nothing for an empty one.
std::string NameInParentheses(std::string_view name) {
  return name.empty() ? std::string() : " (" + ShownText(name) + ")";
}

std::string TableSummary(std::string_view name, const TableChanges& changes) {
  std::string text = "  " + std::string(name) + ": " + std::to_string(changes.kept) + " kept";
  if (changes.moved > 0) text += " (" + std::to_string(changes.moved) + " moved)";
  text += ", " + std::to_string(changes.changed) + " changed";
  if (changes.changedMoved > 0) text += " (" + std::to_string(changes.changedMoved) + " moved)";
  text += ", " + std::to_string(changes.added) + " added, " + std::to_string(changes.removed) +
          " removed\n";
  return text;
}

std::string RoundedSummary(const PackRules& rules, const PackPlan& plan) {
  if (plan.rounded.empty()) return {};
  std::string text = Plural(plan.rounded.size(), "value") + " rounded to be stored:\n";
  for (std::size_t index = 0; index < plan.rounded.size() && index < kListedOneByOne; ++index) {
    const RoundedValue& value = plan.rounded[index];
    text += "  " + TableName(rules, value.table) + " line " + std::to_string(value.line) +
            ", column " + ColumnName(rules.tables[value.table], value.cell.column) + ": " +
            QuotedText(value.cell.cell) + " is stored as " + value.cell.stored +
            " and reads back as " + QuotedText(value.cell.readBack) + "\n";
  }
  if (plan.rounded.size() > kListedOneByOne) {
    text += "  ... and " + std::to_string(plan.rounded.size() - kListedOneByOne) + " more\n";
  }
  return text;
}

// The lists of one kind of note (SpacedListCell::commaInElement), under their heading.
std::string SpacedListNotes(const PackRules& rules, const PackPlan& plan, bool commaInElement,
                            std::string_view heading) {
  std::string lines;
  std::size_t count = 0;
  for (const SpacedListValue& value : plan.spacedLists) {
    if (value.cell.commaInElement != commaInElement) continue;
    ++count;
    lines += "  " + TableName(rules, value.table) + " line " + std::to_string(value.line) +
             ", column " + ColumnName(rules.tables[value.table], value.cell.column) + ": " +
             QuotedText(value.cell.cell) + "\n";
  }
  return count == 0 ? std::string() : Plural(count, "list") + std::string(heading) + lines;
}

std::string SpacedListSummary(const PackRules& rules, const PackPlan& plan) {
  return SpacedListNotes(rules, plan, false,
                         " stored with an element that is empty or begins or ends with a space, "
                         "as written (the elements are split at the joiner \",\" alone):\n") +
         SpacedListNotes(rules, plan, true,
                         " stored with a comma inside an element, as written (the elements are "
                         "split at the joiner \", \" alone):\n");
}

// The lines that hold a name: "line 4 and line 9", with their sources when there are several.
std::string NamedLines(const DuplicateName& duplicate, bool several) {
  std::string text;
  for (std::size_t at = 0; at < duplicate.lines.size(); ++at) {
    if (at > 0) text += at + 1 == duplicate.lines.size() ? " and " : ", ";
    const SourceLine& line = duplicate.lines[at];
    if (several) text += "source " + std::to_string(line.source + 1) + " ";
    text += "line " + std::to_string(line.line);
  }
  return text;
}

std::string DuplicateNameSummary(const PackRules& rules, const PackPlan& plan, bool several) {
  const std::vector<DuplicateName>& duplicates = plan.duplicateNames;
  if (duplicates.empty()) return {};
  std::string text = Plural(duplicates.size(), "name") +
                     " that a source brings and another record holds too (compared without "
                     "case), packed as they are:\n";
  for (std::size_t index = 0; index < duplicates.size() && index < kListedOneByOne; ++index) {
    const DuplicateName& duplicate = duplicates[index];
    text += "  " + TableName(rules, duplicate.table) + ", column " +
            ColumnName(rules.tables[duplicate.table], duplicate.column) + ": " +
            QuotedText(duplicate.value) + " at " + NamedLines(duplicate, several) + "\n";
  }
  if (duplicates.size() > kListedOneByOne) {
    text += "  ... and " + std::to_string(duplicates.size() - kListedOneByOne) + " more\n";
  }
  return text;
}

}  // namespace

std::string PlanText(const PackRules& rules, const PackPlan& plan) {
  std::string text;
  for (const PlanItem& item : plan.items)
    text += PlanLine(rules, plan, item);
  for (const TableConflict& conflict : plan.conflicts)
    text += ConflictLine(rules, conflict);
  return text;
}

ShownChange ShownChangeOf(const PackRules& rules, std::size_t table, const ChangedCell& cell) {
  switch (cell.unit.kind) {
    case UnitKind::Cell:
      return {BareColumnName(rules.tables[table], cell.unit.index), cell.oldValue, cell.newValue};
    case UnitKind::Field:
      return {"(field code " + std::to_string(cell.fieldCode) + ")", HexBytes(cell.oldValue),
              HexBytes(cell.newValue)};
    case UnitKind::RecordHeader:
      return {"(the record's header)", HeaderText(cell.oldValue), HeaderText(cell.newValue)};
    case UnitKind::WholeRecord:
      break;
  }
  if (cell.storedRecord) return {"(the record)", HexBytes(cell.oldValue), HexBytes(cell.newValue)};
  return {"(the record)", cell.oldValue, cell.newValue};
}

std::string ConflictWhat(const PackRules& rules, const TableConflict& conflict) {
  if (conflict.conflict.added) return "the record";
  switch (conflict.conflict.unit.kind) {
    case UnitKind::Cell:
      return ColumnName(rules.tables[conflict.table], conflict.conflict.unit.index);
    case UnitKind::Field:
      return "field code " + std::to_string(conflict.fieldCode);
    case UnitKind::RecordHeader:
      return "the record's header";
    case UnitKind::WholeRecord:
      break;
  }
  return "the record";
}

std::string ConflictValueText(const TableConflict& conflict, std::size_t at) {
  const std::string& value = conflict.conflict.values[at];
  switch (conflict.conflict.unit.kind) {
    case UnitKind::Field:
      return HexBytes(value);
    case UnitKind::RecordHeader:
      return HeaderText(value);
    case UnitKind::Cell:
    case UnitKind::WholeRecord:
      break;
  }
  return value;
}

std::string ConflictText(const PackRules& rules, const TableConflict& noted, bool packed) {
  const Conflict& conflict = noted.conflict;
  std::string text = conflict.added
                         ? TableName(rules, noted.table) + ", the line added as line " +
                               std::to_string(noted.line) + NameInParentheses(noted.name) +
                               " of source " + std::to_string(conflict.winner + 1) + ", " +
                               ConflictWhat(rules, noted) + ": "
                         : TableName(rules, noted.table) + " line " +
                               std::to_string(noted.originalLine) + NameInParentheses(noted.name) +
                               ", " + (conflict.unit.kind == UnitKind::Cell ? "column " : "") +
                               ConflictWhat(rules, noted) + ": ";
  for (std::size_t at = 0; at < conflict.sources.size(); ++at) {
    text += at > 0 ? ", source " : "source ";
    text += std::to_string(conflict.sources[at] + 1);
    if (conflict.added) {
      text += at > 0 ? " added it with other bytes" : " added it";
    } else if (conflict.unit.kind == UnitKind::WholeRecord) {
      text += conflict.removals[at] ? " removed it" : " changed it";
    } else if (conflict.unit.kind == UnitKind::Cell) {
      text += ' ';
      text += QuotedText(conflict.values[at]);
    } else {
      text += " other bytes";
    }
  }
  return text + "; source " + std::to_string(conflict.winner + 1) +
         (packed ? " won" : " would win");
}

std::string Summary(std::string_view program, const PackRules& rules, const PackPlan& plan,
                    const std::vector<std::string>& sources, std::string_view target, bool dryRun) {
  std::string text = std::string(program) + (dryRun ? ": would write " : ": wrote ") +
                     (target.empty() ? std::string("NEW") : std::string(target)) + " (" +
                     Plural(static_cast<std::size_t>(plan.newSize), "byte") + ")\n";
  const bool several = sources.size() > 1;
  for (std::size_t source = 0; several && source < sources.size(); ++source)
    text += "  source " + std::to_string(source + 1) + ": " + sources[source] + "\n";
  for (std::size_t source : plan.otherHiddenParts) {
    text += "  " + (several ? "source " + std::to_string(source + 1) : std::string("the source")) +
            " holds other parts than ORIGINAL where no table shows them (tables of other kinds, "
            "database nodes, bytes after them): not taken, ORIGINAL's stay\n";
  }
  for (std::size_t table = 0; table < rules.tables.size(); ++table) {
    text += TableSummary(rules.tables[table].fileName, plan.changes[table]);
    const TableChanges& result = plan.changes[table];
    const bool changed = result.changed + result.added + result.removed + result.moved > 0;
    for (std::size_t source = 0; several && changed && source < sources.size(); ++source) {
      const SourceChanges& changes = plan.sourceChanges[table][source];
      text += "    source " + std::to_string(source + 1) + ": " + std::to_string(changes.changed) +
              " changed, " + std::to_string(changes.added) + " added, " +
              std::to_string(changes.removed) + " removed\n";
    }
  }
  if (several || !plan.conflicts.empty()) {
    text += Plural(plan.conflicts.size(), "conflict") + (plan.conflicts.empty() ? "\n" : ":\n");
    for (const TableConflict& conflict : plan.conflicts)
      text += "  " + ConflictText(rules, conflict) + "\n";
  }
  return text + DuplicateNameSummary(rules, plan, several) + RoundedSummary(rules, plan) +
         SpacedListSummary(rules, plan);
}
