// Aligns the lines of an edited table with the lines its records were read as: which lines stayed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// A line of the original paired with an equal line of the edited text.
struct LineMatch {
  std::size_t original;
  std::size_t edited;
};

// A common subsequence of the two sequences of line hashes, as pairs in increasing order of
// both. Equal first and last lines are paired first; the rest by a shortest edit script
// (Myers' algorithm), the longest common subsequence, when it takes at most 2,000 edits
// and about four million steps. Beyond that the lines are walked step by step, each line that
// differs taken as replaced, deleted or inserted by the nearest equal lines ahead (within
// 32 lines), so that lines changed in place, and lines that repeat, stay paired in place;
// the walk gives up, pairing nothing more, where fewer than half the lines walked pair (lines
// that moved far, as in a sorted table, are for pairing by their hashes). So an unedited table
// costs one pass, any edit of up to 2,000 lines gives the longest common subsequence, and
// a heavily edited or reordered table of a million lines still aligns in linear time.
std::vector<LineMatch> AlignLines(std::span<const std::uint64_t> original,
                                  std::span<const std::uint64_t> edited);
