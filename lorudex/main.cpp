// lorudex: unpacks the quest database into two tab-separated tables.
#include "platform.h"
#include "quest_walker.h"
#include "run_unpacker.h"

int main(int argc, char** argv) {
  const ProgramArguments arguments = ReadProgramArguments(argc, argv);
  return RunUnpacker(arguments.pointers, kQuestFormat);
}
