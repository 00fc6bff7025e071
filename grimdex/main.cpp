// grimdex: unpacks the spell database into five tab-separated tables.
#include "drop_unpacker.h"
#include "platform.h"
#include "spell_walker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunUnpackerProgram(arguments.pointers, kSpellFormat);
}
