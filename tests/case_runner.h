// Runs a built unpacker on a database case and compares every table and the console, byte for byte.
#pragma once

#include <span>
#include <string>

#include "database_cases.h"
#include "program_run.h"
#include "table_set.h"
#include "test_files.h"

// The table a case expects: its header row, then the case's rows for it, if any.
inline std::string ExpectedTableText(const DatabaseCase& test, const TableSpec& table) {
  std::string text = std::string(table.headerRow) + "\r\n";
  for (const ExpectedTable& expected : test.tables) {
    if (expected.fileName == table.fileName) text += expected.rows;
  }
  return text;
}

inline void ExpectCaseOutput(const std::string& program, std::span<const TableSpec> tables,
                             const DatabaseCase& test) {
  SCOPED_TRACE(test.name);
  TempFolder folder;
  WriteWholeFile(folder / "database", test.database);
  const ProgramResult result = RunProgram(program, {folder / "database", folder / "out"});
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, test.exitStatus);
  EXPECT_EQ(result.output, test.console);
  for (const ExpectedTable& expected : test.tables) {
    bool known = false;
    for (const TableSpec& table : tables)
      known = known || table.fileName == expected.fileName;
    EXPECT_TRUE(known) << expected.fileName;
  }
  for (const TableSpec& table : tables) {
    EXPECT_EQ(ReadWholeFile(folder / "out/" + std::string(table.fileName)),
              ExpectedTableText(test, table))
        << table.fileName;
  }
}

// The case with zero bytes after its database, which a walk reads as empty nodes or not at all:
// its records then lie far enough from the file's end to be read in one piece.
inline DatabaseCase WithEmptyNodesAfter(DatabaseCase test) {
  test.database += std::string(256, '\0');
  return test;
}
