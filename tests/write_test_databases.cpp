// Writes every database of the whole-program tests into a folder: spell ones as <name>.sdb,
// quest ones as <name>.qdb, so that other builds of the tools can be run on the same files.
#include <cstdio>
#include <fstream>
#include <string>

#include "database_cases.h"

namespace {

bool WriteCases(const std::string& folder, const std::vector<DatabaseCase>& cases,
                const char* extension) {
  for (const DatabaseCase& test : cases) {
    std::ofstream out(folder + "/" + test.name + extension, std::ios::binary | std::ios::trunc);
    out.write(test.database.data(), static_cast<std::streamsize>(test.database.size()));
    if (!out) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: write_test_databases FOLDER\n", stderr);
    return 2;
  }
  if (!WriteCases(argv[1], SpellCases(), ".sdb") || !WriteCases(argv[1], QuestCases(), ".qdb")) {
    std::fprintf(stderr, "cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
