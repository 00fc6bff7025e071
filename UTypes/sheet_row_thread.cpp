// The hand-over: full batches queued under one lock, spare ones handed back to keep their room.
#include "sheet_row_thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct BatchRow {
  std::uint32_t number = 0;
  std::size_t firstCell = 0;
  std::size_t cellCount = 0;
};

// A cell as the batch holds it: its value is `size` bytes of the batch's bytes from `offset`.
struct BatchCell {
  std::size_t column = 0;
  std::size_t offset = 0;
  std::size_t size = 0;
  ReadCellKind kind = ReadCellKind::Text;
  bool formula = false;
  bool formulaValue = true;
};

// Rows in a row, their values one after another in one buffer: the worker writes it and the
// caller reads it from end to end, rather than both touching a string for each cell.
struct RowBatch {
  std::string bytes;
  std::vector<BatchCell> cells;
  std::vector<BatchRow> rows;
};

struct HandOver {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<RowBatch> full;
  std::vector<RowBatch> spare;
  bool readDone = false;  // `read` has returned or thrown; `failure` says which
  bool stopping = false;  // the caller's handler failed: no more rows are wanted
  std::exception_ptr failure;
};

// Thrown through `read` once the caller is stopping.
struct ReadingStopped {};

// Queues the batch, waiting while kMostWaitingBatches are queued, and leaves a spare one in its
// place. `force` queues it without waiting: the last one.
void HandBatchOver(HandOver& handOver, RowBatch& batch, bool force) {
  std::unique_lock<std::mutex> lock(handOver.mutex);
  if (!force) {
    handOver.changed.wait(
        lock, [&] { return handOver.stopping || handOver.full.size() < kMostWaitingBatches; });
  }
  if (handOver.stopping) throw ReadingStopped{};
  RowBatch next;
  if (!handOver.spare.empty()) {
    next = std::move(handOver.spare.back());
    handOver.spare.pop_back();
  }
  handOver.full.push_back(std::move(batch));
  batch = std::move(next);
  batch.bytes.clear();
  batch.cells.clear();
  batch.rows.clear();
  handOver.changed.notify_all();
}

void TakeRow(HandOver& handOver, RowBatch& batch, std::uint32_t number,
             std::span<const ReadCell> cells) {
  batch.rows.push_back({number, batch.cells.size(), cells.size()});
  for (const ReadCell& cell : cells) {
    batch.cells.push_back({cell.column, batch.bytes.size(), cell.value.size(), cell.kind,
                           cell.formula, cell.formulaValue});
    batch.bytes += cell.value;
  }
  if (batch.cells.size() >= kRowBatchCells || batch.bytes.size() >= kRowBatchBytes) {
    HandBatchOver(handOver, batch, false);
  }
}

// The worker: reads every row into batches, hands over the last one, and says how read ended.
void RunReader(HandOver& handOver, const SheetRowReader& read) {
  RowBatch batch;
  std::exception_ptr failure;
  try {
    read([&](std::uint32_t number, std::span<const ReadCell> cells) {
      TakeRow(handOver, batch, number, cells);
    });
  } catch (const ReadingStopped&) {
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    // The rows read before a failure are handed over before it.
    if (!batch.rows.empty()) HandBatchOver(handOver, batch, true);
  } catch (const ReadingStopped&) {
  } catch (...) {
    if (failure == nullptr) failure = std::current_exception();
  }
  const std::lock_guard<std::mutex> lock(handOver.mutex);
  handOver.failure = failure;
  handOver.readDone = true;
  handOver.changed.notify_all();
}

// The next full batch, or false once read is done and every batch is handed out.
bool NextBatch(HandOver& handOver, RowBatch& batch) {
  std::unique_lock<std::mutex> lock(handOver.mutex);
  handOver.changed.wait(lock, [&] { return handOver.readDone || !handOver.full.empty(); });
  if (handOver.full.empty()) return false;
  batch = std::move(handOver.full.front());
  handOver.full.pop_front();
  handOver.changed.notify_all();
  return true;
}

// Hands each row out as cells of this thread's own, whose strings keep their capacity.
void HandRowsOut(HandOver& handOver, const SheetRowHandler& handler) {
  RowBatch batch;
  std::vector<ReadCell> cells;
  while (NextBatch(handOver, batch)) {
    for (const BatchRow& row : batch.rows) {
      if (cells.size() < row.cellCount) cells.resize(row.cellCount);
      for (std::size_t index = 0; index < row.cellCount; ++index) {
        const BatchCell& from = batch.cells[row.firstCell + index];
        ReadCell& cell = cells[index];
        cell.column = from.column;
        cell.kind = from.kind;
        cell.formula = from.formula;
        cell.formulaValue = from.formulaValue;
        cell.value.assign(batch.bytes, from.offset, from.size);
      }
      handler(row.number, std::span<const ReadCell>(cells.data(), row.cellCount));
    }
    const std::lock_guard<std::mutex> lock(handOver.mutex);
    handOver.spare.push_back(std::move(batch));
  }
}

}  // namespace

void ReadRowsOnThread(const SheetRowReader& read, const SheetRowHandler& handler) {
  if (std::thread::hardware_concurrency() <= 1) return read(handler);
  HandOver handOver;
  std::thread worker;
  try {
    worker = std::thread(RunReader, std::ref(handOver), std::cref(read));
  } catch (const std::system_error&) {
    return read(handler);
  }
  try {
    HandRowsOut(handOver, handler);
  } catch (...) {
    {
      const std::lock_guard<std::mutex> lock(handOver.mutex);
      handOver.stopping = true;
    }
    handOver.changed.notify_all();
    worker.join();
    throw;
  }
  worker.join();
  if (handOver.failure != nullptr) std::rethrow_exception(handOver.failure);
}
