// The original's layout read beside the check of its stored lengths and the sources' indexing.
#include "source_indexes.h"

#include <exception>
#include <thread>

#include "message_text.h"
#include "pack_plan.h"
#include "run_failure.h"
#include "stored_tree.h"

namespace {

// Finds the lines of a source's tables: a folder's files are read, a database's lines are its
// records already. A table whose start is wrong is a problem named with its source.
void IndexSourceTables(const PackRules& rules, const PackSource& source,
                       std::vector<TableIndex>& indexes, std::vector<std::string>& problems) {
  if (source.kind == SourceKind::Database) {
    indexes = source.rendered.indexes;
    return;
  }
  indexes.resize(rules.tables.size());
  for (std::size_t table = 0; table < rules.tables.size(); ++table) {
    try {
      const std::string problem =
          IndexTable(source.tables[table], rules.tables[table].headerRow, indexes[table]);
      if (!problem.empty()) problems.push_back(TableName(rules, table) + " line 1: " + problem);
    } catch (const IoFailure& failure) {
      throw PackFailure{{"cannot read " + TableName(rules, table) + " in '" + source.path +
                         "': " + FailureMessage(failure.errorNumber)}};
    }
  }
}

}  // namespace

PackStart StartPack(NodeReader& original, const PackRules& rules, char decimalSeparator,
                    const std::vector<PackSource>& sources) {
  PackStart start;
  start.indexes.resize(sources.size());
  NodeReader second = SecondNodeReader(original);
  std::string damage;
  std::exception_ptr checkFailure;
  std::thread checker([&] {
    try {
      damage = FirstStoredDamage(second);
      for (std::size_t source = 0; damage.empty() && source < sources.size(); ++source)
        IndexSourceTables(rules, sources[source], start.indexes[source], start.problems);
    } catch (...) {
      checkFailure = std::current_exception();
    }
  });
  std::exception_ptr walkFailure;
  try {
    start.layout = ReadLayout(original, rules, decimalSeparator);
  } catch (...) {
    walkFailure = std::current_exception();
  }
  checker.join();
  static_cast<void>(CloseFile(second.file));  // read only: nothing is lost if closing fails
  if (checkFailure) std::rethrow_exception(checkFailure);
  if (!damage.empty()) {
    throw PackFailure{{"the original database is damaged, " + damage +
                       " (nodedump shows it); only a sound database is packed"}};
  }
  if (walkFailure) std::rethrow_exception(walkFailure);
  return start;
}
