// The row's room and its finished line.
#include "row_buffer.h"

#include <algorithm>
#include <new>

namespace {

// The row's room doubles up to this growth at a time; beyond it, it grows by an eighth.
constexpr std::size_t kMostRowDoubling = std::size_t{1} << 20;
constexpr std::size_t kSmallestRowCapacity = 4096;

// Removes every NUL byte of the row in place.
void RemoveNulBytes(RowBuilder& row) {
  char* const begin = row.bytes.get();
  char* const end = begin + row.size;
  char* nul = row.size == 0 ? nullptr : static_cast<char*>(std::memchr(begin, 0, row.size));
  if (nul == nullptr) return;
  char* out = nul;
  const char* in = nul + 1;
  while (in < end) {
    const char* next =
        static_cast<const char*>(std::memchr(in, 0, static_cast<std::size_t>(end - in)));
    if (next == nullptr) next = end;
    const auto piece = static_cast<std::size_t>(next - in);
    std::memmove(out, in, piece);
    out += piece;
    in = next + 1;
  }
  row.size = static_cast<std::size_t>(out - begin);
}

}  // namespace

void GrowRow(RowBuilder& row, std::size_t count) {
  const std::size_t growth = std::max(std::min(row.capacity, kMostRowDoubling), row.capacity / 8);
  const std::size_t capacity =
      std::max({row.capacity + growth, row.size + count, kSmallestRowCapacity});
  // An empty row keeps nothing, so its old bytes are let go rather than copied (a record's
  // room is reserved before its first field).
  if (row.size == 0) row.bytes.reset();
  // realloc moves a large row's pages instead of copying them, so a long text is never held twice.
  char* const bytes = static_cast<char*>(std::realloc(row.bytes.get(), capacity));
  if (bytes == nullptr) throw std::bad_alloc();
  static_cast<void>(row.bytes.release());  // realloc has taken them over
  row.bytes.reset(bytes);
  row.capacity = capacity;
}

std::string_view FinishRow(RowBuilder& row) {
  RemoveNulBytes(row);
  const std::string_view line = RowText(row);
  row.size = 0;
  return line;
}
