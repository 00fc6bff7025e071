// The deflating worker: a queue under one lock, the deflates themselves outside it.
#include "deflate_thread.h"

#include <utility>

namespace {

// Deflates the next queued piece outside the lock; false once stopping.
bool DeflateNext(DeflateThread& deflater, std::unique_lock<std::mutex>& lock) {
  deflater.changed.wait(lock, [&] { return deflater.stopping || !deflater.queue.empty(); });
  if (deflater.stopping) return false;
  QueuedPiece piece = std::move(deflater.queue.front());
  deflater.queue.pop_front();
  deflater.working = true;
  lock.unlock();
  std::exception_ptr failure;
  try {
    if (piece.deflated) {
      AppendDeflatedPiece(*piece.entry, piece.piece);
    } else {
      AppendEntryInMemory(*piece.entry, RowText(piece.piece.bytes));
    }
  } catch (...) {
    failure = std::current_exception();
  }
  piece.piece.bytes.size = 0;
  lock.lock();
  deflater.working = false;
  deflater.spare.push_back(std::move(piece.piece.bytes));
  if (failure != nullptr && deflater.failure == nullptr) {
    // The entries are spoilt: the pieces after the failed one are not deflated.
    deflater.failure = failure;
    deflater.queue.clear();
  }
  deflater.changed.notify_all();
  return true;
}

// An emptied buffer handed back, or a new one; under the lock.
RowBuilder TakeSpare(DeflateThread& deflater) {
  RowBuilder spare;
  if (!deflater.spare.empty()) {
    spare = std::move(deflater.spare.back());
    deflater.spare.pop_back();
  }
  return spare;
}

void RunWorker(DeflateThread& deflater) {
  std::unique_lock<std::mutex> lock(deflater.mutex);
  while (DeflateNext(deflater, lock)) {
  }
}

}  // namespace

DeflateThread::~DeflateThread() {
  StopDeflateThread(*this);
}

void StartDeflateThread(DeflateThread& deflater) {
  if (deflater.worker.joinable() || std::thread::hardware_concurrency() <= 1) return;
  deflater.worker = std::thread(RunWorker, std::ref(deflater));
}

void QueueDeflate(DeflateThread& deflater, ZipEntryInMemory& entry, RowBuilder& bytes) {
  if (!deflater.worker.joinable()) {
    AppendEntryInMemory(entry, RowText(bytes));
    bytes.size = 0;
    return;
  }
  std::unique_lock<std::mutex> lock(deflater.mutex);
  QueuedPiece queued{&entry, {}, false};
  if (deflater.failure == nullptr && deflater.queue.size() >= kMostQueuedPieces) {
    // The worker is behind: rather than wait, this thread deflates the piece meanwhile. `bytes`
    // keeps its buffer; the deflated bytes take a spare one.
    queued.piece.bytes = TakeSpare(deflater);
    queued.deflated = true;
    lock.unlock();
    DeflatePieceApart(deflater.callerDeflater, RowText(bytes), queued.piece);
    bytes.size = 0;
    lock.lock();
  } else {
    // Every member of a row moves whole, so `bytes` is left as the spare was: empty, its room
    // kept.
    queued.piece.bytes = std::move(bytes);
    bytes = TakeSpare(deflater);
  }
  deflater.changed.wait(lock, [&] {
    return deflater.failure != nullptr || deflater.queue.size() < kMostQueuedPieces;
  });
  if (deflater.failure != nullptr) std::rethrow_exception(deflater.failure);
  deflater.queue.push_back(std::move(queued));
  deflater.changed.notify_all();
}

void WaitForDeflates(DeflateThread& deflater) {
  if (!deflater.worker.joinable()) return;
  std::unique_lock<std::mutex> lock(deflater.mutex);
  deflater.changed.wait(lock, [&] {
    return deflater.failure != nullptr || (deflater.queue.empty() && !deflater.working);
  });
  if (deflater.failure != nullptr) std::rethrow_exception(deflater.failure);
}

void StopDeflateThread(DeflateThread& deflater) {
  if (!deflater.worker.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(deflater.mutex);
    deflater.stopping = true;
    deflater.queue.clear();
  }
  deflater.changed.notify_all();
  deflater.worker.join();
  deflater.stopping = false;
  deflater.failure = nullptr;
  deflater.spare.clear();
}
