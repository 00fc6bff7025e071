// Tests of telling databases apart: every known format is told by its outline and never taken for
// another, and by its extension by nodedump; an outline with no sign, or with signs of several
// formats, is of none.
#include "database_kinds.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dump_arguments.h"
#include "known_formats.h"
#include "session_tools.h"

namespace {

DatabaseOutline OutlineOfBytes(const std::string& bytes) {
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  return OutlineOf(reader);
}

// The tool of the tests that writes databases of the format, or null.
const Tool* ToolOf(const UnpackerFormat& format) {
  for (const Tool* tool : {&kSpells, &kQuests}) {
    if (tool->format == &format) return tool;
  }
  return nullptr;
}

// The samples, databases as the game's own, are told for what they are. The databases the tests
// generate hide tables of other kinds and fields without a column, which may be signs of another
// format too: such a database may be of no format, but is never named for another one (a packer
// would refuse a database of its own kind).
TEST(DatabaseKindsTest, EveryKnownFormatIsToldByItsOutlineAndNeverTakenForAnother) {
  for (const UnpackerFormat* format : kKnownFormats) {
    const Tool* tool = ToolOf(*format);
    ASSERT_NE(tool, nullptr) << format->unpacker << " has no databases in the tests";
    EXPECT_EQ(FormatOfOutline(OutlineOfBytes(ReadWholeFile(tool->sample)), kKnownFormats), format)
        << tool->sample;
    for (std::uint64_t seed = 1; seed <= (kFewCases ? 10 : 60); ++seed) {
      const std::string database =
          GenerateDatabase(tool->kind, seed, static_cast<std::size_t>(2 + seed % 7));
      const UnpackerFormat* told = FormatOfOutline(OutlineOfBytes(database), kKnownFormats);
      EXPECT_TRUE(told == format || told == nullptr)
          << format->unpacker << ", seed " << seed << ": taken for " << told->unpacker;
    }
  }
}

std::string InCapitals(std::string text) {
  for (char& c : text)
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return text;
}

TEST(DatabaseKindsTest, NodedumpFollowsTheUnpackerOfTheFilesFormat) {
  for (const UnpackerFormat* format : kKnownFormats) {
    std::string name = "database.";
    name += format->extension;
    for (const std::string& path : {name, InCapitals(name)}) {
      const char* arguments[] = {"nodedump", path.c_str()};
      const Unpackers chosen = ParseDumpArguments(arguments).options.unpackers;
      ASSERT_EQ(chosen.size(), 1u) << path;
      EXPECT_EQ(chosen.front(), format) << path;
    }
  }
}

TEST(DatabaseKindsTest, EachFormatHasItsOwnNamesAndExtension) {
  std::set<std::string_view> names;
  for (const UnpackerFormat* format : kKnownFormats) {
    for (std::string_view name :
         {format->unpacker, format->packer, format->extension, format->description}) {
      EXPECT_FALSE(name.empty()) << format->unpacker;
      EXPECT_TRUE(names.insert(name).second) << name << " names two formats";
    }
  }
}

// Outlines by hand: the highest field code per table kind (-1: no field), database nodes.
DatabaseOutline Outline(std::size_t databaseNodes,
                        std::initializer_list<std::pair<int, int>> highestCodes) {
  DatabaseOutline outline;
  outline.size = 100;
  outline.databaseNodes = databaseNodes;
  outline.highestFieldCode.fill(-1);
  for (const auto& [tableKind, code] : highestCodes)
    outline.highestFieldCode[static_cast<std::size_t>(tableKind)] = code;
  return outline;
}

TEST(DatabaseKindsTest, AnOutlineWithNoSignOrSignsOfBothIsOfNoFormat) {
  const struct {
    const char* name;
    DatabaseOutline outline;
    const UnpackerFormat* format;
  } cases[] = {
      {"no node", Outline(0, {}), nullptr},
      {"a database node alone", Outline(1, {}), nullptr},
      {"briefings alone", Outline(1, {{1, 7}}), nullptr},
      {"briefings and quests beside composed spells", Outline(1, {{1, 7}, {2, 5}, {5, 2}}),
       &kSpellFormat},
      {"composed spells in two database nodes", Outline(2, {{3, 4}}), nullptr},
      {"quests with zones beside armour spells", Outline(1, {{2, 9}, {4, 4}}), nullptr},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(FormatOfOutline(test.outline, kKnownFormats), test.format) << test.name;
  }
}

}  // namespace
