// grimpack: packs edited spell tables back into the spell database.
#include "drop_packer.h"
#include "platform.h"
#include "spell_walker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  const PackerSpec packer{"grimpack", "grimdex", "sdb", {kSpellFormat.tables, &kSpellFormat.walk}};
  return RunPackerProgram(arguments.pointers, packer);
}
