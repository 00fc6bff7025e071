// Pairs the lines of an edited table with the records of the original table: records are known
// by what their lines hold, wherever the lines stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

inline constexpr std::uint32_t kNoRecord = UINT32_MAX;
inline constexpr std::uint32_t kNoLine = UINT32_MAX;

// Which record each line of an edited table stands for.
struct TablePairing {
  std::vector<std::uint32_t> recordOfLine;  // kNoRecord: an added line
  std::vector<std::uint32_t> lineOfRecord;  // kNoLine: a removed record
  std::vector<bool> equal;                  // per line: paired with a record it equals
  std::vector<bool> inPlace;                // per line: its record keeps its place
  // Per line: for an added line the record it resembles most, anywhere in the table (paired
  // or removed), or kNoRecord when none resembles it.
  std::vector<std::uint32_t> templateOfLine;
};

// How the pairing reads texts, which it reads only where lines are not all equal to records.
struct PairingTexts {
  // The text of an edited line, valid until the next call; asked in increasing order of lines.
  std::function<std::string_view(std::size_t line)> editedLine;
  // The line of an original record, valid until the next call: asked only of records that no
  // equal line stands for (the others are read through their lines), in increasing order.
  std::function<std::string_view(std::size_t record)> recordLine;
};

// Pairs lines with records:
// 1. Equal lines keep their records: aligned ones in place (line_diff's alignment), then each
//    line left with the earliest record left with an equal line.
// 2. Every other line pairs with the remaining record it most resembles, wherever either
//    stands. Resemblance is the weight of the cells a line shares with a record's line, column
//    by column: agreeing on a value that k of the table's n records hold weighs log2((n+1)/k)
//    bits (counted on an even sample of at most kWeightSample records), so a name or a code that
//    one record holds weighs most and an empty shop flag that most hold next to nothing. A line
//    pairs only when its shared cells weigh at least log2(n+1) bits: as much as one cell that no
//    other record holds. Identical records (copies of one) are one candidate, which lines pair
//    with until none of its records is left, each line with the one nearest to where it stands,
//    so a changed copy finds a record however many copies there are. Pairs are taken by weight,
//    ties by the nearest record to where the line stands, then by line and record; so the
//    pairing is one to one and deterministic.
//    Where a person could not tell either, a line and a record left alone between the same two
//    pairs that keep their place, with as many cells, are the record changed in place.
// 3. A line left over is added; the record it resembles most by the same measure, among all
//    records, is its template (none when nothing reaches the threshold).
// 4. The records that keep their place are the longest run of pairs in order on both sides.
// Records are looked up by the values of their cells and by position, so the cost stays near
// linear in lines.
TablePairing PairLines(std::span<const std::uint64_t> recordHashes,
                       std::span<const std::uint64_t> lineHashes, const PairingTexts& texts);

// Which values of the sequence (kNoRecord ones left out) make its longest increasing run: for
// records in the order of a new table, those that keep their place.
std::vector<bool> LongestIncreasingRun(std::span<const std::uint32_t> values);

// Records whose values weigh the cells, at most: the whole table up to that size.
inline constexpr std::size_t kWeightSample = std::size_t{1} << 14;
