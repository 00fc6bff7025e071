// A zip entry inflated on a thread of its own a few pieces ahead of the one who reads it.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "zip_archive.h"

// The pieces inflated ahead, and the bytes of each: memory stays bounded by them.
inline constexpr std::size_t kReadAheadPieces = 4;
inline constexpr std::size_t kReadAheadPieceBytes = std::size_t{128} * 1024;

// One inflated piece: its bytes, and once the entry has ended or failed, that it has.
struct ReadAheadPiece {
  std::vector<char> bytes;
  std::size_t size = 0;
  bool last = false;           // no piece follows: the entry ended or failed after these bytes
  std::exception_ptr failure;  // what ReadZipEntry threw after these bytes, if it did
};

// An open entry read on a worker into a ring of pieces, handed out in order. The bytes, their
// end and the failures come as ReadZipEntry gives them on the caller's thread, at the same
// place in the content. Without a worker (not asked for, or a machine of one core), ReadAhead
// reads the entry directly on the caller's thread.
struct ZipReadAhead {
  ZipEntryReader entry;
  std::thread worker;
  std::mutex mutex;
  std::condition_variable changed;
  std::array<ReadAheadPiece, kReadAheadPieces> pieces;
  std::size_t filledPieces = 0;  // pieces ready, from `readPiece` on
  std::size_t readPiece = 0;     // the piece being handed out
  std::size_t readOffset = 0;    // its bytes already handed out
  bool stopping = false;
  ~ZipReadAhead();
};

// Opens `entry` of `archive` as OpenZipEntry does (and throws as it does), closing what `ahead`
// had open, then starts the worker when `onWorker` asks for it and the machine has more than
// one core. std::system_error when no thread can be started.
void OpenReadAhead(const ZipArchive& archive, const ZipEntry& entry, bool onWorker,
                   ZipReadAhead& ahead);

// Reads up to `capacity` bytes of the entry's content into `destination`, as ReadZipEntry does:
// 0 only at its end or for a `capacity` of 0, and ZipFailure, IoFailure or std::bad_alloc
// rethrown where the content gives them, after the bytes before them. After a failure, each
// call throws it again.
std::size_t ReadAhead(ZipReadAhead& ahead, char* destination, std::size_t capacity);

// Stops the worker, joins it and closes the entry; safe at any time and again.
void CloseReadAhead(ZipReadAhead& ahead);
