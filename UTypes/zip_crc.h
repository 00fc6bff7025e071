// The zip format's CRC-32 of a run of bytes, continued from the CRC of those before it, as zlib's
// crc32 gives it.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of the bytes before `bytes` and `count` more (0 for none before). Where the processor
// multiplies without carries, 64 bytes at a time are folded so; elsewhere zlib computes it.
std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count);
