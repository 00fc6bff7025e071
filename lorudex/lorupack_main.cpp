// lorupack: packs edited quest tables back into the quest database.
#include "drop_packer.h"
#include "platform.h"
#include "quest_walker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  const PackerSpec packer{"lorupack", "lorudex", "qdb", {kQuestFormat.tables, &kQuestFormat.walk}};
  return RunPackerProgram(arguments.pointers, packer);
}
