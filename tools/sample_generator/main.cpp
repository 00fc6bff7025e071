// sample_generator: writes the project's sample databases spells.sdb and quests.qdb.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "quest_sample.h"
#include "spell_sample.h"

namespace {

// Writes the whole file; false when it cannot be created or written.
bool WriteDatabase(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out.fail()) std::fprintf(stderr, "sample_generator: cannot write %s\n", path.c_str());
  return !out.fail();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr,
                 "Usage: sample_generator OUTPUT_FOLDER\n"
                 "Writes spells.sdb and quests.qdb into OUTPUT_FOLDER, which must exist.\n");
    return 2;
  }
  const std::filesystem::path folder(argv[1]);
  const bool written = WriteDatabase(folder / "spells.sdb", SpellSampleDatabase()) &&
                       WriteDatabase(folder / "quests.qdb", QuestSampleDatabase());
  return written ? 0 : 1;
}
