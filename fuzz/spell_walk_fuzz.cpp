// Fuzz target: the spell walk over any bytes, in-process, with its five tables on scratch files.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "spell_walker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TableSet tables = OpenScratchTables(kSpellTables);
  WalkFuzzInput(std::span<const std::uint8_t>(data, size), tables, RunSpellWalk, '.');
  return 0;
}
