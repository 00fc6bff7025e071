// grimpack: packs edited spell tables back into the spell database.
#include "drop_packer.h"
#include "platform.h"
#include "spell_packer.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunPackerProgram(arguments.pointers, kSpellPacker);
}
