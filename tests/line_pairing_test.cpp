// Tests of the pairing of edited lines with records: what a person did to a table, undone.
#include "line_pairing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "table_text.h"

namespace {

using Lines = std::vector<std::string>;

TablePairing Pair(const Lines& records, const Lines& lines) {
  std::vector<std::uint64_t> recordHashes;
  for (const std::string& record : records)
    recordHashes.push_back(LineHash(record));
  std::vector<std::uint64_t> lineHashes;
  for (const std::string& line : lines)
    lineHashes.push_back(LineHash(line));
  PairingTexts texts;
  texts.editedLine = [&](std::size_t line) { return std::string_view(lines[line]); };
  texts.recordLine = [&](std::size_t record) { return std::string_view(records[record]); };
  return PairLines(recordHashes, lineHashes, texts);
}

// A table of spells: unique names and codes, a few schools, prices from a small set, mostly
// empty shop flags.
Lines SpellTable(std::size_t count, std::mt19937& random) {
  const char* schools[] = {"elemental", "senses", "astral", ""};
  Lines table;
  for (std::size_t index = 0; index < count; ++index) {
    table.push_back("Spell " + std::to_string(index) + "\tcode" + std::to_string(index * 7) + "\t" +
                    schools[random() % 4] + "\t" + std::to_string(10 * (random() % 12)) + "\t" +
                    (random() % 5 == 0 ? "1" : "") + "\t\t" + (random() % 7 == 0 ? "1" : ""));
  }
  return table;
}

std::string Cell(const std::string& line, std::size_t column) {
  std::size_t at = 0;
  for (std::size_t index = 0; index < column; ++index)
    at = line.find('\t', at) + 1;
  return line.substr(at, line.find('\t', at) - at);
}

std::string WithCell(const std::string& line, std::size_t column, const std::string& cell) {
  std::string result;
  std::size_t at = 0;
  for (std::size_t index = 0;; ++index) {
    const std::size_t tab = line.find('\t', at);
    result += index == column ? cell : line.substr(at, tab == std::string::npos ? tab : tab - at);
    if (tab == std::string::npos) return result;
    result += '\t';
    at = tab + 1;
  }
}

// A session on the table and, for every line it leaves, the record it came from (kNoRecord for
// a line a person added that resembles nothing).
struct Session {
  Lines lines;
  std::vector<std::uint32_t> records;
};

Session Unedited(const Lines& table) {
  Session session{table, {}};
  for (std::uint32_t record = 0; record < table.size(); ++record)
    session.records.push_back(record);
  return session;
}

void ExpectPairedAsTheSessionWent(const Lines& table, const Session& session) {
  const TablePairing pairing = Pair(table, session.lines);
  for (std::size_t line = 0; line < session.lines.size(); ++line) {
    EXPECT_EQ(pairing.recordOfLine[line], session.records[line])
        << "line " << line << ": " << session.lines[line];
  }
  for (std::size_t record = 0; record < table.size(); ++record) {
    const bool kept = std::ranges::count(session.records, record) > 0;
    EXPECT_EQ(pairing.lineOfRecord[record] != kNoLine, kept) << "record " << record;
  }
}

// Sorted by a column or reversed, a few lines deleted, one cell changed in a few lines: every
// line finds the record it came from.
TEST(LinePairingTest, SpreadsheetSessionsKeepEveryLinesRecord) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    const Lines table = SpellTable(5 + random() % 120, random);
    Session session = Unedited(table);
    std::vector<std::size_t> order(table.size());
    for (std::size_t at = 0; at < order.size(); ++at)
      order[at] = at;
    const std::size_t column = random() % 4;
    if (random() % 3 == 0) {
      std::ranges::reverse(order);
    } else if (random() % 2 == 0) {
      std::ranges::stable_sort(order, {}, [&](std::size_t at) { return Cell(table[at], column); });
    }
    Session sorted;
    for (std::size_t at : order) {
      sorted.lines.push_back(session.lines[at]);
      sorted.records.push_back(session.records[at]);
    }
    for (std::size_t deleted = random() % 3; deleted > 0 && sorted.lines.size() > 2; --deleted) {
      const std::size_t at = random() % sorted.lines.size();
      sorted.lines.erase(sorted.lines.begin() + static_cast<std::ptrdiff_t>(at));
      sorted.records.erase(sorted.records.begin() + static_cast<std::ptrdiff_t>(at));
    }
    for (std::size_t changed = 1 + random() % 3; changed > 0; --changed) {
      const std::size_t at = random() % sorted.lines.size();
      sorted.lines[at] = WithCell(sorted.lines[at], 3 + random() % 4, "777");
    }
    SCOPED_TRACE(round);
    ExpectPairedAsTheSessionWent(table, sorted);
  }
}

TEST(LinePairingTest, DeletedLineAndChangedNextOne) {
  const Lines table = {"flame\tburn\teffect\t2\t1", "flame\tburn,pierce\t\t3\t",
                       "frost\tchill\t\t4\t1", "ice\tchill\thoming\t3\t"};
  const Lines lines = {"flame\tburn,pierce\t\t5\t", "frost\tchill\t\t4\t1",
                       "ice\tchill\thoming\t3\t"};
  const TablePairing pairing = Pair(table, lines);
  EXPECT_EQ(pairing.recordOfLine, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(pairing.lineOfRecord[0], kNoLine);
  EXPECT_FALSE(pairing.equal[0]);
  EXPECT_TRUE(pairing.inPlace[0]);
}

// A row copied and renamed is added, built on the row it was copied from, wherever it stands.
TEST(LinePairingTest, DuplicatedAndRenamedLineIsBuiltOnItsSource) {
  std::mt19937 random(3);
  const Lines table = SpellTable(60, random);
  Lines lines = table;
  lines.push_back(WithCell(table[17], 0, "Copied Spell"));
  lines.insert(lines.begin() + 40, WithCell(table[5], 0, "Another Copy"));
  const TablePairing pairing = Pair(table, lines);
  EXPECT_EQ(pairing.recordOfLine[40], kNoRecord);
  EXPECT_EQ(pairing.templateOfLine[40], 5u);
  EXPECT_EQ(pairing.recordOfLine.back(), kNoRecord);
  EXPECT_EQ(pairing.templateOfLine.back(), 17u);
  EXPECT_EQ(std::ranges::count(pairing.lineOfRecord, kNoLine), 0);
}

// A new line sharing only what most records share (empty flags, a common school) is added and
// resembles nothing; the record deleted beside it is removed.
TEST(LinePairingTest, CommonCellsAloneNeverPairALine) {
  Lines table;
  for (int index = 0; index < 30; ++index)
    table.push_back("Spell " + std::to_string(index) + "\tc" + std::to_string(index) +
                    "\telemental\t\t\t\t");
  Lines lines = table;
  lines.erase(lines.begin() + 10, lines.begin() + 12);
  lines.insert(lines.begin() + 10, "Brand New\tnew\telemental\t\t\t\t");
  const TablePairing pairing = Pair(table, lines);
  EXPECT_EQ(pairing.recordOfLine[10], kNoRecord);
  EXPECT_EQ(pairing.templateOfLine[10], kNoRecord);
  EXPECT_EQ(pairing.lineOfRecord[10], kNoLine);
  EXPECT_EQ(pairing.lineOfRecord[11], kNoLine);
}

// Equal lines that repeat keep their places when many other lines change: nothing moves.
TEST(LinePairingTest, RepeatedLinesKeepTheirPlaces) {
  Lines table;
  for (int index = 0; index < 20000; ++index)
    table.push_back("fireball\tburn\t\t" + std::to_string(index % 4) + "\t1");
  Lines lines = table;
  for (std::size_t at = 0; at < lines.size(); at += 7)
    lines[at] = WithCell(lines[at], 4, "");
  const TablePairing pairing = Pair(table, lines);
  for (std::size_t line = 0; line < lines.size(); ++line) {
    ASSERT_EQ(pairing.recordOfLine[line], line);
    ASSERT_TRUE(pairing.inPlace[line]);
  }
}

// Every line changed in one cell, the table large: each stays with its own record, in place.
TEST(LinePairingTest, EveryLineChangedInOneCellStaysWithItsRecord) {
  std::mt19937 random(5);
  const Lines table = SpellTable(20000, random);
  Lines lines;
  for (const std::string& line : table)
    lines.push_back(WithCell(line, 3, std::to_string(random() % 1000)));
  const TablePairing pairing = Pair(table, lines);
  for (std::size_t line = 0; line < lines.size(); ++line) {
    ASSERT_EQ(pairing.recordOfLine[line], line);
    ASSERT_TRUE(pairing.inPlace[line]);
  }
}

// A table made by copying records: groups of identical twins, some larger than a value's
// candidates may hold, in a table larger than the sample that weighs values.
Lines TableOfTwins(std::mt19937& random) {
  const char* schools[] = {"elemental", "senses", "astral", ""};
  const std::size_t groupSizes[] = {1, 2, 5, 28, 35, 70, 140};
  Lines table;
  for (std::size_t group = 0; table.size() < kWeightSample + 2000; ++group) {
    const std::string line =
        "Spell " + std::to_string(group) + "\tcode" + std::to_string(group * 7) + "\t" +
        schools[random() % 4] + "\t" + std::to_string(5 * (random() % 20)) + "\t" +
        std::to_string(10 * (random() % 12)) + "\t" + (random() % 5 == 0 ? "1" : "") + "\t";
    table.insert(table.end(), groupSizes[random() % std::size(groupSizes)], line);
  }
  std::ranges::shuffle(table, random);
  return table;
}

// Sorted by Mana, a share of the lines given a new Mana (in some groups every twin): each line
// pairs with a record that held what it held before the change.
TEST(LinePairingTest, ChangedLinesAmongManyTwinsKeepARecordOfTheirOwn) {
  for (unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 random(seed);
    const Lines table = TableOfTwins(random);
    std::vector<std::uint32_t> order(table.size());
    for (std::uint32_t at = 0; at < order.size(); ++at)
      order[at] = at;
    std::ranges::stable_sort(order, {}, [&](std::uint32_t at) { return Cell(table[at], 3); });
    std::unordered_set<std::string> everyTwinChanged;
    Lines lines;
    for (std::uint32_t record : order) {
      const std::string& line = table[record];
      if (random() % 40 == 0) everyTwinChanged.insert(Cell(line, 0));
      const bool changed = everyTwinChanged.contains(Cell(line, 0)) || random() % 100 == 0;
      lines.push_back(changed ? WithCell(line, 3, std::to_string(1000 + random() % 50)) : line);
    }
    const TablePairing pairing = Pair(table, lines);
    SCOPED_TRACE(seed);
    for (std::size_t line = 0; line < lines.size(); ++line) {
      const std::uint32_t record = pairing.recordOfLine[line];
      ASSERT_NE(record, kNoRecord) << "line " << line << ": " << lines[line];
      ASSERT_EQ(table[record], table[order[line]]) << "line " << line << ": " << lines[line];
    }
  }
}

// The same inputs pair the same way, and a record pairs with one line at most.
TEST(LinePairingTest, PairingIsOneToOne) {
  const Lines table = {"a\tx", "a\tx", "b\ty", "c\tz"};
  const Lines lines = {"a\tx", "a\tq", "a\tx", "c\tz", "b\tq"};
  const TablePairing pairing = Pair(table, lines);
  std::vector<int> uses(table.size(), 0);
  for (std::uint32_t record : pairing.recordOfLine) {
    if (record != kNoRecord) ++uses[record];
  }
  EXPECT_TRUE(std::ranges::all_of(uses, [](int use) { return use <= 1; }));
  EXPECT_EQ(pairing.recordOfLine[0], 0u);
  EXPECT_EQ(pairing.recordOfLine[2], 1u);
  EXPECT_EQ(pairing.recordOfLine, Pair(table, lines).recordOfLine);
}

}  // namespace
