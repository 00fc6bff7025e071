// The zip format's CRC-32 of a run of bytes, continued from the CRC of those before it, as zlib's
// crc32 gives it.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of the bytes before `bytes` and `count` more (0 for none before). Where the processor
// multiplies without carries, 64 bytes at a time are folded so; elsewhere zlib computes it.
std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count);

// The CRC of two runs of bytes one after the other, from the CRC of each and the second's
// length: for runs whose CRCs were taken apart, on different threads. std::length_error for a
// second run longer than zlib takes (2 GiB where its offsets are 32 bits).
std::uint32_t JoinedCrc(std::uint32_t first, std::uint32_t second, std::size_t secondLength);
