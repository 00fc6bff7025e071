// lorupack: packs edited quest tables back into the quest database.
#include <span>

#include "quest_walker.h"
#include "run_packer.h"

int main(int argc, char** argv) {
  const PackerSpec packer{"lorupack", "lorudex", "qdb", {kQuestFormat.tables, &kQuestFormat.walk}};
  return RunPacker(std::span<const char* const>(argv, static_cast<std::size_t>(argc)), packer);
}
