// Slow exact number text for checking: big integers in base 10^9, rounding on digit strings.
#include "reference_number_text.h"

#include <cstring>

namespace {

constexpr std::uint64_t kLimbBase = 1000000000;

// A non-negative integer in base 10^9, least significant limb first.
struct BigDecimal {
  std::uint32_t limbs[16] = {};
  int used = 0;
};

void MultiplyBy(BigDecimal& number, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (int i = 0; i < number.used; ++i) {
    const std::uint64_t product = std::uint64_t{number.limbs[i]} * factor + carry;
    number.limbs[i] = static_cast<std::uint32_t>(product % kLimbBase);
    carry = product / kLimbBase;
  }
  while (carry != 0) {
    number.limbs[number.used++] = static_cast<std::uint32_t>(carry % kLimbBase);
    carry /= kLimbBase;
  }
}

// Multiplies by base^power in steps small enough for one limb product to fit 64 bits.
void MultiplyByPower(BigDecimal& number, std::uint32_t base, int power) {
  const std::uint32_t step = base == 2 ? 1u << 28 : 244140625;  // 2^28 or 5^12
  const int stepPower = base == 2 ? 28 : 12;
  for (; power >= stepPower; power -= stepPower)
    MultiplyBy(number, step);
  std::uint32_t rest = 1;
  for (; power > 0; --power)
    rest *= base;
  MultiplyBy(number, rest);
}

// The decimal digits of number, most significant first, without leading zeros.
int DecimalText(const BigDecimal& number, char* out) {
  int length = 0;
  for (int i = number.used - 1; i >= 0; --i) {
    char limb[9];
    std::uint32_t value = number.limbs[i];
    for (int k = 8; k >= 0; --k) {
      limb[k] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    for (char digit : limb) {
      if (length > 0 || digit != '0') out[length++] = digit;
    }
  }
  return length;
}

// Adds one to the last digit of text[0, length), carrying left; true when the carry runs out of
// the first digit (all digits were '9' and are now '0').
bool IncrementDigits(char* text, int length) {
  for (int i = length - 1; i >= 0; --i) {
    if (text[i] != '9') {
      ++text[i];
      return false;
    }
    text[i] = '0';
  }
  return true;
}

bool AnyNonZero(const char* text, int begin, int end) {
  for (int i = begin; i < end; ++i) {
    if (text[i] != '0') return true;
  }
  return false;
}

// 18 significant digits of the exact expansion, nearest with ties to even.
ReferenceDigits WorkingDigits(const ReferenceExpansion& exact) {
  ReferenceDigits working;
  working.exponent = exact.exponent;
  working.length = 18;
  std::memset(working.digits, '0', 18);
  std::memcpy(working.digits, exact.digits,
              static_cast<std::size_t>(exact.length < 18 ? exact.length : 18));
  if (exact.length <= 18) return working;
  const char next = exact.digits[18];
  const bool beyond = AnyNonZero(exact.digits, 19, exact.length);
  const bool lastOdd = (working.digits[17] - '0') % 2 == 1;
  const bool up = next > '5' || (next == '5' && (beyond || lastOdd));
  if (up && IncrementDigits(working.digits, 18)) {
    // 10^18 divided by ten is exact.
    working.digits[0] = '1';
    ++working.exponent;
  }
  return working;
}

std::size_t Append(char* out, std::size_t at, const char* text, std::size_t length) {
  std::memcpy(out + at, text, length);
  return at + length;
}

std::size_t AppendRepeated(char* out, std::size_t at, char c, int count) {
  for (int i = 0; i < count; ++i)
    out[at++] = c;
  return at;
}

std::size_t AppendSpecial(const ReferenceExpansion& exact, char* out) {
  if (exact.kind == ReferenceExpansion::Kind::NaN) return Append(out, 0, "NAN", 3);
  return exact.negative ? Append(out, 0, "-INF", 4) : Append(out, 0, "INF", 3);
}

// Digits with the decimal point after `exponent` of them, as both styles write them when they
// do not use the exponent form.
std::size_t AppendPositional(const ReferenceDigits& r, char separator, char* out, std::size_t at) {
  if (r.exponent <= 0) {
    out[at++] = '0';
    out[at++] = separator;
    at = AppendRepeated(out, at, '0', -r.exponent);
    return Append(out, at, r.digits, static_cast<std::size_t>(r.length));
  }
  for (int i = 0; i < r.exponent; ++i)
    out[at++] = i < r.length ? r.digits[i] : '0';
  if (r.length > r.exponent) {
    out[at++] = separator;
    at = Append(out, at, r.digits + r.exponent, static_cast<std::size_t>(r.length - r.exponent));
  }
  return at;
}

std::size_t AppendExponent(int power, char* out, std::size_t at) {
  if (power < 0) {
    out[at++] = '-';
    power = -power;
  }
  char reversed[12];
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + power % 10);
    power /= 10;
  } while (power > 0);
  while (count > 0)
    out[at++] = reversed[--count];
  return at;
}

}  // namespace

ReferenceExpansion ReferenceExpand(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  ReferenceExpansion exact;
  const int storedExponent = static_cast<int>(bits >> 23) & 0xFF;
  const std::uint32_t fraction = bits & 0x7FFFFF;
  if (storedExponent == 255) {
    exact.kind = fraction == 0 ? ReferenceExpansion::Kind::Infinity : ReferenceExpansion::Kind::NaN;
    exact.negative = fraction == 0 && (bits >> 31) != 0;
    return exact;
  }
  if (storedExponent == 0 && fraction == 0) return exact;

  // value = integer * 2^power exactly.
  const std::uint32_t integer = storedExponent == 0 ? fraction : fraction + (1u << 23);
  const int power = storedExponent == 0 ? -149 : storedExponent - 150;
  BigDecimal number;
  number.limbs[0] = integer;
  number.used = 1;
  // 2^-k = 5^k / 10^k: a negative power becomes fives and a shift of the decimal point.
  if (power >= 0) {
    MultiplyByPower(number, 2, power);
  } else {
    MultiplyByPower(number, 5, -power);
  }
  char text[160];
  const int length = DecimalText(number, text);
  exact.kind = ReferenceExpansion::Kind::Finite;
  exact.negative = (bits >> 31) != 0;
  exact.exponent = power >= 0 ? length : length + power;
  exact.length = length;
  while (text[exact.length - 1] == '0')
    --exact.length;
  std::memcpy(exact.digits, text, static_cast<std::size_t>(exact.length));
  return exact;
}

ReferenceDigits ReferenceRound(const ReferenceExpansion& exact, int precision, int decimals) {
  ReferenceDigits r = WorkingDigits(exact);
  const ReferenceDigits zero;
  long long kept = static_cast<long long>(r.exponent) + decimals;
  if (kept > precision) kept = precision;
  if (kept < 0) return zero;
  if (kept < r.length) {
    const int n = static_cast<int>(kept);
    const bool up = r.digits[n] >= '5';
    r.length = n;
    if (up && (n == 0 || IncrementDigits(r.digits, n))) {
      r.digits[0] = '1';
      r.length = 1;
      ++r.exponent;
    }
  }
  while (r.length > 0 && r.digits[r.length - 1] == '0')
    --r.length;
  return r.length == 0 ? zero : r;
}

std::size_t ReferenceGeneralText(const ReferenceExpansion& exact, char separator, char* out) {
  if (exact.kind == ReferenceExpansion::Kind::Zero) return Append(out, 0, "0", 1);
  if (exact.kind != ReferenceExpansion::Kind::Finite) return AppendSpecial(exact, out);
  const ReferenceDigits r = ReferenceRound(exact, 15, 1 << 20);
  if (r.length == 0) return Append(out, 0, "0", 1);
  std::size_t at = 0;
  if (exact.negative) out[at++] = '-';
  if (r.exponent > 15 || r.exponent < -3) {
    out[at++] = r.digits[0];
    if (r.length > 1) {
      out[at++] = separator;
      at = Append(out, at, r.digits + 1, static_cast<std::size_t>(r.length - 1));
    }
    out[at++] = 'E';
    return AppendExponent(r.exponent - 1, out, at);
  }
  return AppendPositional(r, separator, out, at);
}

std::size_t ReferencePlainText(const ReferenceExpansion& exact, char separator, char* out) {
  std::size_t length = 0;
  if (exact.kind == ReferenceExpansion::Kind::Zero) {
    length = Append(out, 0, "0", 1);
  } else if (exact.kind != ReferenceExpansion::Kind::Finite) {
    length = AppendSpecial(exact, out);
  } else {
    const ReferenceDigits r = ReferenceRound(exact, 18, 6);
    if (r.length == 0) {
      length = Append(out, 0, "0", 1);
    } else if (r.exponent > 18) {
      length = ReferenceGeneralText(exact, separator, out);
    } else {
      if (exact.negative) out[length++] = '-';
      length = AppendPositional(r, separator, out, length);
    }
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (out[i] == ',') out[i] = '.';
  }
  return length;
}
