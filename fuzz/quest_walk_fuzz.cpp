// Fuzz target: the quest walk over any bytes, in-process, with its two tables on scratch files.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "quest_walker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TableSet tables = OpenScratchTables(kQuestTables);
  // The quest tables write the user's decimal separator: an odd size takes the comma.
  const char decimalSeparator = size % 2 == 0 ? '.' : ',';
  WalkFuzzInput(std::span<const std::uint8_t>(data, size), tables, RunQuestWalk, decimalSeparator);
  return 0;
}
