// Slow exact number text, written apart from the fast code to check it: the float's whole
// decimal expansion by big integer arithmetic, then every rounding done on the digit string.
#pragma once

#include <cstddef>
#include <cstdint>

// The exact value of a float: 0.digits x 10^exponent, digits without leading or trailing '0'.
struct ReferenceExpansion {
  enum class Kind : std::uint8_t { Finite, Zero, Infinity, NaN };
  Kind kind = Kind::Zero;
  bool negative = false;
  int exponent = 0;
  int length = 0;
  char digits[128] = {};  // subnormals have up to 112 significant digits
};

// A rounded decimal form: 0.digits x 10^exponent, or zero when length is 0.
struct ReferenceDigits {
  int exponent = 0;
  int length = 0;
  char digits[20] = {};
};

// The whole decimal expansion of value, sign and special forms included.
ReferenceExpansion ReferenceExpand(float value);

// A finite expansion rounded first to 18 significant digits (nearest, ties to even), then to at
// most `precision` digits and `decimals` decimals (half away from zero); no trailing zeros.
ReferenceDigits ReferenceRound(const ReferenceExpansion& exact, int precision, int decimals);

// The plain ("0.######") and general (15 digits) styles of the expanded value, written to out
// (at least 32 bytes); return the length.
std::size_t ReferencePlainText(const ReferenceExpansion& exact, char separator, char* out);
std::size_t ReferenceGeneralText(const ReferenceExpansion& exact, char separator, char* out);
