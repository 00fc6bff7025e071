// Fuzz target: the quest walk over any bytes, in-process, with its two tables on scratch files.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "known_formats.h"
#include "quest_walker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TableSet tables = OpenScratchTables(kQuestFormat.tables);
  // The quest tables write the user's decimal separator: an odd size takes the comma.
  const char decimalSeparator = size % 2 == 0 ? '.' : ',';
  const std::span<const std::uint8_t> bytes(data, size);
  const bool unpacked = WalkFuzzInput(bytes, tables, WalkFormat<kQuestFormat>, decimalSeparator);
  RequireInvariant(unpacked || !DumpCallsWellFormed(bytes, FormatAlone(kQuestFormat)),
                   "a database nodedump calls well formed is unpacked without a failure report");
  return 0;
}
