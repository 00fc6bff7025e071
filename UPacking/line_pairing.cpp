// Pairing lines with records: equal lines, then resemblance weighed cell by cell, then the
// records that keep their place.
#include "line_pairing.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <iterator>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "line_diff.h"
#include "split_text.h"
#include "table_text.h"

namespace {

// Weights are fixed-point numbers of bits, 1024 to a bit, the same on every platform.
using Weight = std::int64_t;
constexpr int kWeightFraction = 10;

// Candidates looked up by value for each line, and the records on each side of where the line
// stands; a value that more records than kLongestPosting hold does not look any up.
constexpr std::size_t kCandidatesByValue = 16;
constexpr std::size_t kCandidatesByPosition = 3;
constexpr std::size_t kLongestPosting = 64;
// Candidates kept for each line once weighed, for the pairs taken across the table.
constexpr std::size_t kBestCandidates = 4;

// log2(value) in fixed point, rounded down, by squaring the mantissa (integers only). `value`
// is at least 1 and below 2^32.
Weight FixedLog2(std::uint64_t value) {
  const int whole = static_cast<int>(std::bit_width(value)) - 1;
  // The mantissa in [1, 2) with 31 fraction bits, so that its square fits 64 bits.
  std::uint64_t mantissa = value << (31 - whole);
  Weight result = static_cast<Weight>(whole) << kWeightFraction;
  for (int bit = kWeightFraction - 1; bit >= 0; --bit) {
    mantissa = (mantissa * mantissa) >> 31;
    if (mantissa >= (std::uint64_t{2} << 31)) {
      mantissa >>= 1;
      result += Weight{1} << bit;
    }
  }
  return result;
}

// A cell's value in its column, as one key.
std::uint64_t CellKey(std::size_t column, std::uint64_t cellHash) {
  return std::rotl(cellHash, 17) ^ (column * 0x9E3779B97F4A7C15ull);
}

// The lines of some rows reduced to their cells' keys, one row after another.
struct CellRows {
  std::vector<std::uint64_t> keys;
  std::vector<std::uint32_t> starts{0};
};

void AddRow(CellRows& rows, std::string_view line) {
  const std::vector<std::string_view> cells = SplitColumns(line);
  for (std::size_t column = 0; column < cells.size(); ++column)
    rows.keys.push_back(CellKey(column, LineHash(cells[column])));
  rows.starts.push_back(static_cast<std::uint32_t>(rows.keys.size()));
}

std::span<const std::uint64_t> Row(const CellRows& rows, std::size_t row) {
  return std::span(rows.keys).subspan(rows.starts[row], rows.starts[row + 1] - rows.starts[row]);
}

// ---- Equal lines.

// Aligned equal lines in place, then each line left with the earliest record left with an equal
// line. Returns the aligned pairs.
std::vector<LineMatch> PairEqualLines(std::span<const std::uint64_t> recordHashes,
                                      std::span<const std::uint64_t> lineHashes,
                                      TablePairing& pairing) {
  std::vector<LineMatch> aligned = AlignLines(recordHashes, lineHashes);
  for (const LineMatch& match : aligned) {
    pairing.recordOfLine[match.edited] = static_cast<std::uint32_t>(match.original);
    pairing.lineOfRecord[match.original] = static_cast<std::uint32_t>(match.edited);
  }
  if (aligned.size() == lineHashes.size()) return aligned;
  // The lines and records left over, each by hash and then position: the k-th line left with a
  // hash takes the k-th record left with it.
  using Left = std::pair<std::uint64_t, std::uint32_t>;
  std::vector<Left> records;
  for (std::uint32_t record = 0; record < recordHashes.size(); ++record) {
    if (pairing.lineOfRecord[record] == kNoLine) records.emplace_back(recordHashes[record], record);
  }
  std::vector<Left> lines;
  for (std::uint32_t line = 0; line < lineHashes.size(); ++line) {
    if (pairing.recordOfLine[line] == kNoRecord) lines.emplace_back(lineHashes[line], line);
  }
  std::thread recordSide([&] { std::ranges::sort(records); });  // beside the lines' on a core
  std::ranges::sort(lines);
  recordSide.join();
  for (std::size_t a = 0, b = 0; a < records.size() && b < lines.size();) {
    if (records[a].first < lines[b].first) {
      ++a;
    } else if (lines[b].first < records[a].first) {
      ++b;
    } else {
      pairing.recordOfLine[lines[b].second] = records[a].second;
      pairing.lineOfRecord[records[a].second] = lines[b].second;
      ++a;
      ++b;
    }
  }
  return aligned;
}

// Where each line would stand among the records if the lines around it had stayed: the record
// after the nearest aligned line above, or before the nearest one below.
std::vector<std::int64_t> ExpectedRecords(const std::vector<LineMatch>& aligned, std::size_t lines,
                                          std::size_t records) {
  std::vector<std::int64_t> expected(lines);
  std::size_t next = 0;
  for (std::size_t line = 0; line < lines; ++line) {
    while (next < aligned.size() && aligned[next].edited < line)
      ++next;
    std::int64_t at = static_cast<std::int64_t>(line);
    if (next > 0) {
      const LineMatch& above = aligned[next - 1];
      at = static_cast<std::int64_t>(above.original + (line - above.edited));
    } else if (next < aligned.size()) {
      const LineMatch& below = aligned[next];
      at = static_cast<std::int64_t>(below.original) -
           static_cast<std::int64_t>(below.edited - line);
    }
    expected[line] = std::clamp<std::int64_t>(at, 0, static_cast<std::int64_t>(records) - 1);
  }
  return expected;
}

// ---- The weight of values.

// How many records of an even sample of the table hold each value of each column.
struct ValueWeights {
  std::unordered_map<std::uint64_t, std::uint32_t> counts;
  std::uint64_t sampled = 0;
  Weight threshold = 0;  // log2(sampled + 1): a value no other record holds
};

Weight WeightOf(const ValueWeights& weights, std::uint64_t key) {
  const auto found = weights.counts.find(key);
  const std::uint64_t holders = found == weights.counts.end() ? 1 : found->second;
  return weights.threshold - FixedLog2(holders);
}

// Counts the values of the sampled records: through their equal lines in line order, the
// others as read from the original in record order.
ValueWeights WeighValues(const TablePairing& pairing, const PairingTexts& texts) {
  const std::size_t records = pairing.lineOfRecord.size();
  const std::size_t sampled = std::min(records, kWeightSample);
  std::vector<bool> inSample(records, false);
  for (std::size_t at = 0; at < sampled; ++at)
    inSample[at * records / sampled] = true;
  ValueWeights weights;
  weights.sampled = sampled;
  weights.threshold = FixedLog2(sampled + 1);
  auto count = [&](std::string_view line) {
    const std::vector<std::string_view> cells = SplitColumns(line);
    for (std::size_t column = 0; column < cells.size(); ++column)
      ++weights.counts[CellKey(column, LineHash(cells[column]))];
  };
  for (std::size_t line = 0; line < pairing.recordOfLine.size(); ++line) {
    const std::uint32_t record = pairing.recordOfLine[line];
    if (record != kNoRecord && inSample[record]) count(texts.editedLine(line));
  }
  for (std::size_t record = 0; record < records; ++record) {
    if (inSample[record] && pairing.lineOfRecord[record] == kNoLine) {
      count(texts.recordLine(record));
    }
  }
  return weights;
}

// The cells in which a line and a record's line differ, column by column, missing ones too.
std::size_t DifferingCells(std::span<const std::uint64_t> line,
                           std::span<const std::uint64_t> record) {
  const std::size_t columns = std::min(line.size(), record.size());
  std::size_t differing = std::max(line.size(), record.size()) - columns;
  for (std::size_t column = 0; column < columns; ++column)
    differing += line[column] != record[column] ? 1u : 0u;
  return differing;
}

// The weight of the cells a line and a record share, column by column.
Weight SharedWeight(std::span<const std::uint64_t> line, std::span<const Weight> lineWeights,
                    std::span<const std::uint64_t> record) {
  Weight shared = 0;
  const std::size_t columns = std::min(line.size(), record.size());
  for (std::size_t column = 0; column < columns; ++column) {
    if (line[column] == record[column]) shared += lineWeights[column];
  }
  return shared;
}

// ---- Resembling lines.

// A record that may stand for a line, once weighed.
struct Candidate {
  std::uint32_t line;
  std::uint32_t record;
  Weight weight;
  std::int64_t distance;       // from where the line stands
  std::size_t differingCells;  // between the line and the record's line
};

// The better of two candidates: more weight, then nearer, then the earlier line and record.
bool Better(const Candidate& a, const Candidate& b) {
  if (a.weight != b.weight) return a.weight > b.weight;
  if (a.distance != b.distance) return a.distance < b.distance;
  if (a.line != b.line) return a.line < b.line;
  return a.record < b.record;
}

// Rows of cells for a set of lines or records, found by the values they hold.
struct RowIndex {
  CellRows rows;
  std::vector<std::uint32_t> ids;  // the line or record of each row, increasing
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> postings;  // key -> rows
};

void IndexRows(RowIndex& index) {
  for (std::uint32_t row = 0; row < index.ids.size(); ++row) {
    for (std::uint64_t key : Row(index.rows, row)) {
      std::vector<std::uint32_t>& posting = index.postings[key];
      if (posting.size() <= kLongestPosting) posting.push_back(row);
    }
  }
}

// Rows of the index that hold values of the line: from the rarest values on, skipping those
// that more than kLongestPosting rows hold, until kCandidatesByValue are found.
std::vector<std::uint32_t> RowsSharingValues(const RowIndex& index,
                                             std::span<const std::uint64_t> line,
                                             std::span<const Weight> lineWeights) {
  std::vector<std::pair<Weight, const std::vector<std::uint32_t>*>> postings;
  for (std::size_t column = 0; column < line.size(); ++column) {
    const auto found = index.postings.find(line[column]);
    if (found == index.postings.end() || found->second.size() > kLongestPosting) continue;
    postings.emplace_back(lineWeights[column], &found->second);
  }
  std::ranges::stable_sort(postings,
                           [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::uint32_t> rows;
  for (const auto& [weight, posting] : postings) {
    if (rows.size() >= kCandidatesByValue) break;
    rows.insert(rows.end(), posting->begin(), posting->end());
  }
  std::ranges::sort(rows);
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

// The rows of the index nearest to a record position on each side.
void AddRowsNear(const RowIndex& index, std::int64_t expected, std::vector<std::uint32_t>& rows) {
  const auto at = std::ranges::lower_bound(index.ids, static_cast<std::uint64_t>(expected));
  const auto first = static_cast<std::size_t>(at - index.ids.begin());
  const std::size_t from = first > kCandidatesByPosition ? first - kCandidatesByPosition : 0;
  const std::size_t to = std::min(index.ids.size(), first + kCandidatesByPosition);
  for (std::size_t row = from; row < to; ++row)
    rows.push_back(static_cast<std::uint32_t>(row));
  std::ranges::sort(rows);
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
}

std::vector<Weight> CellWeights(const ValueWeights& weights, std::span<const std::uint64_t> line) {
  std::vector<Weight> cellWeights;
  cellWeights.reserve(line.size());
  for (std::uint64_t key : line)
    cellWeights.push_back(WeightOf(weights, key));
  return cellWeights;
}

// The records of `index` that the line resembles enough, the best first, at most `most`.
std::vector<Candidate> WeighCandidates(const RowIndex& index, std::uint32_t line,
                                       std::span<const std::uint64_t> cells,
                                       const ValueWeights& weights, std::int64_t expected,
                                       bool byPosition, std::size_t most) {
  const std::vector<Weight> cellWeights = CellWeights(weights, cells);
  std::vector<std::uint32_t> rows = RowsSharingValues(index, cells, cellWeights);
  if (byPosition) AddRowsNear(index, expected, rows);
  std::vector<Candidate> found;
  for (std::uint32_t row : rows) {
    const Weight weight = SharedWeight(cells, cellWeights, Row(index.rows, row));
    if (weight < weights.threshold) continue;
    const std::uint32_t record = index.ids[row];
    found.push_back({line, record, weight, std::abs(static_cast<std::int64_t>(record) - expected),
                     DifferingCells(cells, Row(index.rows, row))});
  }
  std::ranges::sort(found, Better);
  if (found.size() > most) found.resize(most);
  return found;
}

// The cells of the lines or records still without a partner (`partners[id]` is `none`), in
// their order.
RowIndex Unpaired(const std::vector<std::uint32_t>& partners, std::uint32_t none,
                  const std::function<std::string_view(std::size_t id)>& textOf) {
  RowIndex unpaired;
  for (std::size_t id = 0; id < partners.size(); ++id) {
    if (partners[id] != none) continue;
    unpaired.ids.push_back(static_cast<std::uint32_t>(id));
    AddRow(unpaired.rows, textOf(id));
  }
  return unpaired;
}

// The remaining records grouped by what they hold: identical twins (records made by copying
// one) are one row of `distinct`, so that however many there are, a line finds them as one
// candidate that each of its changed copies can pair with.
struct RecordTwins {
  RowIndex distinct;                              // ids: each group's first record
  std::vector<std::set<std::uint32_t>> unpaired;  // per group: its records still without a line
};

// Groups the rows of `records` by their cells, in record order. Does not index them.
RecordTwins GroupTwins(const RowIndex& records, std::span<const std::uint64_t> recordHashes) {
  RecordTwins twins;
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> groupsOfHash;
  for (std::size_t row = 0; row < records.ids.size(); ++row) {
    const std::uint32_t record = records.ids[row];
    const std::span<const std::uint64_t> cells = Row(records.rows, row);
    std::vector<std::uint32_t>& groups = groupsOfHash[recordHashes[record]];
    const auto same = std::ranges::find_if(groups, [&](std::uint32_t group) {
      return std::ranges::equal(Row(twins.distinct.rows, group), cells);
    });
    if (same != groups.end()) {
      twins.unpaired[*same].insert(record);
      continue;
    }
    groups.push_back(static_cast<std::uint32_t>(twins.distinct.ids.size()));
    twins.distinct.ids.push_back(record);
    twins.distinct.rows.keys.insert(twins.distinct.rows.keys.end(), cells.begin(), cells.end());
    twins.distinct.rows.starts.push_back(
        static_cast<std::uint32_t>(twins.distinct.rows.keys.size()));
    twins.unpaired.push_back({record});
  }
  return twins;
}

// Takes the record of a candidate's group still without a line nearest to `expected`, or
// kNoRecord when every record of the group has one.
std::uint32_t TakeNearestTwin(RecordTwins& twins, std::uint32_t groupRecord,
                              std::int64_t expected) {
  const auto group = static_cast<std::size_t>(
      std::ranges::lower_bound(twins.distinct.ids, groupRecord) - twins.distinct.ids.begin());
  std::set<std::uint32_t>& unpaired = twins.unpaired[group];
  if (unpaired.empty()) return kNoRecord;
  auto nearest = unpaired.lower_bound(static_cast<std::uint32_t>(expected));
  if (nearest == unpaired.end() ||
      (nearest != unpaired.begin() &&
       expected - std::int64_t{*std::prev(nearest)} <= std::int64_t{*nearest} - expected)) {
    --nearest;
  }
  const std::uint32_t record = *nearest;
  unpaired.erase(nearest);
  return record;
}

// ---- The record a line resembles most anywhere.

// For each listed row of `lines`, the record it resembles most (by at least the threshold)
// among all the table's records, those paired with an equal line read through it and the
// others from `records`; kNoRecord for none. Records are found by the rare values of the lines
// (those at most kLongestPosting records are estimated to hold).
std::vector<Candidate> BestRecordsAnywhere(const RowIndex& lines, std::span<const std::size_t> rows,
                                           const RowIndex& records, const ValueWeights& weights,
                                           const std::vector<std::int64_t>& expected,
                                           const PairingTexts& texts, const TablePairing& pairing) {
  std::vector<Candidate> best(rows.size());
  for (std::size_t at = 0; at < rows.size(); ++at)
    best[at] = Candidate{lines.ids[rows[at]], kNoRecord, 0, 0, 0};
  if (rows.empty()) return best;
  const std::size_t recordCount = pairing.lineOfRecord.size();
  std::unordered_set<std::uint64_t> wanted;
  for (std::size_t row : rows) {
    for (std::uint64_t key : Row(lines.rows, row)) {
      const auto found = weights.counts.find(key);
      const std::uint64_t holders =
          found == weights.counts.end() ? 0 : found->second * recordCount / weights.sampled;
      if (holders <= kLongestPosting) wanted.insert(key);
    }
  }
  RowIndex holders;
  auto take = [&](std::uint32_t record, std::span<const std::uint64_t> cells) {
    if (std::ranges::none_of(cells, [&](std::uint64_t key) { return wanted.contains(key); })) {
      return;
    }
    holders.ids.push_back(record);
    holders.rows.keys.insert(holders.rows.keys.end(), cells.begin(), cells.end());
    holders.rows.starts.push_back(static_cast<std::uint32_t>(holders.rows.keys.size()));
  };
  CellRows scratch;
  for (std::size_t line = 0; line < pairing.recordOfLine.size(); ++line) {
    if (!pairing.equal[line]) continue;
    scratch = CellRows{};
    AddRow(scratch, texts.editedLine(line));
    take(pairing.recordOfLine[line], Row(scratch, 0));
  }
  for (std::size_t row = 0; row < records.ids.size(); ++row)
    take(records.ids[row], Row(records.rows, row));
  // Held in record order, so that ties go the same way whatever order they were read in.
  std::vector<std::size_t> order(holders.ids.size());
  for (std::size_t at = 0; at < order.size(); ++at)
    order[at] = at;
  std::ranges::sort(order, {}, [&](std::size_t at) { return holders.ids[at]; });
  RowIndex sorted;
  for (std::size_t at : order) {
    sorted.ids.push_back(holders.ids[at]);
    const auto cells = Row(holders.rows, at);
    sorted.rows.keys.insert(sorted.rows.keys.end(), cells.begin(), cells.end());
    sorted.rows.starts.push_back(static_cast<std::uint32_t>(sorted.rows.keys.size()));
  }
  IndexRows(sorted);
  for (std::size_t at = 0; at < rows.size(); ++at) {
    const std::uint32_t line = lines.ids[rows[at]];
    const std::vector<Candidate> found =
        WeighCandidates(sorted, line, Row(lines.rows, rows[at]), weights, expected[line], false, 1);
    if (!found.empty()) best[at] = found.front();
  }
  return best;
}

// Rows of `lines` whose lines are not yet known to be their best remaining candidate changed in
// one cell: those with no candidate, or whose best candidate differs in more cells.
std::vector<std::size_t> RowsToCompareEverywhere(const RowIndex& lines,
                                                 const std::vector<std::vector<Candidate>>& best) {
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < lines.ids.size(); ++row) {
    if (best[row].empty() || best[row].front().differingCells > 1) rows.push_back(row);
  }
  return rows;
}

// Pairs remaining lines with remaining records, the best pairs across the table first. A line
// that resembles a record that stays (an equal line's record) more than any remaining one is a
// copy of that record, not a change of a remaining one: it pairs with none. Each line's best
// record anywhere, where it was looked for, is left in `anywhere`.
void PairResemblingLines(const RowIndex& lines, const RowIndex& records, RecordTwins& twins,
                         const ValueWeights& weights, const std::vector<std::int64_t>& expected,
                         const PairingTexts& texts, TablePairing& pairing,
                         std::vector<Candidate>& anywhere) {
  std::vector<std::vector<Candidate>> best(lines.ids.size());
  for (std::size_t row = 0; row < lines.ids.size(); ++row) {
    const std::uint32_t line = lines.ids[row];
    best[row] = WeighCandidates(twins.distinct, line, Row(lines.rows, row), weights, expected[line],
                                true, kBestCandidates);
  }
  const std::vector<std::size_t> compared = RowsToCompareEverywhere(lines, best);
  const std::vector<Candidate> found =
      BestRecordsAnywhere(lines, compared, records, weights, expected, texts, pairing);
  for (std::size_t at = 0; at < compared.size(); ++at) {
    anywhere[compared[at]] = found[at];
    if (found[at].record == kNoRecord || pairing.lineOfRecord[found[at].record] == kNoLine)
      continue;
    std::erase_if(best[compared[at]],
                  [&](const Candidate& candidate) { return candidate.weight < found[at].weight; });
  }
  std::vector<Candidate> candidates;
  for (const std::vector<Candidate>& ofLine : best)
    candidates.insert(candidates.end(), ofLine.begin(), ofLine.end());
  std::ranges::sort(candidates, Better);
  for (const Candidate& candidate : candidates) {
    if (pairing.recordOfLine[candidate.line] != kNoRecord) continue;
    const std::uint32_t record = TakeNearestTwin(twins, candidate.record, expected[candidate.line]);
    if (record == kNoRecord) continue;
    pairing.recordOfLine[candidate.line] = record;
    pairing.lineOfRecord[record] = candidate.line;
  }
}

// The lines whose records keep their place.
void MarkRecordsInPlace(TablePairing& pairing) {
  pairing.inPlace = LongestIncreasingRun(pairing.recordOfLine);
}

// The number of cells of the row standing for `id` in the index.
std::size_t CellCountOf(const RowIndex& index, std::uint32_t id) {
  const auto row =
      static_cast<std::size_t>(std::ranges::lower_bound(index.ids, id) - index.ids.begin());
  return Row(index.rows, row).size();
}

// Where a person could not tell either (a line that resembles no record anywhere): a line and
// a record left alone between the same two pairs that keep their place, with as many cells,
// are taken as that record changed in place.
void PairLonePlaces(const RowIndex& lines, const RowIndex& records,
                    const std::vector<Candidate>& anywhere, TablePairing& pairing) {
  std::vector<std::uint32_t> freeLines;
  for (std::size_t row = 0; row < lines.ids.size(); ++row) {
    const std::uint32_t line = lines.ids[row];
    if (pairing.recordOfLine[line] == kNoRecord && anywhere[row].record == kNoRecord) {
      freeLines.push_back(line);
    }
  }
  std::vector<std::uint32_t> freeRecords;
  for (std::uint32_t record : records.ids) {
    if (pairing.lineOfRecord[record] == kNoLine) freeRecords.push_back(record);
  }
  if (freeLines.empty() || freeRecords.empty()) return;
  MarkRecordsInPlace(pairing);
  // The pairs that keep their place, with one before the first and one after the last.
  std::vector<std::pair<std::int64_t, std::int64_t>> bounds{{-1, -1}};
  for (std::uint32_t line = 0; line < pairing.inPlace.size(); ++line) {
    if (pairing.inPlace[line]) bounds.emplace_back(line, pairing.recordOfLine[line]);
  }
  bounds.emplace_back(pairing.recordOfLine.size(), pairing.lineOfRecord.size());
  auto within = [](const std::vector<std::uint32_t>& sorted, std::int64_t after,
                   std::int64_t before) {
    const auto first = std::ranges::upper_bound(sorted, after, {},
                                                [](std::uint32_t v) { return std::int64_t{v}; });
    const auto last = std::ranges::lower_bound(sorted, before, {},
                                               [](std::uint32_t v) { return std::int64_t{v}; });
    return std::span(first, last);
  };
  for (std::size_t at = 1; at < bounds.size(); ++at) {
    const auto stretchLines = within(freeLines, bounds[at - 1].first, bounds[at].first);
    const auto stretchRecords = within(freeRecords, bounds[at - 1].second, bounds[at].second);
    if (stretchLines.size() != 1 || stretchRecords.size() != 1) continue;
    const std::uint32_t line = stretchLines.front();
    const std::uint32_t record = stretchRecords.front();
    if (CellCountOf(lines, line) != CellCountOf(records, record)) continue;
    pairing.recordOfLine[line] = record;
    pairing.lineOfRecord[record] = line;
  }
}

// Looks for the record each unpaired line resembles most anywhere, where it was not yet.
void FindBestRecordsOfUnpairedLines(const RowIndex& lines, const RowIndex& records,
                                    const ValueWeights& weights,
                                    const std::vector<std::int64_t>& expected,
                                    const PairingTexts& texts, const TablePairing& pairing,
                                    std::vector<Candidate>& anywhere) {
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < lines.ids.size(); ++row) {
    if (pairing.recordOfLine[lines.ids[row]] == kNoRecord && anywhere[row].line == kNoLine) {
      rows.push_back(row);
    }
  }
  const std::vector<Candidate> found =
      BestRecordsAnywhere(lines, rows, records, weights, expected, texts, pairing);
  for (std::size_t at = 0; at < rows.size(); ++at)
    anywhere[rows[at]] = found[at];
}

// Every added line's template: the record it resembles most anywhere, if any.
void ChooseTemplates(const RowIndex& lines, const std::vector<Candidate>& anywhere,
                     TablePairing& pairing) {
  for (std::size_t row = 0; row < lines.ids.size(); ++row) {
    const std::uint32_t line = lines.ids[row];
    if (pairing.recordOfLine[line] == kNoRecord)
      pairing.templateOfLine[line] = anywhere[row].record;
  }
}

// ---- Records that keep their place.

// An unedited table: every line stands for the record at its place.
TablePairing UneditedPairing(std::size_t lines) {
  TablePairing pairing;
  pairing.recordOfLine.resize(lines);
  for (std::size_t line = 0; line < lines; ++line)
    pairing.recordOfLine[line] = static_cast<std::uint32_t>(line);
  pairing.lineOfRecord = pairing.recordOfLine;
  pairing.equal.assign(lines, true);
  pairing.inPlace.assign(lines, true);
  pairing.templateOfLine.assign(lines, kNoRecord);
  return pairing;
}

}  // namespace

std::vector<bool> LongestIncreasingRun(std::span<const std::uint32_t> values) {
  if (std::ranges::is_sorted(values) &&
      std::ranges::none_of(values, [](std::uint32_t value) { return value == kNoRecord; })) {
    return std::vector<bool>(values.size(), true);  // every value where it was
  }
  std::vector<std::uint32_t> present;
  for (std::uint32_t at = 0; at < values.size(); ++at) {
    if (values[at] != kNoRecord) present.push_back(at);
  }
  // tails[k]: the index in `present` ending the best run of length k + 1 found so far.
  std::vector<std::size_t> tails;
  std::vector<std::size_t> before(present.size());
  auto valueAt = [&](std::size_t at) { return values[present[at]]; };
  for (std::size_t at = 0; at < present.size(); ++at) {
    const auto place =
        std::ranges::lower_bound(tails, valueAt(at), {}, [&](std::size_t t) { return valueAt(t); });
    const auto length = static_cast<std::size_t>(place - tails.begin());
    before[at] = length == 0 ? at : tails[length - 1];
    if (place == tails.end()) {
      tails.push_back(at);
    } else {
      *place = at;
    }
  }
  std::vector<bool> inRun(values.size(), false);
  if (tails.empty()) return inRun;
  for (std::size_t at = tails.back();; at = before[at]) {
    inRun[present[at]] = true;
    if (before[at] == at) break;
  }
  return inRun;
}

TablePairing PairLines(std::span<const std::uint64_t> recordHashes,
                       std::span<const std::uint64_t> lineHashes, const PairingTexts& texts) {
  TablePairing pairing;
  if (std::ranges::equal(recordHashes, lineHashes)) return UneditedPairing(lineHashes.size());
  pairing.recordOfLine.assign(lineHashes.size(), kNoRecord);
  pairing.lineOfRecord.assign(recordHashes.size(), kNoLine);
  pairing.templateOfLine.assign(lineHashes.size(), kNoRecord);
  pairing.inPlace.assign(lineHashes.size(), false);
  const std::vector<LineMatch> aligned = PairEqualLines(recordHashes, lineHashes, pairing);
  pairing.equal.assign(lineHashes.size(), false);
  for (std::size_t line = 0; line < lineHashes.size(); ++line)
    pairing.equal[line] = pairing.recordOfLine[line] != kNoRecord;
  const bool allEqual = std::ranges::none_of(
      pairing.recordOfLine, [](std::uint32_t record) { return record == kNoRecord; });
  if (!allEqual && !recordHashes.empty()) {
    const std::vector<std::int64_t> expected =
        ExpectedRecords(aligned, lineHashes.size(), recordHashes.size());
    const ValueWeights weights = WeighValues(pairing, texts);
    const RowIndex lines = Unpaired(pairing.recordOfLine, kNoRecord, texts.editedLine);
    const RowIndex records = Unpaired(pairing.lineOfRecord, kNoLine, texts.recordLine);
    RecordTwins twins = GroupTwins(records, recordHashes);
    IndexRows(twins.distinct);  // records are found by their values
    // Each line's best record anywhere, once looked for (kNoLine before).
    std::vector<Candidate> anywhere(lines.ids.size(), Candidate{kNoLine, kNoRecord, 0, 0, 0});
    PairResemblingLines(lines, records, twins, weights, expected, texts, pairing, anywhere);
    FindBestRecordsOfUnpairedLines(lines, records, weights, expected, texts, pairing, anywhere);
    PairLonePlaces(lines, records, anywhere, pairing);
    ChooseTemplates(lines, anywhere, pairing);
    pairing.inPlace.assign(lineHashes.size(), false);
  }
  MarkRecordsInPlace(pairing);
  return pairing;
}
