// The row: the text of the record under construction, one line of a table once finished.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "number_text.h"

// Frees the row's bytes, which GrowRow takes from realloc.
struct FreeRowBytes {
  void operator()(char* bytes) const { std::free(bytes); }
};

// The text of the record under construction. One builder serves a whole run; once it has
// grown, decoding a field allocates nothing. A sheet's XML on its way to the deflater, and the
// deflated bytes, are written into one the same way, in place.
struct RowBuilder {
  std::unique_ptr<char[], FreeRowBytes> bytes;
  std::size_t size = 0;
  std::size_t capacity = 0;
  char decimalSeparator = '.';  // the user's, read once at start-up
};

// Makes room for `count` more bytes: the row doubles (by at most a MiB), beyond 8 MiB it grows by
// an eighth, and a payload that needs more than that is given exactly its room, so that the row
// holds little more than the record's text. Out of memory throws std::bad_alloc.
void GrowRow(RowBuilder& row, std::size_t count);

// Room for `count` more bytes at the row's end; the caller writes them and adds to `size`.
inline char* RowSpace(RowBuilder& row, std::size_t count) {
  if (count > row.capacity - row.size) GrowRow(row, count);
  return row.bytes.get() + row.size;
}

inline void AppendRowText(RowBuilder& row, std::string_view text) {
  if (text.empty()) return;
  std::memcpy(RowSpace(row, text.size()), text.data(), text.size());
  row.size += text.size();
}

// The row's text so far.
inline std::string_view RowText(const RowBuilder& row) {
  return {row.bytes.get(), row.size};
}

// Most bytes a decoder writes at once outside a payload's or a list element's bytes: a lead and
// a number text.
inline constexpr std::size_t kMostPieceOfFieldText = 1 + kNumberTextCapacity;

// A row that keeps no text, for a walk that needs what the decoders read but none of their text
// (nodedump following the unpackers' reading): the same decoders read and consume exactly as
// for a RowBuilder, passing a text's bytes over instead of copying them, so that the walk's
// memory stays the same whatever a field's size. Its lines and field texts are empty.
struct RowWithoutText {
  char decimalSeparator = '.';
  char scratch[kMostPieceOfFieldText];  // where a lead or a number text is written and let go
};

// Makes room for a record's `count` bytes of text ahead of its fields (RowRoomOfRecord).
inline void ReserveRow(RowBuilder& row, std::size_t count) {
  RowSpace(row, count);
}
inline void ReserveRow(RowWithoutText&, std::size_t) {}

// How many bytes of text the row holds.
inline std::size_t RowSize(const RowBuilder& row) {
  return row.size;
}
inline std::size_t RowSize(const RowWithoutText&) {
  return 0;
}

// The row's text from `start` (a RowSize) on: a field's text, NUL bytes not yet removed. Taken
// without substr's check, which a walk that ignores the text would still pay.
inline std::string_view RowTextFrom(const RowBuilder& row, std::size_t start) {
  return {row.bytes.get() + start, row.size - start};
}
inline std::string_view RowTextFrom(const RowWithoutText&, std::size_t) {
  return {};
}

// Removes every NUL byte from the row and hands it out as the line (without line end); the
// builder is then empty. The line stays valid until the next append to the builder.
std::string_view FinishRow(RowBuilder& row);
inline std::string_view FinishRow(RowWithoutText&) {
  return {};
}
