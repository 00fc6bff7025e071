// Tests of the row: finished lines lose their NUL bytes, long texts are kept whole.
#include "row_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RowBufferTest, FinishedRowsLoseTheirNulsAndLeaveTheBuilderEmpty) {
  RowBuilder row;
  AppendRowText(row, std::string_view("\0a\0\0b\0", 6));
  EXPECT_EQ(FinishRow(row), "ab");
  EXPECT_EQ(RowText(row), "");
  AppendRowText(row, std::string(3, '\0'));
  EXPECT_EQ(FinishRow(row), "");
  EXPECT_EQ(FinishRow(row), "");
  AppendRowText(row, std::string(7000, 'r'));
  AppendRowText(row, std::string_view("\0s", 2));
  EXPECT_EQ(FinishRow(row), std::string(7000, 'r') + "s");
}

// A payload longer than the row's growth, and text after it, are kept whole.
TEST(RowBufferTest, LongPayloadKeepsTheTextBeforeAndAfterIt) {
  RowBuilder row;
  AppendRowText(row, "a");
  const std::string text(std::size_t{2} << 20, 'x');
  AppendRowText(row, text);
  AppendRowText(row, "\tb");
  EXPECT_TRUE(FinishRow(row) == "a" + text + "\tb");
}

}  // namespace
