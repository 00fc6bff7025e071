// Creating, writing and closing the output tables.
#include "table_set.h"

#include "run_failure.h"
#include "split_text.h"

namespace {

void WriteOrFail(Table& table, const char* bytes, std::size_t count) {
  const int error = WriteFileFully(table.file, bytes, count);
  if (error != 0) RaiseIoFailure(error);
}

std::string TablePath(std::string_view outputPrefix, const TableSpec& declared) {
  return std::string(outputPrefix) + std::string(declared.fileName);
}

// Truncating the database would destroy it: a table of its name in its folder, a link to it.
void RefuseTablesThatAreTheDatabase(std::span<const TableSpec> specs, std::string_view outputPrefix,
                                    PlatformFile database) {
  for (const TableSpec& declared : specs) {
    if (IsSameFile(database, TablePath(outputPrefix, declared).c_str())) {
      RaiseIoFailure(kErrorAccessDenied);
    }
  }
}

// Writes the table's pending lines; a failed write raises IoFailure.
void FlushTable(Table& table) {
  if (table.pending.empty()) return;
  const int error = WriteFileFully(table.file, table.pending.data(), table.pending.size());
  // Cleared either way: a failed write is reported once, not retried by the save after failure.
  table.pending.clear();
  if (error != 0) RaiseIoFailure(error);
}

}  // namespace

void CreateTables(TableSet& tableSet, std::span<const TableSpec> specs,
                  std::string_view outputPrefix, PlatformFile database) {
  RefuseTablesThatAreTheDatabase(specs, outputPrefix, database);
  tableSet.tables.clear();
  tableSet.tables.reserve(specs.size());
  for (const TableSpec& declared : specs) {
    Table& table = tableSet.tables.emplace_back();
    table.path = TablePath(outputPrefix, declared);
    table.headerRow = declared.headerRow;
    table.pending.reserve(kTableBufferSize);
    const int error = CreateFileForWriting(table.path.c_str(), table.file);
    if (error != 0) RaiseIoFailure(error);
  }
  for (Table& table : tableSet.tables)
    WriteLine(table, table.headerRow);
}

void WriteLine(Table& table, std::string_view line) {
  const std::size_t needed = line.size() + kLineEnd.size();
  if (table.pending.size() + needed > kTableBufferSize) FlushTable(table);
  if (needed > kTableBufferSize) {
    // A line longer than the buffer is written straight through.
    WriteOrFail(table, line.data(), line.size());
    WriteOrFail(table, kLineEnd.data(), kLineEnd.size());
    return;
  }
  table.pending.insert(table.pending.end(), line.begin(), line.end());
  table.pending.insert(table.pending.end(), kLineEnd.begin(), kLineEnd.end());
}

void CloseTable(Table& table) {
  FlushTable(table);
  const int error = CloseFile(table.file);
  if (error != 0) RaiseIoFailure(error);
}

void SaveTablesAfterFailure(TableSet& tableSet) {
  for (Table& table : tableSet.tables) {
    if (table.file.handle < 0) continue;
    static_cast<void>(WriteFileFully(table.file, table.pending.data(), table.pending.size()));
    table.pending.clear();
    static_cast<void>(CloseFile(table.file));
  }
}
