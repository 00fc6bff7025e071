// grimdex: unpacks the spell database into five tab-separated tables.
#include "platform.h"
#include "run_unpacker.h"
#include "spell_walker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunUnpacker(arguments.pointers, kSpellFormat);
}
