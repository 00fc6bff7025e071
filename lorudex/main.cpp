// lorudex: unpacks the quest database into two tab-separated tables.
#include "drop_unpacker.h"
#include "platform.h"
#include "quest_walker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunUnpackerProgram(arguments.pointers, kQuestFormat);
}
