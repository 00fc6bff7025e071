// Fuzz target: any bytes as one edited table of a sample, packed in-process. The packer must end
// with its problems, or write a database that reads back as the tables it was given.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pack_plan.h"
#include "packed_bytes.h"
#include "packed_file.h"
#include "quest_walker.h"
#include "spell_walker.h"

namespace {

// A sample database and the tables its unpacker writes, held in memory.
struct Sample {
  std::string database;
  PackRules rules;
  std::vector<std::string> tables;
};

// Collects every routed line into its table's text, header rows first.
struct TableTexts : WatchLinesOnly {
  std::vector<std::string>& tables;
  void Line(int route, std::string_view line) {
    if (route == kDropLine) return;
    std::string& table = tables[static_cast<std::size_t>(route)];
    table.append(line);
    table.append("\r\n");
  }
};

Sample LoadSample(const char* path, std::span<const TableSpec> specs, const WalkRules& walk) {
  Sample sample;
  std::ifstream in(path, std::ios::binary);
  sample.database.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  RequireInvariant(!sample.database.empty(), "the sample database is there");
  sample.rules = {specs, &walk};
  for (const TableSpec& table : specs)
    sample.tables.push_back(std::string(table.headerRow) + "\r\n");
  NodeReader reader = MemoryNodeReader(
      {reinterpret_cast<const std::uint8_t*>(sample.database.data()), sample.database.size()});
  TableTexts texts{{}, sample.tables};
  WalkDatabase(reader, '.', walk, texts);
  return sample;
}

std::span<const std::uint8_t> BytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The packed database, written to a scratch file as the packer writes NEW, and read back.
std::string WriteToScratch(NodeReader& original, const PackPlan& plan) {
  std::FILE* scratch = std::tmpfile();
  RequireInvariant(scratch != nullptr, "a scratch file opens");
  PlatformFile file{fileno(scratch)};
  WritePacked(original, plan, file);
  std::string bytes(static_cast<std::size_t>(plan.newSize), '\0');
  RequireInvariant(
      pread(fileno(scratch), bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
      "the packed database is written whole");
  std::fclose(scratch);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Sample samples[] = {
      LoadSample(SAMPLES_FOLDER "/spells.sdb", kSpellFormat.tables, kSpellFormat.walk),
      LoadSample(SAMPLES_FOLDER "/quests.qdb", kQuestFormat.tables, kQuestFormat.walk),
  };
  if (size == 0) return 0;
  // The first byte chooses the sample and the table that the rest of the input stands for.
  const Sample& sample = samples[data[0] % 2];
  const std::size_t edited = (data[0] / 2) % sample.tables.size();
  const std::string table(reinterpret_cast<const char*>(data) + 1, size - 1);
  NodeReader original = MemoryNodeReader(BytesOf(sample.database));
  PackPlan plan;
  try {
    std::vector<PackSource> sources(1);
    for (std::size_t index = 0; index < sample.tables.size(); ++index)
      sources[0].tables.push_back(
          MemoryTableSource(index == edited ? table : sample.tables[index]));
    plan = PlanPack(original, sample.rules, '.', sources, true);
  } catch (const PackFailure& failure) {
    RequireInvariant(!failure.problems.empty(), "a refused pack says why");
    return 0;
  }
  const std::string packed = WriteToScratch(original, plan);
  NodeReader reader = MemoryNodeReader(BytesOf(packed));
  try {
    CheckPacked(reader, sample.rules, '.', plan);
  } catch (const PackFailure&) {
    RequireInvariant(false, "a planned database reads back as the edited tables");
  }
  return 0;
}
