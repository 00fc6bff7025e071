// The state that the steps of planning a pack share.
#include "planning_state.h"

#include "message_text.h"
#include "run_failure.h"

namespace {

// Problems reported at most; the rest are counted.
constexpr std::size_t kMostProblems = 40;

}  // namespace

void AddProblem(PlanProblems& problems, std::string text) {
  if (problems.texts.size() < kMostProblems) {
    problems.texts.push_back(std::move(text));
  } else {
    ++problems.leftOut;
  }
}

void ThrowProblems(PlanProblems& problems) {
  if (problems.texts.empty()) return;
  if (problems.leftOut > 0) {
    problems.texts.push_back("... and " + Plural(problems.leftOut, "more problem"));
  }
  throw PackFailure{std::move(problems.texts)};
}

StoredRecord ReadOriginalRecord(OriginalTables& original, std::size_t table, std::size_t record) {
  return ReadStoredRecord(original.reader, original.rules, original.layout,
                          SpotOf(original, table, record), original.decimalSeparator);
}

std::string_view OriginalRecordLine(OriginalTables& original, std::size_t table,
                                    std::size_t record) {
  return RecordLine(original.reader, original.rules, original.layout,
                    SpotOf(original, table, record), original.row);
}

bool TableHasUtf8(OriginalTables& original, std::size_t table) {
  if (original.utf8Tables[table] < 0) {
    original.utf8Tables[table] =
        TableHasUtf8Lines(original.reader, original.rules, original.decimalSeparator, table) ? 1
                                                                                             : 0;
  }
  return original.utf8Tables[table] == 1;
}

std::string SourcePrefix(const PackPlanning& planning, std::size_t source) {
  return planning.severalSources ? planning.sources[source].path + ": " : std::string();
}
