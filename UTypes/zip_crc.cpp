// The CRC by folding: the bytes, taken as a polynomial, are multiplied down without carries four
// blocks of 16 bytes at a time into one block whose CRC is theirs; zlib finishes from there.
#include "zip_crc.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define ZIP_CRC_FOLDS 1
#endif

namespace {

// zlib takes at most an unsigned int of bytes a call.
std::uint32_t ZlibCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
  uLong result = crc;
  while (count > 0) {
    const std::size_t piece = std::min<std::size_t>(count, std::numeric_limits<uInt>::max());
    result = crc32(result, bytes, static_cast<uInt>(piece));
    bytes += piece;
    count -= piece;
  }
  return static_cast<std::uint32_t>(result);
}

#ifdef ZIP_CRC_FOLDS

constexpr std::size_t kBlock = 16;
constexpr std::size_t kLeastFolded = 4 * kBlock;

bool CanFold() {
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

// x^(512+32) and x^512 modulo the polynomial (bits reflected, shifted by one) fold a block four
// blocks on; x^(128+32) and x^128 fold it one block on.
__attribute__((target("pclmul,sse4.1"))) __m128i FoldOn(__m128i block, __m128i constants,
                                                        __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(block, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(block, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1"))) __m128i Load(const unsigned char* bytes) {
  __m128i block;
  __builtin_memcpy(&block, bytes, sizeof block);
  return block;
}

// The CRC of the first `count` bytes (at least 64, a multiple of 16) after `crc`.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldedCrc(std::uint32_t crc,
                                                                 const unsigned char* bytes,
                                                                 std::size_t count) {
  const __m128i fourOn = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);
  const __m128i oneOn = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);
  // The register's start, inverted as zlib keeps it, enters as the first four bytes' partner.
  __m128i lanes[4] = {_mm_xor_si128(Load(bytes), _mm_cvtsi32_si128(static_cast<int>(~crc))),
                      Load(bytes + kBlock), Load(bytes + 2 * kBlock), Load(bytes + 3 * kBlock)};
  std::size_t at = kLeastFolded;
  for (; count - at >= kLeastFolded; at += kLeastFolded) {
    for (std::size_t lane = 0; lane < 4; ++lane)
      lanes[lane] = FoldOn(lanes[lane], fourOn, Load(bytes + at + lane * kBlock));
  }
  __m128i folded = lanes[0];
  for (std::size_t lane = 1; lane < 4; ++lane)
    folded = FoldOn(folded, oneOn, lanes[lane]);
  for (; at < count; at += kBlock)
    folded = FoldOn(folded, oneOn, Load(bytes + at));
  // The last block, taken from a register of zero, has the CRC of all the bytes folded into it.
  unsigned char last[kBlock];
  __builtin_memcpy(last, &folded, sizeof last);
  return ZlibCrc(0xFFFFFFFFu, last, sizeof last);
}

#endif

}  // namespace

std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
#ifdef ZIP_CRC_FOLDS
  static const bool canFold = CanFold();
  if (canFold && count >= kLeastFolded) {
    const std::size_t folded = count - count % kBlock;
    crc = FoldedCrc(crc, bytes, folded);
    bytes += folded;
    count -= folded;
  }
#endif
  return ZlibCrc(crc, bytes, count);
}

std::uint32_t JoinedCrc(std::uint32_t first, std::uint32_t second, std::size_t secondLength) {
  if (secondLength > static_cast<std::uintmax_t>(std::numeric_limits<z_off_t>::max())) {
    throw std::length_error("a run too long to join its CRC");
  }
  return static_cast<std::uint32_t>(
      crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}
