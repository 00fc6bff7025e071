// Fuzz target: the number text of every 4-byte group of the input, as an int32 and as a float32
// in both styles with both separators, checked against slow exact references.
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "fuzz_support.h"
#include "number_text.h"
#include "reference_number_text.h"

namespace {

// Groups checked per input: enough to make each run worth its overhead, few enough to stay fast.
constexpr std::size_t kMostGroups = 64;

void RequireSameText(std::uint32_t bits, const char* what, std::string_view fast,
                     std::string_view reference) {
  if (fast == reference) return;
  std::fprintf(stderr, "bits 0x%08X %s: fast \"%.*s\", reference \"%.*s\"\n",
               static_cast<unsigned>(bits), what, static_cast<int>(fast.size()), fast.data(),
               static_cast<int>(reference.size()), reference.data());
  RequireInvariant(false, "the number text equals the exact reference");
}

void CheckIntegerText(std::uint32_t bits) {
  const auto value = static_cast<std::int32_t>(bits);
  char fast[kNumberTextCapacity];
  char reference[kNumberTextCapacity];
  const std::to_chars_result written =
      std::to_chars(reference, reference + sizeof reference, value);
  RequireSameText(bits, "integer", std::string_view(fast, IntegerText(value, fast)),
                  std::string_view(reference, static_cast<std::size_t>(written.ptr - reference)));
}

void CheckFloatText(std::uint32_t bits, char separator) {
  const auto value = std::bit_cast<float>(bits);
  const ReferenceExpansion exact = ReferenceExpand(value);
  char fast[kNumberTextCapacity];
  char reference[64];
  const std::size_t plainLength = PlainNumberText(value, separator, fast);
  RequireInvariant(plainLength < kNumberTextCapacity, "the plain text fits its buffer");
  RequireSameText(bits, separator == '.' ? "plain '.'" : "plain ','",
                  std::string_view(fast, plainLength),
                  std::string_view(reference, ReferencePlainText(exact, separator, reference)));
  const std::size_t generalLength = GeneralNumberText(value, separator, fast);
  RequireInvariant(generalLength < kNumberTextCapacity, "the general text fits its buffer");
  RequireSameText(bits, separator == '.' ? "general '.'" : "general ','",
                  std::string_view(fast, generalLength),
                  std::string_view(reference, ReferenceGeneralText(exact, separator, reference)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t group = 0; group < kMostGroups && 4 * group + 4 <= size; ++group) {
    const std::uint8_t* bytes = data + 4 * group;
    const std::uint32_t bits = bytes[0] | (std::uint32_t{bytes[1]} << 8) |
                               (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
    CheckIntegerText(bits);
    CheckFloatText(bits, '.');
    CheckFloatText(bits, ',');
  }
  return 0;
}
