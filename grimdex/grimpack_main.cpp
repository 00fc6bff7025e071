// grimpack: packs edited spell tables back into the spell database.
#include "platform.h"
#include "run_packer.h"
#include "spell_walker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  const PackerSpec packer{"grimpack", "grimdex", "sdb", {kSpellFormat.tables, &kSpellFormat.walk}};
  return RunPacker(arguments.pointers, packer);
}
