// Opening the sources of a pack: folders of tables and databases.
#include "pack_sources.h"

#include "message_text.h"
#include "run_failure.h"
#include "stored_tree.h"

namespace {

// SourceKindName, in the order of SourceKind.
constexpr std::string_view kSourceKindNames[] = {"tables", "a database", "a workbook"};

// What a path that cannot be read as a table names, for the problem that says so.
std::string WhyNotATable(const std::string& path, std::size_t tables, std::string_view unpacker) {
  switch (KindOfPath(path.c_str())) {
    case PathKind::Missing:
      return "is missing: the tables folder must hold the " + std::to_string(tables) + " tables " +
             std::string(unpacker) + " writes, under their names";
    case PathKind::Folder:
      return "is a folder, not a table";
    case PathKind::Other:
      return "is not an ordinary file (a fifo, a device, or a link that leads nowhere)";
    case PathKind::OrdinaryFile:
      break;
  }
  return "cannot be opened for reading";
}

}  // namespace

std::string_view SourceKindName(SourceKind kind) {
  return kSourceKindNames[static_cast<std::size_t>(kind)];
}

std::string PathInFolder(const std::string& folder, std::string_view fileName) {
  std::string path = folder;
  if (!path.empty() && path.back() != kFolderSeparator && path.back() != '/') {
    path += kFolderSeparator;
  }
  path += fileName;
  return path;
}

void OpenFolderSource(const std::string& folder, const std::vector<std::string>& tableNames,
                      std::string_view unpacker, PackSource& source) {
  source.path = folder;
  for (const std::string& name : tableNames) {
    const std::string path = PathInFolder(folder, name);
    TableSource table;
    if (!OpenFileForReading(path.c_str(), table.file)) {
      throw PackFailure{{"the table " + QuotedPath(path) + " " +
                         WhyNotATable(path, tableNames.size(), unpacker)}};
    }
    source.tables.push_back(table);
    const int error = FileSize(table.file, source.tables.back().size);
    if (error != 0) {
      throw PackFailure{
          {"cannot read the table " + QuotedPath(path) + ": " + FailureMessage(error)}};
    }
  }
}

void OpenDatabaseSource(const std::string& path, const PackRules& rules, char decimalSeparator,
                        PackSource& source) {
  source.path = path;
  source.kind = SourceKind::Database;
  const std::string name = "the source database " + QuotedPath(path);
  try {
    if (!OpenNodeReader(path.c_str(), source.reader)) {
      throw PackFailure{{"cannot open " + name + " (missing, unreadable or not a file)"}};
    }
    const std::string damage = FirstStoredDamage(source.reader);
    if (!damage.empty()) {
      throw PackFailure{{name + " is damaged, " + damage +
                         " (nodedump shows it); only a sound "
                         "database is taken"}};
    }
    source.layout = ReadLayout(source.reader, rules, decimalSeparator, &source.rendered);
  } catch (const IoFailure& failure) {
    throw PackFailure{{"cannot read " + name + ": " + FailureMessage(failure.errorNumber)}};
  } catch (PackFailure& failure) {
    for (std::string& problem : failure.problems) {
      if (problem.starts_with("the original database")) problem.replace(0, 21, name);
    }
    throw;
  }
  for (const std::string& text : source.rendered.texts)
    source.tables.push_back(MemoryTableSource(text));
}

void OpenWorkbookSource(const std::string& path, const PackRules& rules, char decimalSeparator,
                        int codePage, PackSource& source) {
  source.path = path;
  source.kind = SourceKind::Workbook;
  if (!OpenFileForReading(path.c_str(), source.workbookFile)) {
    throw PackFailure{
        {"cannot open the workbook " + QuotedPath(path) + " (missing, unreadable or not a file)"}};
  }
  try {
    ReadWorkbookTables(path, source.workbookFile, rules, decimalSeparator, codePage, source.sheets);
  } catch (const IoFailure& failure) {
    throw PackFailure{{"cannot read the workbook " + QuotedPath(path) + ": " +
                       FailureMessage(failure.errorNumber)}};
  }
  for (const std::string& text : source.sheets.texts)
    source.tables.push_back(MemoryTableSource(text));
}

void CloseSource(PackSource& source) {
  static_cast<void>(CloseFile(source.workbookFile));
  for (TableSource& table : source.tables)
    static_cast<void>(CloseFile(table.file));
  static_cast<void>(CloseFile(source.reader.file));
}
