// Tests of the line alignment: a common subsequence always, the longest one for small edits.
#include "line_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Lines = std::vector<std::uint64_t>;

std::size_t LongestCommonLength(const Lines& a, const Lines& b) {
  std::vector<std::vector<std::size_t>> length(a.size() + 1,
                                               std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = a.size(); i-- > 0;) {
    for (std::size_t j = b.size(); j-- > 0;) {
      length[i][j] =
          a[i] == b[j] ? length[i + 1][j + 1] + 1 : std::max(length[i + 1][j], length[i][j + 1]);
    }
  }
  return length[0][0];
}

// The pairs are equal lines, increasing on both sides.
void ExpectCommonSubsequence(const Lines& a, const Lines& b, const std::vector<LineMatch>& pairs) {
  for (std::size_t index = 0; index < pairs.size(); ++index) {
    ASSERT_LT(pairs[index].original, a.size());
    ASSERT_LT(pairs[index].edited, b.size());
    EXPECT_EQ(a[pairs[index].original], b[pairs[index].edited]);
    if (index > 0) {
      EXPECT_LT(pairs[index - 1].original, pairs[index].original);
      EXPECT_LT(pairs[index - 1].edited, pairs[index].edited);
    }
  }
}

TEST(LineDiffTest, SmallRandomEditsGiveALongestCommonSubsequence) {
  std::mt19937 random(3);
  for (int round = 0; round < 3000; ++round) {
    Lines a(random() % 14);
    Lines b(random() % 14);
    const std::uint64_t kinds = 1 + random() % 5;
    for (auto& line : a)
      line = random() % kinds;
    for (auto& line : b)
      line = random() % kinds;
    const std::vector<LineMatch> pairs = AlignLines(a, b);
    ExpectCommonSubsequence(a, b, pairs);
    ASSERT_EQ(pairs.size(), LongestCommonLength(a, b)) << "round " << round;
  }
}

TEST(LineDiffTest, LargeTablesAlignEditedAndReordered) {
  Lines a(200000);
  for (std::size_t index = 0; index < a.size(); ++index)
    a[index] = index * 7919 + 1;
  Lines edited = a;
  edited.erase(edited.begin() + 5000);
  edited.insert(edited.begin() + 150000, 42);
  edited[90000] = 43;
  const std::vector<LineMatch> pairs = AlignLines(a, edited);
  ExpectCommonSubsequence(a, edited, pairs);
  EXPECT_EQ(pairs.size(), a.size() - 2);
  // Reversed: no line stays in order but one, and the walk gives up at once (pairing the moved
  // lines is left to their hashes).
  Lines reversed(a.rbegin(), a.rend());
  const std::vector<LineMatch> reversedPairs = AlignLines(a, reversed);
  ExpectCommonSubsequence(a, reversed, reversedPairs);
  EXPECT_LE(reversedPairs.size(), 1u);
}

}  // namespace
