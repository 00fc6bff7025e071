// lorupack: packs edited quest tables back into the quest database.
#include "drop_packer.h"
#include "platform.h"
#include "quest_packer.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunPackerProgram(arguments.pointers, kQuestPacker);
}
