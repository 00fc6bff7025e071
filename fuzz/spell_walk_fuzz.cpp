// Fuzz target: the spell walk over any bytes, in-process, with its five tables on scratch files.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "known_formats.h"
#include "spell_walker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TableSet tables = OpenScratchTables(kSpellFormat.tables);
  const std::span<const std::uint8_t> bytes(data, size);
  const bool unpacked = WalkFuzzInput(bytes, tables, WalkFormat<kSpellFormat>, '.');
  RequireInvariant(unpacked || !DumpCallsWellFormed(bytes, FormatAlone(kSpellFormat)),
                   "a database nodedump calls well formed is unpacked without a failure report");
  return 0;
}
