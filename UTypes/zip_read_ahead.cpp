// The inflating worker: a ring of pieces under one lock, the inflating and copying outside it.
#include "zip_read_ahead.h"

#include <algorithm>
#include <cstring>

namespace {

// Fills `piece` from the entry until it is full, the entry ends or a read fails.
void FillPiece(ZipEntryReader& entry, ReadAheadPiece& piece) {
  piece.size = 0;
  piece.last = false;
  piece.failure = nullptr;
  try {
    while (piece.size < piece.bytes.size()) {
      const std::size_t got =
          ReadZipEntry(entry, piece.bytes.data() + piece.size, piece.bytes.size() - piece.size);
      if (got == 0) {
        piece.last = true;
        return;
      }
      piece.size += got;
    }
  } catch (...) {
    piece.failure = std::current_exception();
    piece.last = true;
  }
}

// Fills the free pieces in ring order until the last one or until stopping.
void RunWorker(ZipReadAhead& ahead) {
  std::unique_lock<std::mutex> lock(ahead.mutex);
  std::size_t next = 0;
  for (;;) {
    ahead.changed.wait(lock,
                       [&] { return ahead.stopping || ahead.filledPieces < kReadAheadPieces; });
    if (ahead.stopping) return;
    ReadAheadPiece& piece = ahead.pieces[next];
    lock.unlock();
    FillPiece(ahead.entry, piece);
    lock.lock();
    ++ahead.filledPieces;
    ahead.changed.notify_all();
    if (piece.last) return;
    next = (next + 1) % kReadAheadPieces;
  }
}

}  // namespace

ZipReadAhead::~ZipReadAhead() {
  CloseReadAhead(*this);
}

void OpenReadAhead(const ZipArchive& archive, const ZipEntry& entry, bool onWorker,
                   ZipReadAhead& ahead) {
  CloseReadAhead(ahead);
  OpenZipEntry(archive, entry, ahead.entry);
  if (!onWorker || std::thread::hardware_concurrency() <= 1) return;
  for (ReadAheadPiece& piece : ahead.pieces)
    piece.bytes.resize(kReadAheadPieceBytes);
  ahead.worker = std::thread(RunWorker, std::ref(ahead));
}

std::size_t ReadAhead(ZipReadAhead& ahead, char* destination, std::size_t capacity) {
  if (!ahead.worker.joinable()) return ReadZipEntry(ahead.entry, destination, capacity);
  if (capacity == 0) return 0;
  std::unique_lock<std::mutex> lock(ahead.mutex);
  for (;;) {
    ahead.changed.wait(lock, [&] { return ahead.filledPieces > 0; });
    const ReadAheadPiece& piece = ahead.pieces[ahead.readPiece];
    if (ahead.readOffset < piece.size) {
      // The worker leaves a filled piece alone until it is handed back.
      lock.unlock();
      const std::size_t count = std::min(capacity, piece.size - ahead.readOffset);
      std::memcpy(destination, piece.bytes.data() + ahead.readOffset, count);
      ahead.readOffset += count;
      return count;
    }
    if (piece.last) {
      // Kept, so that every later call ends or fails again.
      if (piece.failure != nullptr) std::rethrow_exception(piece.failure);
      return 0;
    }
    ahead.readPiece = (ahead.readPiece + 1) % kReadAheadPieces;
    ahead.readOffset = 0;
    --ahead.filledPieces;
    ahead.changed.notify_all();
  }
}

void CloseReadAhead(ZipReadAhead& ahead) {
  if (ahead.worker.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(ahead.mutex);
      ahead.stopping = true;
    }
    ahead.changed.notify_all();
    ahead.worker.join();
  }
  CloseZipEntry(ahead.entry);
  for (ReadAheadPiece& piece : ahead.pieces)
    piece = ReadAheadPiece{};
  ahead.filledPieces = 0;
  ahead.readPiece = 0;
  ahead.readOffset = 0;
  ahead.stopping = false;
}
