// The quick encoder: greedy matches of at least four bytes found by one hash probe, written in
// the fixed literal/length and distance codes of the deflate format, a block to a piece.
#include "quick_deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

constexpr unsigned kHashBits = 15;
constexpr std::size_t kWindow = 32768;
constexpr std::size_t kShortestMatch = 4;
constexpr std::size_t kLongestMatch = 258;
constexpr std::uint32_t kEndOfBlock = 256;

// A code as it goes into the stream: its bits in the order they are written, and how many.
struct StreamCode {
  std::uint32_t bits = 0;
  unsigned length = 0;
};

// A block's first three bits, BFINAL then BTYPE: a block of fixed codes, the final one, and an
// (empty) stored block.
constexpr StreamCode kFixedBlockHeader = {0b010, 3};
constexpr StreamCode kFinalFixedBlockHeader = {0b011, 3};
constexpr StreamCode kStoredBlockHeader = {0b000, 3};

// Huffman codes are sent from their most significant bit, the stream is filled from the least.
constexpr std::uint32_t Reversed(std::uint32_t code, unsigned length) {
  std::uint32_t reversed = 0;
  for (unsigned bit = 0; bit < length; ++bit)
    reversed |= ((code >> bit) & 1u) << (length - 1 - bit);
  return reversed;
}

// The fixed literal/length code of `symbol` (0 to 287).
constexpr StreamCode FixedCode(std::uint32_t symbol) {
  if (symbol < 144) return {Reversed(0x30 + symbol, 8), 8};
  if (symbol < 256) return {Reversed(0x190 + symbol - 144, 9), 9};
  if (symbol < 280) return {Reversed(symbol - 256, 7), 7};
  return {Reversed(0xC0 + symbol - 280, 8), 8};
}

constexpr std::array<StreamCode, 256> LiteralCodes() {
  std::array<StreamCode, 256> codes{};
  for (std::uint32_t byte = 0; byte < 256; ++byte)
    codes[byte] = FixedCode(byte);
  return codes;
}
constexpr std::array<StreamCode, 256> kLiteralCodes = LiteralCodes();

// The length symbols 257 to 285: the shortest length of each and its extra bits.
constexpr std::array<std::uint16_t, 29> kLengthBases = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Each match length with its symbol's code and extra bits, as one code.
constexpr std::array<StreamCode, kLongestMatch + 1> LengthCodes() {
  std::array<StreamCode, kLongestMatch + 1> codes{};
  for (std::size_t length = 3; length <= kLongestMatch; ++length) {
    std::size_t index = kLengthBases.size() - 1;
    while (kLengthBases[index] > length)
      --index;
    const StreamCode symbol = FixedCode(static_cast<std::uint32_t>(257 + index));
    const auto extra = static_cast<std::uint32_t>(length - kLengthBases[index]);
    codes[length] = {symbol.bits | (extra << symbol.length),
                     symbol.length + kLengthExtraBits[index]};
  }
  return codes;
}
constexpr std::array<StreamCode, kLongestMatch + 1> kLengthCodes = LengthCodes();

// A distance code: the distance less one that it starts at, its extra bits, and its five bits
// in the order they are written. Codes 2n and 2n + 1 cover the distances whose less one has its
// highest bit at n, told apart by the next bit.
struct DistanceSymbol {
  std::uint16_t base = 0;
  std::uint8_t extraBits = 0;
  std::uint8_t reversedCode = 0;
};

constexpr std::array<DistanceSymbol, 30> DistanceSymbols() {
  std::array<DistanceSymbol, 30> symbols{};
  for (std::uint32_t code = 0; code < symbols.size(); ++code) {
    const std::uint32_t extraBits = code < 4 ? 0 : code / 2 - 1;
    const std::uint32_t base = code < 4 ? code : (2 + (code & 1)) << extraBits;
    symbols[code] = {static_cast<std::uint16_t>(base), static_cast<std::uint8_t>(extraBits),
                     static_cast<std::uint8_t>(Reversed(code, 5))};
  }
  return symbols;
}
constexpr std::array<DistanceSymbol, 30> kDistanceSymbols = DistanceSymbols();

// The code of a distance less one: below 256 by itself, from 256 on by its bits from the
// seventh, which alone tell those codes apart (their extra bits are seven or more).
constexpr std::uint8_t CodeOfLess(std::uint32_t less) {
  if (less < 4) return static_cast<std::uint8_t>(less);
  const auto high = static_cast<std::uint32_t>(std::bit_width(less)) - 1;
  return static_cast<std::uint8_t>(2 * high + ((less >> (high - 1)) & 1u));
}

constexpr std::array<std::uint8_t, 512> DistanceCodeIndex() {
  std::array<std::uint8_t, 512> codes{};
  for (std::uint32_t index = 0; index < 256; ++index) {
    codes[index] = CodeOfLess(index);
    codes[256 + index] = CodeOfLess(index << 7);
  }
  return codes;
}
constexpr std::array<std::uint8_t, 512> kDistanceCodeIndex = DistanceCodeIndex();

// A distance (1 to 32768) as its five-bit code and extra bits, from two small tables.
StreamCode DistanceCode(std::size_t distance) {
  const auto less = static_cast<std::uint32_t>(distance - 1);
  const DistanceSymbol symbol =
      kDistanceSymbols[kDistanceCodeIndex[less < 256 ? less : 256 + (less >> 7)]];
  return {std::uint32_t{symbol.reversedCode} | ((less - symbol.base) << 5), 5u + symbol.extraBits};
}

std::uint32_t Load32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

std::uint32_t HashOf(std::uint32_t fourBytes) {
  return (fourBytes * 2654435761u) >> (32 - kHashBits);
}

// How many bytes from `at` equal those from `earlier`, at most `most`.
std::size_t MatchLength(const unsigned char* earlier, const unsigned char* at, std::size_t most) {
  std::size_t length = 0;
  while (length + 8 <= most) {
    std::uint64_t left = 0;
    std::uint64_t right = 0;
    std::memcpy(&left, earlier + length, 8);
    std::memcpy(&right, at + length, 8);
    if (left != right) {
      const std::uint64_t differ = left ^ right;
      // The first differing byte in memory order, whichever order the machine keeps bytes in.
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(differ)
                                                                 : std::countl_zero(differ);
      return length + static_cast<std::size_t>(bit / 8);
    }
    length += 8;
  }
  while (length < most && earlier[length] == at[length])
    ++length;
  return length;
}

// The bits on their way into a byte buffer with room for every byte they make and eight more:
// each code is followed by one store of eight bytes, of which the whole ones are kept, so that
// no code waits on a branch.
struct BitSink {
  std::uint64_t bits;
  unsigned count;  // below 8 between codes
  unsigned char* out;

  // `code` is at most 32 bits long.
  void Put(StreamCode code) {
    bits |= std::uint64_t{code.bits} << count;
    count += code.length;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, &bits, sizeof bits);
    } else {
      for (unsigned byte = 0; byte < sizeof bits; ++byte)
        out[byte] = static_cast<unsigned char>(bits >> (8 * byte));
    }
    const unsigned whole = count / 8;
    out += whole;
    bits >>= 8 * whole;
    count -= 8 * whole;
  }
};

// The bits left after the last code, padded to a whole byte.
unsigned char* PaddedEnd(BitSink& sink) {
  if (sink.count > 0) *sink.out++ = static_cast<unsigned char>(sink.bits);
  return sink.out;
}

// A match's length and distance codes as one code: at most 13 and 18 bits.
StreamCode MatchCode(std::size_t length, std::size_t distance) {
  const StreamCode lengthCode = kLengthCodes[length];
  const StreamCode distanceCode = DistanceCode(distance);
  return {lengthCode.bits | (distanceCode.bits << lengthCode.length),
          lengthCode.length + distanceCode.length};
}

}  // namespace

void StartQuickDeflate(QuickDeflater& deflater) {
  deflater.lastPositions.assign(std::size_t{1} << kHashBits, 0);
}

std::size_t MostQuickDeflated(std::size_t size) {
  // A literal takes at most 9 bits; the block's edges take 52 more with the padding, and the
  // sink stores eight bytes ahead.
  return size + size / 8 + 24;
}

char* QuickDeflatePiece(QuickDeflater& deflater, std::string_view piece, char* out) {
  if (piece.empty()) return out;
  BitSink sink{0, 0, reinterpret_cast<unsigned char*>(out)};
  sink.Put(kFixedBlockHeader);
  std::uint32_t* const lastPositions = deflater.lastPositions.data();
  std::fill_n(lastPositions, deflater.lastPositions.size(), 0);
  const auto* const bytes = reinterpret_cast<const unsigned char*>(piece.data());
  const std::size_t size = piece.size();
  std::size_t at = 0;
  while (at + kShortestMatch <= size) {
    const std::uint32_t fourBytes = Load32(bytes + at);
    std::uint32_t& slot = lastPositions[HashOf(fourBytes)];
    const std::size_t candidate = slot;  // one past the position, 0 for none
    slot = static_cast<std::uint32_t>(at + 1);
    if (candidate != 0 && at + 1 - candidate <= kWindow &&
        Load32(bytes + candidate - 1) == fourBytes) {
      const std::size_t most = std::min(kLongestMatch, size - at);
      const std::size_t length =
          kShortestMatch + MatchLength(bytes + candidate - 1 + kShortestMatch,
                                       bytes + at + kShortestMatch, most - kShortestMatch);
      sink.Put(MatchCode(length, at + 1 - candidate));
      at += length;
      continue;
    }
    sink.Put(kLiteralCodes[bytes[at]]);
    ++at;
  }
  for (; at < size; ++at)
    sink.Put(kLiteralCodes[bytes[at]]);
  sink.Put(FixedCode(kEndOfBlock));
  // An empty stored block brings the stream to a whole byte: its length 0 and that inverted.
  sink.Put(kStoredBlockHeader);
  unsigned char* const end = PaddedEnd(sink);
  constexpr unsigned char kEmptyStoredLengths[] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(end, kEmptyStoredLengths, sizeof kEmptyStoredLengths);
  return reinterpret_cast<char*>(end + sizeof kEmptyStoredLengths);
}

char* FinishQuickDeflate(char* out) {
  BitSink sink{0, 0, reinterpret_cast<unsigned char*>(out)};
  sink.Put(kFinalFixedBlockHeader);
  sink.Put(FixedCode(kEndOfBlock));
  return reinterpret_cast<char*>(PaddedEnd(sink));
}
