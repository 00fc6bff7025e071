// Several sources' changes to one table combined three-way (MergeTable), case by case: each
// case is the sources' changes of a table of three records and what the merge makes of them.
#include "table_merge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr ChangeUnit kCell0{UnitKind::Cell, 0};
constexpr ChangeUnit kCell1{UnitKind::Cell, 1};
constexpr ChangeUnit kWhole{UnitKind::WholeRecord, 0};

RecordChange Changed(std::size_t source, std::uint32_t record, std::vector<UnitChange> units) {
  RecordChange change;
  change.source = source;
  change.record = record;
  change.sourceLine = record;
  change.units = std::move(units);
  return change;
}

RecordChange Removed(std::size_t source, std::uint32_t record) {
  RecordChange change;
  change.source = source;
  change.record = record;
  change.removed = true;
  return change;
}

AddedLine Added(std::size_t source, std::uint64_t hash, std::uint32_t after,
                std::uint64_t bytesHash = 0) {
  return {source, 0, hash, after, bytesHash};
}

// Texts that stand for the same value: the same text, or one with a trailing ".0".
bool SameText(std::uint32_t, const ChangeUnit&, const std::string& value,
              const std::string& winner) {
  return value == winner || value == winner + ".0" || value + ".0" == winner;
}

// What the merge made of a table, in a form a case states on one line: each line of the new
// table ("r1" a record, "a0" an added line), each verdict ("r1 -" removed by its source, "r1
// c0=x/s" a unit's winning value and its source), each conflict ("c r1 c0 0,1 w1").
struct Outcome {
  std::string lines;
  std::string verdicts;
  std::string conflicts;
};

// Built by appends: GCC's optimiser takes "c" + std::to_string(...) for an overlapping copy.
std::string NumberedName(char letter, std::size_t index) {
  std::string name(1, letter);
  name += std::to_string(index);
  return name;
}

std::string UnitName(const ChangeUnit& unit) {
  switch (unit.kind) {
    case UnitKind::Cell:
      return NumberedName('c', unit.index);
    case UnitKind::Field:
      return NumberedName('f', unit.index);
    case UnitKind::RecordHeader:
      return "h";
    case UnitKind::WholeRecord:
      break;
  }
  return "w";
}

Outcome OutcomeOf(const MergedTable& table) {
  Outcome outcome;
  for (const MergedLine& line : table.lines)
    outcome.lines += (line.added ? " a" : " r") + std::to_string(line.index);
  for (const MergedRecord& record : table.verdicts) {
    outcome.verdicts += " r" + std::to_string(record.record);
    if (record.removed) outcome.verdicts += " -" + std::to_string(record.removedBy);
    for (std::size_t at = 0; at < record.units.size(); ++at) {
      outcome.verdicts += ' ';
      outcome.verdicts += UnitName(record.units[at].unit);
      outcome.verdicts += '=';
      outcome.verdicts += record.units[at].value;
      outcome.verdicts += '/';
      outcome.verdicts += std::to_string(record.unitSources[at]);
    }
    outcome.verdicts += ";";
  }
  for (const Conflict& conflict : table.conflicts) {
    outcome.conflicts += conflict.added ? " c a" : " c r";
    outcome.conflicts += std::to_string(conflict.record);
    outcome.conflicts += ' ';
    outcome.conflicts += UnitName(conflict.unit);
    outcome.conflicts += ' ';
    for (std::size_t at = 0; at < conflict.sources.size(); ++at) {
      if (at > 0) outcome.conflicts += ',';
      outcome.conflicts += std::to_string(conflict.sources[at]);
      if (conflict.removals[at]) outcome.conflicts += '-';
    }
    outcome.conflicts += " w" + std::to_string(conflict.winner);
  }
  return outcome;
}

struct MergeCase {
  const char* name;
  std::vector<RecordChange> changes;
  std::vector<AddedLine> added;
  Outcome expected;
};

TEST(TableMergeTest, SourcesCombineAsTheRulesSay) {
  const std::vector<MergeCase> cases = {
      {"nothing changed", {}, {}, {" r0 r1 r2", "", ""}},
      {"one source's change is taken",
       {Changed(0, 1, {{kCell0, "x"}})},
       {},
       {" r0 r1 r2", " r1 c0=x/0;", ""}},
      {"changes of other cells are both taken",
       {Changed(0, 1, {{kCell0, "x"}}), Changed(1, 1, {{kCell1, "y"}})},
       {},
       {" r0 r1 r2", " r1 c0=x/0 c1=y/1;", ""}},
      {"the same change twice is taken once",
       {Changed(0, 1, {{kCell0, "x"}}), Changed(1, 1, {{kCell0, "x"}})},
       {},
       {" r0 r1 r2", " r1 c0=x/1;", ""}},
      {"the same value written otherwise agrees",
       {Changed(0, 1, {{kCell0, "4.0"}}), Changed(1, 1, {{kCell0, "4"}})},
       {},
       {" r0 r1 r2", " r1 c0=4/1;", ""}},
      {"other values: the later source wins, a conflict",
       {Changed(1, 1, {{kCell0, "y"}}), Changed(0, 1, {{kCell0, "x"}})},
       {},
       {" r0 r1 r2", " r1 c0=y/1;", " c r1 c0 0,1 w1"}},
      {"a removal is taken", {Removed(0, 2)}, {}, {" r0 r1", " r2 -0;", ""}},
      {"a later change against a removal wins, a conflict",
       {Removed(0, 1), Changed(1, 1, {{kCell0, "x"}})},
       {},
       {" r0 r1 r2", " r1 c0=x/1;", " c r1 w 0-,1 w1"}},
      {"a later removal against a change wins, a conflict",
       {Changed(0, 1, {{kCell0, "x"}}), Removed(1, 1)},
       {},
       {" r0 r2", " r1 -1;", " c r1 w 0,1- w1"}},
      {"a whole record against a cell: the later alone, a conflict",
       {Changed(0, 0, {{kWhole, "line"}}), Changed(1, 0, {{kCell1, "y"}})},
       {},
       {" r0 r1 r2", " r0 c1=y/1;", " c r0 w 0,1 w1"}},
      {"an added line goes after its record", {}, {Added(0, 7, 0)}, {" r0 a0 r1 r2", "", ""}},
      {"a line added at the top goes first",
       {},
       {Added(0, 7, kNoPrecedingRecord)},
       {" a0 r0 r1 r2", "", ""}},
      {"after a removed record: after the one before it that stays",
       {Removed(0, 1)},
       {Added(1, 7, 1)},
       {" r0 a0 r2", " r1 -0;", ""}},
      {"lines added alike are added once, where the later source put them",
       {},
       {Added(0, 7, 0), Added(1, 7, 2)},
       {" r0 r1 r2 a0", "", ""}},
      {"lines added alike with other bytes: the later source's, a conflict",
       {},
       {Added(0, 7, 0, 11), Added(1, 7, 0, 13)},
       {" r0 a0 r1 r2", "", " c a0 w 0,1 w1"}},
      {"lines added after one record: in load order",
       {},
       {Added(1, 8, 0), Added(0, 7, 0)},
       {" r0 a1 a0 r1 r2", "", ""}},
  };
  for (const MergeCase& merge : cases) {
    SCOPED_TRACE(merge.name);
    const MergedTable table = MergeTable(3, merge.changes, merge.added, SameText, true);
    EXPECT_EQ(OutcomeOf(table).lines, merge.expected.lines);
    EXPECT_EQ(OutcomeOf(table).verdicts, merge.expected.verdicts);
    EXPECT_EQ(OutcomeOf(table).conflicts, merge.expected.conflicts);
  }
}

}  // namespace
