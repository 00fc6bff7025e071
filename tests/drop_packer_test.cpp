// Tests of the packers' run of dropped files: the workbook's own database found beside it, a new
// file beside that one, the command line's pack, and the refusals that say what to do.
#include "drop_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "dropped_runs.h"
#include "session_tools.h"
#include "workbook_tables.h"
#include "workbook_writer.h"

namespace {

DropResult Drop(const Tool& tool, const std::vector<std::string>& dropped) {
  return RunDropped(tool.packer.program.data(), dropped,
                    [&tool](std::span<const char* const> arguments, Console console) {
                      return RunPackerDrop(arguments, tool.packer, console);
                    });
}

void Unpack(const Tool& tool, const std::string& database, const std::string& output) {
  const char* const arguments[] = {"unpacker", database.c_str(), output.c_str()};
  std::string console;
  ASSERT_EQ(RunUnpacker(arguments, *tool.format, Console{&console, &console}), kExitSuccess)
      << console;
}

std::string DatabaseName(const Tool& tool) {
  return std::filesystem::path(tool.sample).filename().string();
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// A workbook of nothing but an About sheet that records `databaseName`.
void WriteOriginOnlyWorkbook(const std::string& path, const std::string& databaseName) {
  WorkbookWriter workbook;
  WorkbookOrigin origin;
  origin.databaseName = databaseName;
  AddOriginSheet(workbook, origin);
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting(path.c_str(), file), 0);
  WriteWorkbook(workbook, file);
  ASSERT_EQ(CloseFile(file), 0);
}

TEST(DropPackerTest, PacksTheDroppedFilesOntoTheWorkbooksDatabaseAsTheCommandLineDoes) {
  for (const Tool* tool : {&kSpells, &kQuests}) {
    SCOPED_TRACE(tool->name);
    TempFolder folder;
    const std::string game = folder / "Игра Ω 遊戲";
    std::filesystem::create_directories(game);
    const std::string name = DatabaseName(*tool);
    const std::string database = game + "/" + name;
    WriteWholeFile(database, ReadWholeFile(tool->sample));
    const std::string workbook = game + "/" + std::string(tool->name) + ".xlsx";
    Unpack(*tool, database, workbook);
    // A second source, a tables folder with one cell changed, dropped after the workbook.
    const std::string mod = folder / "mod";
    Unpack(*tool, database, mod);
    const std::string table = mod + "/" + std::string(tool->tables[0].fileName);
    CellTable cells = CellTableOf(ReadWholeFile(table));
    const std::vector<std::string> header = CellsOf(cells.header);
    const auto nameColumn =
        static_cast<std::size_t>(std::find(header.begin(), header.end(), "Name") - header.begin());
    ASSERT_LT(nameColumn, cells.lines.at(0).size());
    cells.lines[0][nameColumn] = "Renamed by the mod";
    std::string text = cells.header + "\r\n";
    for (const std::vector<std::string>& line : cells.lines)
      text += JoinedCells(line) + "\r\n";
    WriteWholeFile(table, text);

    const std::string expected = folder / "expected";
    const char* const commandLine[] = {"packer", database.c_str(), workbook.c_str(), mod.c_str(),
                                       expected.c_str()};
    std::string console;
    ASSERT_EQ(RunPacker(commandLine, tool->packer, Console{&console, &console}), kExitSuccess)
        << console;

    const std::string stem = name.substr(0, name.rfind('.'));
    const std::string extension = name.substr(name.rfind('.'));
    for (const std::string& packedName :
         {stem + " (packed)" + extension, stem + " (packed 2)" + extension}) {
      const DropResult result = Drop(*tool, {workbook, mod});
      EXPECT_EQ(result.status, kExitSuccess) << result.output;
      EXPECT_EQ(LastLine(result.output),
                "Packed into " + packedName + ", beside " + name +
                    ", which is kept as it was. To play with the changes, copy " + packedName +
                    " into the game's folder as " + name + ".");
      EXPECT_EQ(ReadWholeFile(game + "/" + packedName), ReadWholeFile(expected));
    }
    EXPECT_EQ(ReadWholeFile(database), ReadWholeFile(tool->sample));
  }
}

TEST(DropPackerTest, RefusesWhatItCannotPackSayingWhatToDoAndWritesNothing) {
  struct Case {
    std::string what;
    std::string recordedName;  // empty: the unpacker's workbook of the database
    bool dropWorkbook;
    std::string database;  // the bytes beside the workbook; empty: none
    std::string firstLine;
  };
  const std::string sample = ReadWholeFile(kSpells.sample);
  const std::vector<Case> cases = {
      {"database missing", "", true, "",
       "Not packed: spells.sdb, the database spells.xlsx was made from, is not beside it."},
      {"database changed", "", true, sample + "x",
       "Not packed: spells.sdb beside spells.xlsx is not the database the workbook was made "
       "from: it has changed since."},
      {"no workbook dropped", "", false, sample,
       "Not packed: no workbook that grimdex wrote was dropped (its About sheet names its "
       "database)."},
      {"a name with a folder", "../spells.sdb", true, sample,
       "Not packed: spells.xlsx does not name its database as a file beside it."},
      {"a name with a drive", "C:spells.sdb", true, sample,
       "Not packed: spells.xlsx does not name its database as a file beside it."},
      {"the parent folder", "..", true, sample,
       "Not packed: spells.xlsx does not name its database as a file beside it."},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    TempFolder folder;
    const std::string database = folder / "spells.sdb";
    const std::string workbook = folder / "spells.xlsx";
    WriteWholeFile(database, sample);
    if (test.recordedName.empty()) {
      Unpack(kSpells, database, workbook);
    } else {
      WriteOriginOnlyWorkbook(workbook, test.recordedName);
    }
    if (test.database.empty()) {
      std::filesystem::remove(database);
    } else {
      WriteWholeFile(database, test.database);
    }
    const std::set<std::string> before = FolderEntries(folder.path.string());
    const DropResult result = Drop(kSpells, {test.dropWorkbook ? workbook : database});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.output.substr(0, result.output.find("\r\n")), test.firstLine);
    EXPECT_NE(LastLine(result.output), "") << result.output;
    EXPECT_EQ(FolderEntries(folder.path.string()), before);
    if (!test.database.empty()) {
      EXPECT_EQ(ReadWholeFile(database), test.database);
    }
  }
}

TEST(DropPackerTest, ADoubleClickSaysWhatToDoThenShowsTheHelp) {
  std::string help;
  const char* const helpArguments[] = {"grimpack"};
  ASSERT_EQ(RunPacker(helpArguments, kSpells.packer, Console{&help, &help}), kExitSuccess);
  const DropResult result = Drop(kSpells, {});
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(result.output.rfind("To pack a workbook that grimdex wrote, drop it on grimpack", 0),
            0u);
  ASSERT_GE(result.output.size(), help.size());
  EXPECT_EQ(result.output.substr(result.output.size() - help.size()), help);
}

}  // namespace
