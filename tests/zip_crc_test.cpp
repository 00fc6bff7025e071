// The zip CRC: zlib's crc32 of the same bytes, whatever their length, place and the CRC before.
#include "zip_crc.h"

#include <gtest/gtest.h>

#include <vector>

#include <zlib.h>

#include "random_draws.h"

namespace {

std::uint32_t ZlibCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
  return static_cast<std::uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
}

// Runs of every length up to a few hundred blocks, from any alignment, after any CRC, and the
// same bytes continued in two calls: lengths below, at and past each multiple of the 64 bytes
// folded at a time, and the bytes left over after the last whole block.
TEST(ZipCrcTest, EqualsZlibsCrcOfTheSameBytes) {
  Random random{26};
  std::vector<unsigned char> bytes(8192 + 64);
  for (unsigned char& byte : bytes)
    byte = static_cast<unsigned char>(NextRandom(random));
  for (int draw = 0; draw < 3000; ++draw) {
    const std::size_t count =
        draw < 300 ? static_cast<std::size_t>(draw) : RandomBelow(random, 8192);
    const unsigned char* start = bytes.data() + RandomBelow(random, 64);
    const auto before = static_cast<std::uint32_t>(NextRandom(random));
    const std::uint32_t expected = ZlibCrc(before, start, count);
    ASSERT_EQ(UpdateCrc(before, start, count), expected) << count << " bytes";
    const std::size_t split = RandomBelow(random, count + 1);
    ASSERT_EQ(UpdateCrc(UpdateCrc(before, start, split), start + split, count - split), expected)
        << count << " bytes split at " << split;
  }
}

// Long runs of a repeated byte, where a fold that dropped a block would go unseen in random
// bytes only by chance, and the CRC of nothing.
TEST(ZipCrcTest, RepeatedBytesAndNothing) {
  for (const int filler : {0x00, 0xFF, 0x5A}) {
    const std::vector<unsigned char> bytes(100000, static_cast<unsigned char>(filler));
    EXPECT_EQ(UpdateCrc(0, bytes.data(), bytes.size()), ZlibCrc(0, bytes.data(), bytes.size()));
  }
  EXPECT_EQ(UpdateCrc(0x12345678u, nullptr, 0), 0x12345678u);
}

}  // namespace
