// A sheet's rows read on a thread of their own and handed to the caller's thread in batches, so
// that reading a sheet's XML and making its cells into a table share the machine's cores.
#pragma once

#include <cstddef>
#include <functional>
#include <span>

#include "sheet_cells.h"

// Cells, or bytes of their values, a batch holds before it is handed over (it holds a row whole,
// however long), and the batches waiting at most: memory stays bounded by them, whatever the
// sheet's size.
inline constexpr std::size_t kRowBatchCells = 4096;
inline constexpr std::size_t kRowBatchBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMostWaitingBatches = 4;

// Reads rows, giving each to the handler it is passed.
using SheetRowReader = std::function<void(const SheetRowHandler& sink)>;

// Runs `read` on a worker and hands each row it gives its sink to `handler` on this thread, in
// the order read gave them; returns once both are done. What `read` throws is rethrown here
// after the rows it gave before. When `handler` throws, the sink throws at its next batch so that
// `read` unwinds, the worker is joined and the handler's exception rethrown. On a machine of one
// core, or where no thread can be started, `read` runs here with `handler` as its sink.
void ReadRowsOnThread(const SheetRowReader& read, const SheetRowHandler& handler);
