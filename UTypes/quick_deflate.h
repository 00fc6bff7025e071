// A quick deflate encoder for large, repetitive text such as a sheet's XML: one pass, one hash
// probe a position, the format's fixed Huffman codes. It compresses somewhat less than zlib's
// fastest level and several times faster; what it writes is a raw deflate stream that any
// inflater reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The encoder's state between pieces: the bits not yet a whole byte, and the hash table and
// output buffer it keeps to spare allocating them again for each piece.
struct QuickDeflater {
  std::vector<std::uint32_t> lastPositions;
  std::string scratch;
  std::uint64_t bits = 0;
  unsigned bitCount = 0;
};

// Starts a stream of one final block of fixed codes.
void StartQuickDeflate(QuickDeflater& deflater);

// Appends to `out` the deflated bytes of `piece`, the stream's next bytes. Matches are found
// within the piece only, so that pieces need not be kept: pieces of a few hundred KiB lose
// little by it. The output is the same for the same pieces, whatever thread encodes them.
void QuickDeflatePiece(QuickDeflater& deflater, std::string_view piece, std::string& out);

// Ends the stream: the end-of-block code and the last bits, padded to a byte, appended to `out`.
void FinishQuickDeflate(QuickDeflater& deflater, std::string& out);
