// Tests of the unpackers' reading as nodedump follows it: it notes the fields the packers find
// read off their lengths, stops where the unpacker stops at the file's end, and follows each
// chosen unpacker alone.
#include "unpacker_reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "database_cases.h"
#include "known_formats.h"
#include "original_layout.h"
#include "quest_walker.h"
#include "session_databases.h"
#include "spell_walker.h"

namespace {

// An unpacker as the dump names it, its rules and the databases of its kind.
struct Unpacker {
  Unpackers chosen;
  PackRules rules;
  DatabaseKind kind;
  std::vector<DatabaseCase> (*cases)();
};

const Unpacker kGrimdex{FormatAlone(kSpellFormat),
                        {kSpellFormat.tables, &kSpellFormat.walk},
                        DatabaseKind::Spells,
                        SpellCases};
const Unpacker kLorudex{FormatAlone(kQuestFormat),
                        {kQuestFormat.tables, &kQuestFormat.walk},
                        DatabaseKind::Quests,
                        QuestCases};

std::vector<ReadingMark> MarksOf(const std::string& bytes, Unpackers unpackers) {
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  std::vector<ReadingMark> marks = UnpackerReadingMarks(reader, unpackers);
  EXPECT_EQ(Position(reader), 0);
  return marks;
}

std::size_t DamageMarks(const std::vector<ReadingMark>& marks) {
  return static_cast<std::size_t>(std::ranges::count(marks, true, &ReadingMark::isDamage));
}

// The fields the packers find read off their lengths, or none when a value runs past the end.
std::set<std::int64_t> FieldsReadOffTheirLengths(const Unpacker& unpacker,
                                                 const std::string& bytes) {
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  std::set<std::int64_t> fields;
  try {
    for (const ReadOffLengths& readOff : ReadLayout(reader, unpacker.rules, '.').readOff)
      fields.insert(readOff.field);
  } catch (const PackFailure&) {
    fields.clear();
  }
  return fields;
}

std::set<std::int64_t> NotedFields(const std::vector<ReadingMark>& marks) {
  std::set<std::int64_t> fields;
  for (const ReadingMark& mark : marks) {
    if (!mark.isDamage) fields.insert(mark.offset);
  }
  return fields;
}

// Every database of the whole-program tests: the dump stops where the unpacker reports a read
// beyond the end, and notes every field the packers find read off its length.
TEST(UnpackerReadingTest, AgreesWithTheUnpackersOnTheDatabasesOfTheTests) {
  std::size_t noted = 0;
  std::size_t stopped = 0;
  for (const Unpacker* unpacker : {&kGrimdex, &kLorudex}) {
    for (const DatabaseCase& test : unpacker->cases()) {
      SCOPED_TRACE(test.name);
      const std::vector<ReadingMark> marks = MarksOf(test.database, unpacker->chosen);
      EXPECT_TRUE(std::ranges::is_sorted(marks, {}, &ReadingMark::offset));
      const bool readBeyondEnd = test.console.find("Read beyond end of file") != std::string::npos;
      EXPECT_EQ(DamageMarks(marks), readBeyondEnd ? 1u : 0u);
      stopped += DamageMarks(marks);
      if (readBeyondEnd) continue;
      // The packers hold all that follows the first misread field of a walk that does not move
      // to node ends: they note that field alone.
      const std::set<std::int64_t> notedFields = NotedFields(marks);
      const std::set<std::int64_t> heldFields = FieldsReadOffTheirLengths(*unpacker, test.database);
      EXPECT_TRUE(std::ranges::includes(notedFields, heldFields));
      EXPECT_EQ(notedFields.empty(), heldFields.empty());
      noted += notedFields.size();
    }
  }
  EXPECT_GT(noted, 0u);
  EXPECT_GT(stopped, 0u);
}

// Generated databases unpack without a failure and read every field by its length.
TEST(UnpackerReadingTest, GeneratedDatabasesAreReadByTheirLengths) {
  for (const Unpacker* unpacker : {&kGrimdex, &kLorudex}) {
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
      const std::string bytes = GenerateDatabase(unpacker->kind, seed, 8);
      EXPECT_TRUE(MarksOf(bytes, unpacker->chosen).empty()) << seed;
    }
  }
}

TEST(UnpackerReadingTest, BothUnpackersAreEachOneFollowedAlone) {
  std::vector<DatabaseCase> cases = SpellCases();
  std::ranges::move(QuestCases(), std::back_inserter(cases));
  for (const DatabaseCase& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_TRUE(MarksOf(test.database, Unpackers{}).empty());
    std::vector<ReadingMark> each = MarksOf(test.database, FormatAlone(kSpellFormat));
    std::ranges::move(MarksOf(test.database, FormatAlone(kQuestFormat)), std::back_inserter(each));
    std::ranges::stable_sort(each, {}, &ReadingMark::offset);
    const std::vector<ReadingMark> both = MarksOf(test.database, Unpackers{kKnownFormats});
    ASSERT_EQ(both.size(), each.size());
    for (std::size_t index = 0; index < both.size(); ++index)
      EXPECT_EQ(both[index].text, each[index].text);
  }
}

}  // namespace
