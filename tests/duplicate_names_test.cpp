// Tests of the names that a source brings and another record holds too.
#include "duplicate_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DuplicateNamesTest, NamesAreTheSameWithoutTheCaseOfTheirLetters) {
  const struct {
    std::string a;
    std::string b;
    bool same;
  } cases[] = {
      {"Firestorm", "firestorm", true},
      {"FIRE_BALL2", "fire_ball2", true},
      {"\xCE\xE3\xED\xE5\xF8\xE0\xF0", "\xEE\xE3\xED\xE5\xF8\xE0\xF0", true},  // Cyrillic O
      {"\xA8\xEB\xEA\xE0", "\xB8\xEB\xEA\xE0", true},                          // Yo, yo
      {"\xDF", "\xFF", true},                                                  // Ya, ya
      {"Fireball", "Fireball ", false},
      {"\xC0", "\xA0", false},
      {"fire-ball", "fire_ball", false},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(NameKey(test.a) == NameKey(test.b), test.same) << test.a << " / " << test.b;
  }
}

TEST(DuplicateNamesTest, OnlyValuesALineBringsAndAnotherHoldsAreDuplicates) {
  const std::vector<NamedValue> values = {
      {"Fireball", {0, 2}, false}, {"Gust", {0, 3}, false},  {"gust", {1, 9}, true},
      {"Frost", {0, 5}, false},    {"frost", {0, 6}, false}, {"", {1, 7}, true},
      {"", {1, 8}, true},          {"Spark", {1, 4}, true},  {"GUST", {0, 11}, false},
      {"Spark", {2, 10}, true},
  };
  const std::vector<DuplicateName> duplicates = FindDuplicateNames(3, 1, values);
  // Gust (first at the second line) before Spark; Frost twice in the original is no news; empty
  // cells name nothing.
  ASSERT_EQ(duplicates.size(), 2u);
  EXPECT_EQ(duplicates[0].table, 3u);
  EXPECT_EQ(duplicates[0].column, 1u);
  EXPECT_EQ(duplicates[0].value, "Gust");
  ASSERT_EQ(duplicates[0].lines.size(), 3u);
  EXPECT_EQ(duplicates[0].lines[1].source, 1u);
  EXPECT_EQ(duplicates[0].lines[1].line, 9u);
  EXPECT_EQ(duplicates[0].lines[2].line, 11u);
  EXPECT_EQ(duplicates[1].value, "Spark");
  ASSERT_EQ(duplicates[1].lines.size(), 2u);
  EXPECT_EQ(duplicates[1].lines[1].source, 2u);
}

}  // namespace
