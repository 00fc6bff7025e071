// Invariant checks and the in-process walk of the fuzz targets.
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "node_dump.h"
#include "node_reader.h"
#include "run_failure.h"

namespace {

int Descriptor(const Table& table) {
  return static_cast<int>(table.file.handle);
}

// The bytes the table was handed: those written to its file and those still pending. Empties it.
std::size_t TakeTableBytes(Table& table) {
  const off_t written = lseek(Descriptor(table), 0, SEEK_CUR);
  RequireInvariant(written >= 0, "a scratch table tells its size");
  if (written > 0) {
    RequireInvariant(
        ftruncate(Descriptor(table), 0) == 0 && lseek(Descriptor(table), 0, SEEK_SET) == 0,
        "a scratch table empties");
  }
  const std::size_t handed = static_cast<std::size_t>(written) + table.pending.size();
  table.pending.clear();
  return handed;
}

}  // namespace

void RequireInvariant(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

TableSet OpenScratchTables(std::span<const TableSpec> specs) {
  TableSet tables;
  for (const TableSpec& declared : specs) {
    Table& table = tables.tables.emplace_back();
    table.headerRow = declared.headerRow;
    table.pending.reserve(kTableBufferSize);
    // A file with no name: written like any table, gone when the process ends.
    std::FILE* scratch = std::tmpfile();
    RequireInvariant(scratch != nullptr, "a scratch table opens");
    table.file.handle = dup(fileno(scratch));
    std::fclose(scratch);
    RequireInvariant(table.file.handle >= 0, "a scratch table opens");
  }
  return tables;
}

bool WalkFuzzInput(std::span<const std::uint8_t> bytes, TableSet& tables, Walker walker,
                   char decimalSeparator) {
  NodeReader reader = MemoryNodeReader(bytes);
  bool returned = true;
  try {
    walker(reader, tables, decimalSeparator);
    RequireInvariant(AtEnd(reader), "a walk that returns has reached the end of the database");
  } catch (const IoFailure& failure) {
    RequireInvariant(failure.errorNumber == kErrorReadBeyondEnd,
                     "a walk over bytes in memory fails only by reading beyond their end");
    returned = false;
  }
  std::size_t written = 0;
  for (Table& table : tables.tables)
    written += TakeTableBytes(table);
  RequireInvariant(written <= kMostTableBytesPerByte * bytes.size() + kMostTableBytesPerRun,
                   "a walk writes tables in proportion to its database");
  return returned;
}

bool DumpCallsWellFormed(std::span<const std::uint8_t> bytes, Unpackers unpacker) {
  NodeReader reader = MemoryNodeReader(bytes);
  std::string dump;
  const DumpOptions options{.depth = kFieldLevel, .previewBytes = 0, .unpackers = unpacker};
  return DumpNodeTree(reader, options, dump) == kDumpWellFormed;
}
