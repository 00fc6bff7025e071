// The quick encoder: what it writes is a deflate stream that zlib's inflater reads back to the
// bytes it was given, however they came in pieces.
#include "quick_deflate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "random_draws.h"

namespace {

std::string Deflated(const std::vector<std::string>& pieces) {
  QuickDeflater deflater;
  StartQuickDeflate(deflater);
  std::string out;
  for (const std::string& piece : pieces) {
    // Exactly the room promised, so that the sanitizer build sees a write past it.
    std::vector<char> room(MostQuickDeflated(piece.size()));
    char* const end = QuickDeflatePiece(deflater, piece, room.data());
    out.append(room.data(), end);
  }
  std::vector<char> room(kMostQuickDeflateEnd);
  out.append(room.data(), FinishQuickDeflate(room.data()));
  return out;
}

// The raw deflate stream inflated by zlib; a stream zlib refuses or that does not end where
// its bytes do fails the test.
std::string Inflated(const std::string& deflated, std::size_t expectedSize) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  std::string out(expectedSize + 1, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  stream.avail_in = static_cast<uInt>(deflated.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u) << "bytes after the stream's end";
  out.resize(out.size() - stream.avail_out);
  inflateEnd(&stream);
  return out;
}

// The stream's bits, written out by hand from the format, codes packed from each byte's lowest
// bit: a piece is a block of fixed codes (BFINAL 0, BTYPE 01: bits 010) closed by its end of
// block code 0000000, then an empty stored block (000, padding, length 0000 and its inverse
// FFFF); the stream ends with an empty final block of fixed codes (011, 0000000, padding).
TEST(QuickDeflateTest, WritesTheFormatsFixedCodes) {
  const std::string kEnd("\x03\x00", 2);
  const std::string kStoredLengths("\x00\x00\xFF\xFF", 4);
  const struct {
    std::vector<std::string> pieces;
    std::string stream;
  } kCases[] = {
      {{}, kEnd},
      {{""}, kEnd},
      // 'a' (0x61) is code 0x91 in 8 bits, 10001001 reversed: 21 bits and padding.
      {{"a"}, std::string("\x4A\x04\x00", 3) + kStoredLengths + kEnd},
      // "aaaaa": 'a', then length 4 (code 258: 0000010) at distance 1 (code 0: 00000).
      {{"aaaaa"}, std::string("\x4A\x04\x01\x00\x00", 5) + kStoredLengths + kEnd},
      // Each piece its own block, matched within itself only.
      {{"a", "", "a"},
       std::string("\x4A\x04\x00", 3) + kStoredLengths + std::string("\x4A\x04\x00", 3) +
           kStoredLengths + kEnd},
  };
  for (const auto& [pieces, stream] : kCases) {
    const std::string written = Deflated(pieces);
    EXPECT_EQ(written, stream) << testing::PrintToString(written);
  }
}

// Bytes of several kinds: markup that repeats, random bytes, long runs of one byte, and
// repeats at the window's far edge.
std::string DrawnBytes(Random& random) {
  const std::size_t size =
      RandomBelow(random, 3) == 0 ? RandomBelow(random, 300) : RandomBelow(random, 700000);
  std::string bytes;
  switch (RandomBelow(random, 4)) {
    case 0:
      while (bytes.size() < size) {
        bytes += Pick(random, std::span<const std::string_view>(kSentenceWords));
        bytes += "</t></is></c><c><v>";
        bytes += std::to_string(RandomBelow(random, 1u << 20));
      }
      break;
    case 1:
      while (bytes.size() < size)
        bytes += static_cast<char>(RandomBelow(random, 256));
      break;
    case 2:
      bytes.assign(size, static_cast<char>(RandomBelow(random, 256)));
      break;
    default: {
      std::string block;
      while (block.size() < 32770 - RandomBelow(random, 5))
        block += static_cast<char>(RandomBelow(random, 256));
      while (bytes.size() < size)
        bytes += block;
    }
  }
  bytes.resize(size);
  return bytes;
}

TEST(QuickDeflateTest, EveryStreamInflatesToItsBytesHoweverTheyCameInPieces) {
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Random random{seed};
    const std::string bytes = DrawnBytes(random);
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t size = RandomChance(random, 10) ? 0 : 1 + RandomBelow(random, 300000);
      pieces.push_back(bytes.substr(at, size));
      at += size;
    }
    const std::string deflated = Deflated(pieces);
    EXPECT_TRUE(Inflated(deflated, bytes.size()) == bytes) << bytes.size() << " bytes";
  }
}

}  // namespace
