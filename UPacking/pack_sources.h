// Where a pack takes its changes from: folders of edited tables, or databases of the same kind
// (a mod's database as it ships), each read as its unpacker reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "node_reader.h"
#include "original_layout.h"
#include "table_text.h"
#include "workbook_source.h"

// What a source is. Every kind gives the planner its tables' text the same way
// (PackSource::tables); a database also gives the records its lines stand for, a workbook the
// lines its sheets show.
enum class SourceKind : std::uint8_t { Tables, Database, Workbook };

// A kind as the summary names it after a source's path: "tables", "a database", "a workbook".
std::string_view SourceKindName(SourceKind kind);

struct PackSource {
  std::string path;
  SourceKind kind = SourceKind::Tables;
  std::vector<TableSource> tables;  // one per table of the rules
  // A database source: the file, where its records lie, and its tables as its unpacker writes
  // them (which `tables` read), each line standing for one record.
  NodeReader reader;
  Layout layout;
  RenderedTables rendered;
  // A workbook source: the file, and its sheets as the tables' text (which `tables` read).
  PlatformFile workbookFile;
  WorkbookTables sheets;
};

// The path of a table file in a folder: the folder, a separator unless it ends in one (either
// kind), then the file's name.
std::string PathInFolder(const std::string& folder, std::string_view fileName);

// The table files of a folder source, open for reading. Raises PackFailure naming a table that
// is missing, not an ordinary file or unreadable.
void OpenFolderSource(const std::string& folder, const std::vector<std::string>& tableNames,
                      std::string_view unpacker, PackSource& source);

// A database source: checked as the original is (sound by its stored lengths, read by the
// unpacker's walk without a failure), its layout read and its tables written in memory. Raises
// PackFailure naming the source when it is not.
void OpenDatabaseSource(const std::string& path, const PackRules& rules, char decimalSeparator,
                        PackSource& source);

// A workbook source: its sheets read as the tables (ReadWorkbookTables) in `codePage` (0: the
// one it records). Raises PackFailure naming the source when it cannot be opened or read.
void OpenWorkbookSource(const std::string& path, const PackRules& rules, char decimalSeparator,
                        int codePage, PackSource& source);

// Closes a source's files (read only: nothing is lost when closing fails).
void CloseSource(PackSource& source);
