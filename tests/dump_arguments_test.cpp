// Tests of nodedump's command line: options in both forms, their limits and the one file.
#include "dump_arguments.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace {

struct ArgumentsCase {
  std::vector<const char*> arguments;  // after the program path
  std::string path;
  int depth;
  std::int64_t previewBytes;
  bool isError;
};

TEST(DumpArgumentsTest, ReadsOptionsAndFile) {
  const ArgumentsCase cases[] = {
      {{"db"}, "db", 4, 16, false},
      {{"--depth", "2", "db"}, "db", 2, 16, false},
      {{"db", "--depth=1"}, "db", 1, 16, false},
      {{"--max-bytes", "0", "db"}, "db", 4, 0, false},
      {{"--max-bytes=1073741824", "db"}, "db", 4, 1073741824, false},
      {{"--", "--depth"}, "--depth", 4, 16, false},
      {{"-"}, "-", 4, 16, false},
      {{}, "", 4, 16, true},
      {{"--depth", "0", "db"}, "db", 4, 16, true},
      {{"--depth", "5", "db"}, "db", 4, 16, true},
      {{"--depth", "-1", "db"}, "db", 4, 16, true},
      {{"--depth", "+2", "db"}, "db", 4, 16, true},
      {{"--depth", "2x", "db"}, "db", 4, 16, true},
      {{"--depth="}, "", 4, 16, true},
      {{"db", "--depth"}, "db", 4, 16, true},
      {{"--max-bytes", "1073741825", "db"}, "db", 4, 16, true},
      {{"--max-bytes", "99999999999999999999", "db"}, "db", 4, 16, true},
      {{"--verbose", "db"}, "", 4, 16, true},
      {{"-d", "db"}, "", 4, 16, true},
      {{"db", "other"}, "db", 4, 16, true},
      {{""}, "", 4, 16, true},
  };
  for (const ArgumentsCase& test : cases) {
    std::vector<const char*> arguments = {"nodedump"};
    arguments.insert(arguments.end(), test.arguments.begin(), test.arguments.end());
    const DumpArguments parsed = ParseDumpArguments(arguments);
    const std::string label = ::testing::PrintToString(test.arguments);
    EXPECT_EQ(!parsed.error.empty(), test.isError) << label << ": " << parsed.error;
    if (test.isError) continue;
    EXPECT_EQ(parsed.path, test.path) << label;
    EXPECT_EQ(parsed.options.depth, test.depth) << label;
    EXPECT_EQ(parsed.options.previewBytes, test.previewBytes) << label;
  }
}

TEST(DumpArgumentsTest, HelpAndVersionNeedNoFile) {
  const char* help[] = {"nodedump", "--help"};
  const char* version[] = {"nodedump", "--version"};
  EXPECT_TRUE(ParseDumpArguments(help).wantsHelp);
  EXPECT_TRUE(ParseDumpArguments(help).error.empty());
  EXPECT_TRUE(ParseDumpArguments(version).wantsVersion);
  EXPECT_TRUE(ParseDumpArguments(version).error.empty());
}

TEST(DumpArgumentsTest, ErrorSaysWhatIsWrong) {
  const char* depth[] = {"nodedump", "--depth", "9", "db"};
  EXPECT_EQ(ParseDumpArguments(depth).error, "--depth takes a number from 1 to 4, not '9'");
  const char* unknown[] = {"nodedump", "--colour", "db"};
  EXPECT_EQ(ParseDumpArguments(unknown).error, "unknown option '--colour'");
}

// The names of the unpackers a command line chose, in their order.
std::vector<std::string_view> ChosenUnpackers(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "nodedump");
  const DumpArguments parsed = ParseDumpArguments(arguments);
  EXPECT_EQ(parsed.error, "");
  std::vector<std::string_view> names;
  for (const UnpackerFormat* format : parsed.options.unpackers)
    names.push_back(format->unpacker);
  return names;
}

TEST(DumpArgumentsTest, UnpackersAreChosenByNameOrByTheFilesExtension) {
  const std::vector<std::string_view> both = {"grimdex", "lorudex"};
  const struct {
    std::vector<const char*> arguments;
    std::vector<std::string_view> unpackers;
  } cases[] = {
      {{"--unpacker", "grimdex", "db"}, {"grimdex"}},
      {{"--unpacker=lorudex", "db.sdb"}, {"lorudex"}},
      {{"--unpacker", "both", "db.sdb"}, both},
      {{"--unpacker=none", "db.qdb"}, {}},
      {{"spells.sdb"}, {"grimdex"}},
      {{"QUESTS.QDB"}, {"lorudex"}},
      {{"quests.Qdb"}, {"lorudex"}},
      {{"spells.sdb.bak"}, both},
      {{"folder.sdb/database"}, both},
      {{"folder.qdb\\database"}, both},
      {{"sdb"}, both},
      {{"spells."}, both},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(ChosenUnpackers(test.arguments), test.unpackers)
        << ::testing::PrintToString(test.arguments);
  }
}

TEST(DumpArgumentsTest, AnUnknownUnpackerIsRefusedWithTheChoices) {
  const char* other[] = {"nodedump", "--unpacker", "grim", "db"};
  EXPECT_EQ(ParseDumpArguments(other).error,
            "--unpacker takes grimdex, lorudex, both or none, not 'grim'");
  const char* empty[] = {"nodedump", "--unpacker=", "db"};
  EXPECT_EQ(ParseDumpArguments(empty).error,
            "--unpacker takes grimdex, lorudex, both or none, not ''");
  const char* missing[] = {"nodedump", "db", "--unpacker"};
  EXPECT_EQ(ParseDumpArguments(missing).error, "--unpacker needs grimdex, lorudex, both or none");
}

}  // namespace
