// Tests of reading a sheet's rows on a worker: the caller gets the rows the reader gave, in
// order, with the reader's failure after them; a failed caller stops the reader.
#include "sheet_row_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "random_draws.h"

namespace {

struct Row {
  std::uint32_t number = 0;
  std::vector<ReadCell> cells;
};

// Rows of every size around a batch's, now and then one wider than a batch, values short and
// now and then long, every kind of cell.
std::vector<Row> DrawnRows(Random& random) {
  const std::size_t rowCounts[] = {0, 1, 2, kRowBatchCells, kRowBatchCells * 3 + 1, 5000};
  std::vector<Row> rows(rowCounts[RandomBelow(random, std::size(rowCounts))]);
  std::uint32_t number = 0;
  for (Row& row : rows) {
    number += 1 + static_cast<std::uint32_t>(RandomBelow(random, 3));
    row.number = number;
    row.cells.resize(RandomChance(random, 1) ? kRowBatchCells + 10 : RandomBelow(random, 40));
    std::size_t column = 0;
    for (ReadCell& cell : row.cells) {
      column += RandomBelow(random, 3);
      cell.column = column++;
      cell.kind = static_cast<ReadCellKind>(RandomBelow(random, 5));
      cell.value.assign(
          RandomChance(random, 1) ? 100 + RandomBelow(random, 4000) : RandomBelow(random, 20),
          static_cast<char>('a' + RandomBelow(random, 26)));
      cell.formula = RandomChance(random, 10);
      cell.formulaValue = !RandomChance(random, 5);
    }
  }
  return rows;
}

struct ReaderFailure {
  std::size_t afterRows;
};

// A reader of `rows` that throws ReaderFailure after `failAfter` of them (none when past them).
SheetRowReader ReaderOf(const std::vector<Row>& rows, std::size_t failAfter) {
  return [&rows, failAfter](const SheetRowHandler& sink) {
    for (std::size_t index = 0; index < rows.size(); ++index) {
      if (index == failAfter) throw ReaderFailure{index};
      sink(rows[index].number, rows[index].cells);
    }
    if (failAfter == rows.size()) throw ReaderFailure{rows.size()};
  };
}

TEST(SheetRowThreadTest, TheCallerGetsEveryRowInOrderThenTheReadersFailure) {
  for (std::uint64_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Random random{seed};
    const std::vector<Row> rows = DrawnRows(random);
    // Without a failure, or one after some of the rows (at a batch's edge among them).
    const std::size_t failAfter = RandomChance(random, 50)   ? rows.size() + 1
                                  : RandomChance(random, 30) ? std::min(rows.size(), kRowBatchCells)
                                                             : RandomBelow(random, rows.size() + 1);
    std::size_t handed = 0;
    bool inOrder = true;
    const auto handler = [&](std::uint32_t number, std::span<const ReadCell> cells) {
      inOrder = inOrder && handed < rows.size() && rows[handed].number == number &&
                std::ranges::equal(rows[handed].cells, cells);
      ++handed;
    };
    std::size_t failedAfter = rows.size() + 1;
    try {
      ReadRowsOnThread(ReaderOf(rows, failAfter), handler);
    } catch (const ReaderFailure& failure) {
      failedAfter = failure.afterRows;
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(failedAfter, failAfter);
    EXPECT_EQ(handed, std::min(failAfter, rows.size()));
  }
}

struct HandlerFailure {};

// The reader is many rows long: a handler that fails early stops it, and what the reader held
// is let go as it unwinds. Rows of short values and of long ones: the reader gets at most the
// batches that may wait, and the one being filled, ahead of the handler, by cells or by bytes.
TEST(SheetRowThreadTest, AFailedHandlerStopsTheReader) {
  const struct {
    std::uint32_t failAt;
    std::size_t valueBytes;
  } kCases[] = {{1, 1}, {5, 1}, {static_cast<std::uint32_t>(kRowBatchCells * 3), 1}, {3, 100000}};
  for (const auto& [failAt, valueBytes] : kCases) {
    SCOPED_TRACE(failAt);
    const std::uint32_t rowCount = 1000000;
    std::size_t givenCells = 0;
    std::size_t givenBytes = 0;
    bool released = false;
    const SheetRowReader read = [&](const SheetRowHandler& sink) {
      struct Held {
        bool& released;
        ~Held() { released = true; }
      } held{released};
      std::vector<ReadCell> cells(3);
      for (ReadCell& cell : cells)
        cell.value.assign(valueBytes, 'x');
      for (std::uint32_t number = 1; number <= rowCount; ++number) {
        givenCells += cells.size();
        givenBytes += cells.size() * valueBytes;
        sink(number, cells);
      }
    };
    std::uint32_t last = 0;
    EXPECT_THROW(ReadRowsOnThread(read,
                                  [&](std::uint32_t number, std::span<const ReadCell>) {
                                    last = number;
                                    if (number == failAt) throw HandlerFailure{};
                                  }),
                 HandlerFailure);
    EXPECT_EQ(last, failAt);
    EXPECT_TRUE(released);
    const std::size_t ahead = kMostWaitingBatches + 3;
    if (valueBytes == 1) {
      EXPECT_LT(givenCells, 3 * failAt + ahead * kRowBatchCells);
    } else {
      EXPECT_LT(givenBytes, 3 * failAt * valueBytes + ahead * kRowBatchBytes);
    }
  }
}

}  // namespace
