// A quick deflate encoder for large, repetitive text such as a sheet's XML: one pass, one hash
// probe a position, the format's fixed Huffman codes. It compresses somewhat less than zlib's
// fastest level and several times faster; what it writes is a raw deflate stream that any
// inflater reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The hash table the encoder keeps to spare allocating it again for each piece. A thread that
// encodes pieces needs a table of its own.
struct QuickDeflater {
  std::vector<std::uint32_t> lastPositions;
};

// The most bytes QuickDeflatePiece writes for a piece of `size` bytes, and FinishQuickDeflate.
std::size_t MostQuickDeflated(std::size_t size);
inline constexpr std::size_t kMostQuickDeflateEnd = 16;

// Makes the encoder's hash table.
void StartQuickDeflate(QuickDeflater& deflater);

// Writes at `out`, which has room for MostQuickDeflated(piece.size()) bytes, the deflated bytes
// of `piece` as a block of fixed codes of its own that ends on a whole byte (an empty stored
// block after it; nothing for an empty piece); returns the end of what it wrote. Matches are
// found within the piece only, so that pieces need not be kept: pieces of a few hundred KiB lose
// little by it. So pieces deflated apart, on any thread, join into one stream in the order they
// came, the same bytes whoever encoded each.
char* QuickDeflatePiece(QuickDeflater& deflater, std::string_view piece, char* out);

// Ends the stream after its pieces: writes at `out` (room for kMostQuickDeflateEnd bytes) an
// empty final block; returns the end of what it wrote.
char* FinishQuickDeflate(char* out);
