// Combining several sources' changes to a table.
#include "table_merge.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace {

bool ChangesWholeRecord(const RecordChange& change) {
  return std::ranges::any_of(
      change.units, [](const UnitChange& unit) { return unit.unit.kind == UnitKind::WholeRecord; });
}

// A removal against changes: the later verdict wins. Returns whether the record stays.
bool SettleRemoval(const std::vector<const RecordChange*>& changes, MergedRecord& merged,
                   std::vector<Conflict>& conflicts) {
  const bool anyRemoval =
      std::ranges::any_of(changes, [](const RecordChange* change) { return change->removed; });
  const bool anyChange = std::ranges::any_of(changes, [](const RecordChange* change) {
    return !change->removed && !change->units.empty();
  });
  if (!anyRemoval) return true;
  const RecordChange* last = nullptr;
  for (const RecordChange* change : changes) {
    if (change->removed || !change->units.empty()) last = change;
  }
  if (anyChange) {
    Conflict conflict{merged.record, {UnitKind::WholeRecord, 0}, {}, {}, {}, last->source};
    for (const RecordChange* change : changes) {
      if (!change->removed && change->units.empty()) continue;
      conflict.sources.push_back(change->source);
      conflict.values.emplace_back();
      conflict.removals.push_back(change->removed);
    }
    conflicts.push_back(std::move(conflict));
  }
  merged.removed = last->removed;
  merged.removedBy = last->source;
  return !merged.removed;
}

// The changes of a record that stays, unit by unit. A source that changes the record as a whole
// stands against every other source that changes it: the later one's changes are taken alone.
void MergeUnits(std::vector<const RecordChange*> changes, MergedRecord& merged,
                const SameUnitValue& sameValue, std::vector<Conflict>& conflicts) {
  std::erase_if(
      changes, [](const RecordChange* change) { return change->removed || change->units.empty(); });
  if (changes.size() > 1 && std::ranges::any_of(changes, [](const RecordChange* change) {
        return ChangesWholeRecord(*change);
      })) {
    Conflict conflict{merged.record,         {UnitKind::WholeRecord, 0}, {}, {}, {},
                      changes.back()->source};
    for (const RecordChange* change : changes) {
      conflict.sources.push_back(change->source);
      conflict.values.emplace_back();
      conflict.removals.push_back(false);
    }
    conflicts.push_back(std::move(conflict));
    changes.erase(changes.begin(), changes.end() - 1);
  }
  // Every unit's values in load order.
  std::map<ChangeUnit, std::vector<std::pair<std::size_t, const std::string*>>> byUnit;
  for (const RecordChange* change : changes) {
    for (const UnitChange& unit : change->units)
      byUnit[unit.unit].emplace_back(change->source, &unit.value);
  }
  for (const auto& unitValues : byUnit) {
    const ChangeUnit& unit = unitValues.first;
    const auto& values = unitValues.second;
    const std::size_t winner = values.back().first;
    const std::string* value = values.back().second;
    merged.units.push_back({unit, *value});
    merged.unitSources.push_back(winner);
    std::vector<std::size_t>& alike = merged.alikeSources.emplace_back();
    for (const auto& [source, text] : values) {
      if (sameValue(merged.record, unit, *text, *value)) alike.push_back(source);
    }
    if (alike.size() == values.size()) continue;
    Conflict conflict{merged.record, unit, {}, {}, {}, winner};
    for (const auto& [source, text] : values) {
      conflict.sources.push_back(source);
      conflict.values.push_back(*text);
      conflict.removals.push_back(false);
    }
    conflicts.push_back(std::move(conflict));
  }
}

// Added lines, each once: of lines that several sources added alike, the later source's. Alike
// lines whose database records differ in bytes are a conflict, as two sources that change a
// record differently are.
std::vector<AddedLine> AddedOnce(std::vector<AddedLine> added, std::vector<Conflict>& conflicts) {
  std::unordered_map<std::uint64_t, std::vector<const AddedLine*>> alike;
  for (const AddedLine& line : added)
    alike[line.hash].push_back(&line);
  std::vector<AddedLine> once;
  for (const AddedLine& line : added) {
    const std::vector<const AddedLine*>& lines = alike[line.hash];
    if (lines.back()->source != line.source) continue;
    once.push_back(line);
    if (lines.back() != &line) continue;  // a source that adds a line twice adds it twice
    std::uint64_t bytes = 0;
    const bool differ = std::ranges::any_of(lines, [&](const AddedLine* other) {
      if (other->bytesHash == 0) return false;
      if (bytes == 0) bytes = other->bytesHash;
      return other->bytesHash != bytes;
    });
    if (differ && lines.front()->source != line.source) {
      Conflict conflict{static_cast<std::uint32_t>(once.size() - 1),
                        {UnitKind::WholeRecord, 0},
                        {},
                        {},
                        {},
                        line.source,
                        true};
      for (const AddedLine* other : lines) {
        if (!conflict.sources.empty() && conflict.sources.back() == other->source) continue;
        conflict.sources.push_back(other->source);
        conflict.values.emplace_back();
        conflict.removals.push_back(false);
      }
      conflicts.push_back(std::move(conflict));
    }
  }
  return once;
}

// The new table: the records that stay in their order, each added line after the record it
// follows, or the nearest one before it that stays.
std::vector<MergedLine> MergedOrder(const MergedTable& table) {
  const std::vector<AddedLine>& added = table.added;
  auto removed = [&](std::uint32_t record) {
    const MergedRecord* verdict = VerdictOf(table, record);
    return verdict != nullptr && verdict->removed;
  };
  // The record each added line goes after: kNoPrecedingRecord for the top.
  std::vector<std::uint32_t> place(added.size());
  for (std::size_t at = 0; at < added.size(); ++at) {
    std::uint32_t after = added[at].after;
    while (after != kNoPrecedingRecord && removed(after))
      after = after == 0 ? kNoPrecedingRecord : after - 1;
    place[at] = after;
  }
  std::vector<std::size_t> order(added.size());
  for (std::size_t at = 0; at < order.size(); ++at)
    order[at] = at;
  // The top before every record.
  auto placeOf = [&](std::size_t at) -> std::int64_t {
    return place[at] == kNoPrecedingRecord ? -1 : std::int64_t{place[at]};
  };
  // After the same record: in load order, then in the source's order (stable).
  std::ranges::stable_sort(order, [&](std::size_t a, std::size_t b) {
    if (placeOf(a) != placeOf(b)) return placeOf(a) < placeOf(b);
    return added[a].source < added[b].source;
  });
  std::vector<MergedLine> lines;
  std::size_t next = 0;
  auto addLinesAfter = [&](std::int64_t record) {
    while (next < order.size() && placeOf(order[next]) == record)
      lines.push_back({static_cast<std::uint32_t>(order[next++]), true});
  };
  addLinesAfter(-1);
  for (std::uint32_t record = 0; record < table.verdictOf.size(); ++record) {
    if (removed(record)) continue;
    lines.push_back({record, false});
    addLinesAfter(record);
  }
  return lines;
}

}  // namespace

std::size_t SourceLineOf(const MergedRecord& record, std::size_t source) {
  for (const auto& [changer, line] : record.sourceLines) {
    if (changer == source) return line;
  }
  return 0;
}

MergedTable MergeTable(std::size_t recordCount, std::vector<RecordChange> changes,
                       std::vector<AddedLine> added, const SameUnitValue& sameValue,
                       bool orderLines) {
  MergedTable table;
  table.verdictOf.assign(recordCount, kNoVerdict);
  std::ranges::stable_sort(changes, [](const RecordChange& a, const RecordChange& b) {
    return a.record != b.record ? a.record < b.record : a.source < b.source;
  });
  for (std::size_t at = 0; at < changes.size();) {
    const std::uint32_t record = changes[at].record;
    std::vector<const RecordChange*> ofRecord;
    for (; at < changes.size() && changes[at].record == record; ++at)
      ofRecord.push_back(&changes[at]);
    MergedRecord merged;
    merged.record = record;
    for (const RecordChange* change : ofRecord) {
      if (!change->removed) merged.sourceLines.emplace_back(change->source, change->sourceLine);
    }
    if (SettleRemoval(ofRecord, merged, table.conflicts)) {
      MergeUnits(ofRecord, merged, sameValue, table.conflicts);
    }
    table.verdictOf[record] = static_cast<std::uint32_t>(table.verdicts.size());
    table.verdicts.push_back(std::move(merged));
  }
  table.added = AddedOnce(std::move(added), table.conflicts);
  if (orderLines) table.lines = MergedOrder(table);
  return table;
}
