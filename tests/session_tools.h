// The unpackers and packers as the tests run them, in-process or as the built programs, and their
// tables read back as cells.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "program_run.h"
#include "quest_packer.h"
#include "quest_walker.h"
#include "run_packer.h"
#include "run_unpacker.h"
#include "session_databases.h"
#include "spell_packer.h"
#include "spell_walker.h"
#include "split_text.h"
#include "test_files.h"

// The built unpackers, for the whole-program tests whose build gives their paths; empty elsewhere.
#ifdef GRIMDEX_PATH
inline constexpr std::string_view kGrimdexProgram = GRIMDEX_PATH;
#else
inline constexpr std::string_view kGrimdexProgram;
#endif
#ifdef LORUDEX_PATH
inline constexpr std::string_view kLorudexProgram = LORUDEX_PATH;
#else
inline constexpr std::string_view kLorudexProgram;
#endif

// An unpacker and its packer, with the sample database of their kind.
struct Tool {
  DatabaseKind kind;
  std::string_view name;
  std::span<const std::string_view> banner;
  std::span<const TableSpec> tables;
  Walker walker;
  PackerSpec packer;
  std::string sample;
  const UnpackerFormat* format;
  std::string program;  // the built unpacker (kGrimdexProgram, kLorudexProgram)
};

inline const Tool kSpells{
    DatabaseKind::Spells,        "spells",     kSpellFormat.banner,          kSpellFormat.tables,
    WalkFormat<kSpellFormat>,    kSpellPacker, SAMPLES_FOLDER "/spells.sdb", &kSpellFormat,
    std::string(kGrimdexProgram)};
inline const Tool kQuests{
    DatabaseKind::Quests,        "quests",     kQuestFormat.banner,          kQuestFormat.tables,
    WalkFormat<kQuestFormat>,    kQuestPacker, SAMPLES_FOLDER "/quests.qdb", &kQuestFormat,
    std::string(kLorudexProgram)};

// The unpacker's program name, as its messages give it: "grimdex".
inline std::string UnpackerName(const Tool& tool) {
  return std::string(tool.format->unpacker);
}

// A packer's run in-process: its exit status and what it printed on each stream.
struct PackResult {
  int status = -1;
  std::string output;
  std::string errors;
};

// Runs the tool's packer with the command line `words` (after the program's path).
inline PackResult Pack(const Tool& tool, const std::vector<std::string>& words) {
  std::vector<const char*> arguments = {"packer"};
  for (const std::string& word : words)
    arguments.push_back(word.c_str());
  PackResult result;
  result.status = RunPacker(arguments, tool.packer, {&result.output, &result.errors});
  return result;
}

// Under the sanitizers, and under an emulator (the 32-bit build under qemu-i386), a case costs
// about ten times as much: fewer of them run there.
constexpr bool kFewCases = kProgramsRunUnderSanitizers || kProgramsRunUnderEmulator;

// A table file: its header row and the cells of its lines.
struct CellTable {
  std::string header;
  std::vector<std::vector<std::string>> lines;
};

inline CellTable CellTableOf(std::string_view text) {
  CellTable table;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    const std::string_view line = text.substr(start, end - start);
    if (start == 0) {
      table.header = line;
    } else {
      table.lines.push_back(CellsOf(line));
    }
    start = end == std::string_view::npos ? text.size() : end + 2;
  }
  return table;
}

// Unpacks the database into `folder` and reads its tables; false, with why, when the unpacker
// does not end normally with nothing on its console.
inline bool UnpackTables(const Tool& tool, const std::string& database, const std::string& folder,
                         std::vector<CellTable>& tables, std::string& problem) {
  std::string console;
  const char* arguments[] = {"unpacker", database.c_str(), folder.c_str()};
  const int status =
      RunUnpacker(arguments, tool.banner, tool.tables, tool.walker, Console{&console});
  if (status != 0 || !console.empty()) {
    problem = "the unpacker ended with status " + std::to_string(status) + ": " + console;
    return false;
  }
  tables.clear();
  for (const TableSpec& table : tool.tables)
    tables.push_back(CellTableOf(ReadWholeFile(folder + "/" + std::string(table.fileName))));
  return true;
}
