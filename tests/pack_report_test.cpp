// Tests of how the plan shows the units it keeps raw: cells, fields' bytes, record headers and
// whole records, in changed items and in conflicts.
#include "pack_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr TableSpec kTables[] = {{"Spells.txt", "Name\tMana\tSchool"}};
const PackRules kRules{kTables, nullptr};

ChangedCell Changed(UnitKind kind, std::size_t index, std::string oldValue, std::string newValue,
                    std::uint8_t fieldCode = 0, bool storedRecord = false) {
  ChangedCell cell;
  cell.unit = {kind, index};
  cell.fieldCode = fieldCode;
  cell.storedRecord = storedRecord;
  cell.oldValue = std::move(oldValue);
  cell.newValue = std::move(newValue);
  return cell;
}

TEST(PackReportTest, AChangedUnitShowsItsColumnAndItsValuesInTheirForm) {
  const struct {
    ChangedCell cell;
    ShownChange shown;
  } cases[] = {
      {Changed(UnitKind::Cell, 1, "15", "20"), {"Mana", "15", "20"}},
      {Changed(UnitKind::Cell, 4, "", "x"), {"5", "", "x"}},  // beyond the header: its number
      {Changed(UnitKind::Field, 2, std::string("\x05\x02\xAB\x00", 4), "\x05\x01\x0F", 5),
       {"(field code 5)", "05 02 AB 00", "05 01 0F"}},
      {Changed(UnitKind::RecordHeader, 0, "\x02\x02", "\x82\x04"),
       {"(the record's header)", "kind 2, short form", "kind 130, long form"}},
      {Changed(UnitKind::WholeRecord, 0, "\x01\x02\xFF", "\x10", 0, true),
       {"(the record)", "01 02 FF", "10"}},
      {Changed(UnitKind::WholeRecord, 0, "Fireball\t15", "Fireball\t15\textra"),
       {"(the record)", "Fireball\t15", "Fireball\t15\textra"}},
  };
  for (const auto& test : cases) {
    const ShownChange shown = ShownChangeOf(kRules, 0, test.cell);
    EXPECT_EQ(shown.column, test.shown.column);
    EXPECT_EQ(shown.oldText, test.shown.oldText) << test.shown.column;
    EXPECT_EQ(shown.newText, test.shown.newText) << test.shown.column;
  }
}

TEST(PackReportTest, AConflictNamesWhatItIsAboutAndShowsValuesAsChangedItemsDo) {
  const struct {
    ChangeUnit unit;
    bool added;
    std::uint8_t fieldCode;
    std::string value;
    std::string what;
    std::string valueText;
  } cases[] = {
      {{UnitKind::Cell, 1}, false, 0, "12.5", "\"Mana\"", "12.5"},
      {{UnitKind::Cell, 7}, false, 0, "a", "8", "a"},
      {{UnitKind::Field, 3}, false, 9, "\x09\x01\x7F", "field code 9", "09 01 7F"},
      {{UnitKind::RecordHeader, 0},
       false,
       0,
       "\x03\x02",
       "the record's header",
       "kind 3, short form"},
      {{UnitKind::WholeRecord, 0}, false, 0, "", "the record", ""},
      {{UnitKind::WholeRecord, 0}, true, 0, "\x01", "the record", "\x01"},
  };
  for (const auto& test : cases) {
    TableConflict noted;
    noted.fieldCode = test.fieldCode;
    noted.conflict.unit = test.unit;
    noted.conflict.added = test.added;
    noted.conflict.values = {test.value};
    EXPECT_EQ(ConflictWhat(kRules, noted), test.what);
    EXPECT_EQ(ConflictValueText(noted, 0), test.valueText) << test.what;
  }
}

}  // namespace
