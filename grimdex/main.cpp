// grimdex: unpacks the spell database into five tab-separated tables.
#include <span>

#include "run_unpacker.h"
#include "spell_walker.h"

int main(int argc, char** argv) {
  return RunUnpacker(std::span<const char* const>(argv, static_cast<std::size_t>(argc)),
                     kSpellFormat);
}
