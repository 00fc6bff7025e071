// Entries deflated into memory on a thread of their own while their bytes are still being made.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "row_buffer.h"
#include "zip_archive.h"

// The most pieces waiting to be deflated: the maker of the bytes waits beyond it, so that
// memory stays bounded by a few pieces.
inline constexpr std::size_t kMostQueuedPieces = 4;

// Bytes for an entry, in the order they came: to be deflated, or deflated already by the caller
// (DeflatePieceApart), their CRC and count with them.
struct QueuedPiece {
  ZipEntryInMemory* entry = nullptr;
  DeflatedPiece piece;
  bool deflated = false;
};

// One thread that adds the pieces handed to it to their entries in the order they came,
// deflating them; while it is behind, the caller deflates the pieces it hands over itself. A
// piece deflates to the same bytes on either thread, so the entries are the same byte for byte.
// Without a thread (StartDeflateThread not called, or a machine of one core), each piece is
// deflated on the caller's thread as it comes.
struct DeflateThread {
  std::thread worker;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<QueuedPiece> queue;
  std::vector<RowBuilder> spare;  // emptied buffers, handed back for the next pieces
  QuickDeflater callerDeflater;   // the caller's own table, for the pieces it deflates
  std::exception_ptr failure;     // the first failure of a deflate on the worker
  bool working = false;           // the worker holds a piece
  bool stopping = false;
  ~DeflateThread();
};

// Starts the worker when the machine has more than one core. std::system_error when no thread
// can be started.
void StartDeflateThread(DeflateThread& deflater);

// Hands the bytes of `entry` (started with StartEntryInMemory) to the worker, taking them out
// of `bytes`, which is left empty with a spare buffer's capacity; while kMostQueuedPieces are
// queued, deflates them itself meanwhile (DeflatePieceApart), then waits for room. The entry
// must stay where it is and untouched by the caller until WaitForDeflates. Rethrows what a deflate
// on the worker threw (ZipFailure, std::bad_alloc), after which no piece is taken; without a
// worker, throws as AppendEntryInMemory.
void QueueDeflate(DeflateThread& deflater, ZipEntryInMemory& entry, RowBuilder& bytes);

// Waits until every queued piece is deflated; rethrows a failure as QueueDeflate.
void WaitForDeflates(DeflateThread& deflater);

// Stops the worker, dropping the pieces not yet deflated, and joins it; safe at any time and
// again.
void StopDeflateThread(DeflateThread& deflater);
