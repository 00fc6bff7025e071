// grimpack: packs edited spell tables back into the spell database.
#include "platform.h"
#include "spell_packer.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunPacker(arguments.pointers, kSpellPacker);
}
