// A quick deflate encoder for large, repetitive text such as a sheet's XML: one pass, one hash
// probe a position, the format's fixed Huffman codes. It compresses somewhat less than zlib's
// fastest level and several times faster; what it writes is a raw deflate stream that any
// inflater reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The encoder's state between pieces: the bits not yet a whole byte, and the hash table it keeps
// to spare allocating it again for each piece.
struct QuickDeflater {
  std::vector<std::uint32_t> lastPositions;
  std::uint64_t bits = 0;
  unsigned bitCount = 0;
};

// The most bytes QuickDeflatePiece writes for a piece of `size` bytes, and FinishQuickDeflate.
std::size_t MostQuickDeflated(std::size_t size);
inline constexpr std::size_t kMostQuickDeflateEnd = 16;

// Starts a stream of one final block of fixed codes.
void StartQuickDeflate(QuickDeflater& deflater);

// Writes at `out`, which has room for MostQuickDeflated(piece.size()) bytes, the deflated bytes
// of `piece`, the stream's next bytes; returns the end of what it wrote. Matches are found within
// the piece only, so that pieces need not be kept: pieces of a few hundred KiB lose little by
// it. The output is the same for the same pieces, whatever thread encodes them.
char* QuickDeflatePiece(QuickDeflater& deflater, std::string_view piece, char* out);

// Ends the stream: writes at `out` (room for kMostQuickDeflateEnd bytes) the end-of-block code
// and the last bits, padded to a byte; returns the end of what it wrote.
char* FinishQuickDeflate(QuickDeflater& deflater, char* out);
