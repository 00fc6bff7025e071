// grimpack: packs edited spell tables back into the spell database.
#include <span>

#include "run_packer.h"
#include "spell_walker.h"

int main(int argc, char** argv) {
  const PackerSpec packer{"grimpack", "grimdex", "sdb", {kSpellFormat.tables, &kSpellFormat.walk}};
  return RunPacker(std::span<const char* const>(argv, static_cast<std::size_t>(argc)), packer);
}
