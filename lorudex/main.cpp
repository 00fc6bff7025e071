// lorudex: unpacks the quest database into two tab-separated tables.
#include <span>

#include "quest_walker.h"
#include "run_unpacker.h"

int main(int argc, char** argv) {
  return RunUnpacker(std::span<const char* const>(argv, static_cast<std::size_t>(argc)),
                     kQuestFormat);
}
