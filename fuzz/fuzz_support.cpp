// Invariant checks and the in-process walk of the fuzz targets.
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "node_reader.h"
#include "run_failure.h"

namespace {

constexpr const char* kNullDevice = "/dev/null";

}  // namespace

void RequireInvariant(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

TableSet OpenNullTables(std::span<const TableSpec> specs) {
  TableSet tables;
  for (const TableSpec& spec : specs) {
    Table& table = tables.tables.emplace_back();
    table.path = kNullDevice;
    table.headerRow = spec.headerRow;
    table.pending.reserve(kTableBufferSize);
    RequireInvariant(CreateFileForWriting(kNullDevice, table.file) == 0,
                     "the null device opens for writing");
  }
  return tables;
}

void WalkFuzzInput(std::span<const std::uint8_t> bytes, TableSet& tables, Walker walker,
                   char decimalSeparator) {
  NodeReader reader = MemoryNodeReader(bytes);
  try {
    walker(reader, tables, decimalSeparator);
    RequireInvariant(AtEnd(reader), "a walk that returns has reached the end of the database");
  } catch (const RunFailure& failure) {
    RequireInvariant(failure.errorNumber == kErrorReadBeyondEnd,
                     "a walk over bytes in memory fails only by reading beyond their end");
  }
  for (Table& table : tables.tables)
    table.pending.clear();
}
