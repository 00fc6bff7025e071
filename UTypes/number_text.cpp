// Number text of the tables: exact 18-digit rounding of float32 values, integer text and the
// plain and general float styles, written into the caller's buffer without allocation.
#include "number_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <system_error>

namespace {

// ---- Unsigned arithmetic wider than 64 bits, portable to targets without a 128-bit type.

#if defined(__SIZEOF_INT128__) && !defined(NUMBER_TEXT_PORTABLE_128)
#define NUMBER_TEXT_NATIVE_128 1
__extension__ typedef unsigned __int128 NativeUint128;
#endif

struct Uint128 {
  std::uint64_t high;
  std::uint64_t low;
};

// Three 64-bit words, least significant first.
struct Uint192 {
  std::uint64_t word[3];
};

// The full product of two 64-bit numbers.
Uint128 Multiply64(std::uint64_t a, std::uint64_t b) {
#ifdef NUMBER_TEXT_NATIVE_128
  const NativeUint128 product = static_cast<NativeUint128>(a) * b;
  return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
#else
  const std::uint64_t lowLow = (a & 0xFFFFFFFF) * (b & 0xFFFFFFFF);
  const std::uint64_t highLow = (a >> 32) * (b & 0xFFFFFFFF);
  const std::uint64_t lowHigh = (a & 0xFFFFFFFF) * (b >> 32);
  const std::uint64_t highHigh = (a >> 32) * (b >> 32);
  const std::uint64_t middle = (lowLow >> 32) + (highLow & 0xFFFFFFFF) + (lowHigh & 0xFFFFFFFF);
  return {highHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32),
          (middle << 32) | (lowLow & 0xFFFFFFFF)};
#endif
}

#ifdef NUMBER_TEXT_NATIVE_128
NativeUint128 ToNative(Uint128 value) {
  return (static_cast<NativeUint128>(value.high) << 64) | value.low;
}

Uint128 FromNative(NativeUint128 value) {
  return {static_cast<std::uint64_t>(value >> 64), static_cast<std::uint64_t>(value)};
}
#endif

// value >> shift for 0 < shift < 128.
Uint128 ShiftRight128(Uint128 value, int shift) {
#ifdef NUMBER_TEXT_NATIVE_128
  return FromNative(ToNative(value) >> shift);
#else
  if (shift >= 64) return {0, value.high >> (shift - 64)};
  return {value.high >> shift, (value.low >> shift) | (value.high << (64 - shift))};
#endif
}

// value << shift for 0 < shift < 128.
Uint128 ShiftLeft128(Uint128 value, int shift) {
#ifdef NUMBER_TEXT_NATIVE_128
  return FromNative(ToNative(value) << shift);
#else
  if (shift >= 64) return {value.low << (shift - 64), 0};
  return {(value.high << shift) | (value.low >> (64 - shift)), value.low << shift};
#endif
}

constexpr Uint192 TimesFive(const Uint192& x) {
  Uint192 result{};
  std::uint64_t carry = 0;
  for (int i = 0; i < 3; ++i) {
    const std::uint64_t timesFour = x.word[i] << 2;
    const std::uint64_t timesFive = timesFour + x.word[i];
    const std::uint64_t total = timesFive + carry;
    carry = (x.word[i] >> 62) + (timesFive < timesFour ? 1 : 0) + (total < timesFive ? 1 : 0);
    result.word[i] = total;
  }
  return result;
}

// 5^0 to 5^62: the scaling of the smallest subnormal to 18 digits needs 10^62.
constexpr int kMaxPowerOfFive = 62;

constexpr std::array<Uint192, kMaxPowerOfFive + 1> MakePowersOfFive() {
  std::array<Uint192, kMaxPowerOfFive + 1> powers{};
  powers[0] = {{1, 0, 0}};
  for (std::size_t i = 1; i < powers.size(); ++i)
    powers[i] = TimesFive(powers[i - 1]);
  return powers;
}

constexpr std::array<Uint192, kMaxPowerOfFive + 1> kPowersOfFive = MakePowersOfFive();

constexpr std::array<std::uint64_t, 20> MakePowersOfTen() {
  std::array<std::uint64_t, 20> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i)
    powers[i] = powers[i - 1] * 10;
  return powers;
}

constexpr std::array<std::uint64_t, 20> kPowersOfTen = MakePowersOfTen();

// Division by a constant d as a multiplication: with 2^shift < d < 2^(shift + 1) and
// multiplier = floor(2^(64 + shift) / d) + 1, x * multiplier / 2^(64 + shift) exceeds x / d by
// at most x / 2^(64 + shift), which is below 1 / d for x < 2^63; as the fraction of x / d is
// at most 1 - 1 / d, the integer part is then exact.
struct Reciprocal {
  std::uint64_t multiplier;
  int shift;
};

// floor(2^power / divisor) by long division, one bit a step, for a quotient below 2^64.
constexpr std::uint64_t PowerOfTwoDividedBy(int power, std::uint64_t divisor) {
  std::uint64_t quotient = 0;
  std::uint64_t remainder = 0;
  for (int bit = power; bit >= 0; --bit) {
    remainder = remainder * 2 + (bit == power ? 1 : 0);
    quotient = quotient * 2 + (remainder >= divisor ? 1 : 0);
    if (remainder >= divisor) remainder -= divisor;
  }
  return quotient;
}

// The reciprocals of powers[1] to powers[N - 1], none a power of two.
template <std::size_t N>
constexpr std::array<Reciprocal, N> MakeReciprocals(const std::array<std::uint64_t, N>& powers) {
  std::array<Reciprocal, N> reciprocals{};
  for (std::size_t k = 1; k < N; ++k) {
    const int shift = static_cast<int>(std::bit_width(powers[k])) - 1;
    reciprocals[k] = {PowerOfTwoDividedBy(64 + shift, powers[k]) + 1, shift};
  }
  return reciprocals;
}

constexpr std::array<std::uint64_t, 22> MakePowersOfFiveBelow2To64() {
  std::array<std::uint64_t, 22> powers{};
  for (std::size_t k = 0; k < powers.size(); ++k)
    powers[k] = kPowersOfFive[k].word[0];
  return powers;
}

constexpr std::array<Reciprocal, 20> kReciprocalsOfTen = MakeReciprocals(kPowersOfTen);
constexpr std::array<Reciprocal, 22> kReciprocalsOfFive =
    MakeReciprocals(MakePowersOfFiveBelow2To64());

// x / 10^k for x below 2^63 and 1 <= k <= 18, without a division instruction.
std::uint64_t DivideByPowerOfTen(std::uint64_t x, std::size_t k) {
  const Reciprocal& reciprocal = kReciprocalsOfTen[k];
  return Multiply64(x, reciprocal.multiplier).high >> reciprocal.shift;
}

// ---- ToDecimalDigits step 3 (number_text.h): the exact value rounded to 18 significant
// digits, ties to even.

constexpr int kWorkingDigits = 18;

// An exact non-negative value as its integer part and two facts about the fraction f dropped
// below it: half is f >= 1/2, sticky is f other than 0 and 1/2.
struct ScaledValue {
  std::uint64_t floor;
  bool half;
  bool sticky;
};

// (value * 2^64 + below) / 2^(64 + shift) for 0 <= shift < 128, when the integer part fits in
// 64 bits.
ScaledValue ShiftRightRounding(Uint128 value, int shift, std::uint64_t below) {
  // The dropped bits, aligned so that the highest is worth one half.
  Uint128 dropped{below, 0};
  std::uint64_t floor = value.low;
  if (shift != 0) {
    dropped = ShiftLeft128(value, 128 - shift);
    dropped.low |= below;
    floor = ShiftRight128(value, shift).low;
  }
  return {floor, (dropped.high >> 63) != 0, (dropped.high << 1) != 0 || dropped.low != 0};
}

// significand * 2^binaryExponent * 10^power exactly, for a result below 10^19.
ScaledValue ScaleByPowerOfTen(std::uint32_t significand, int binaryExponent, int power) {
  if (power >= 0) {
    // 10^power = 5^power * 2^power: the fives multiply the significand, the twos join the
    // binary exponent. The product has at most 168 bits.
    const Uint192& five = kPowersOfFive[static_cast<std::size_t>(power)];
    const Uint128 lowProduct = Multiply64(five.word[0], significand);
    const int shift = -(binaryExponent + power);
    if (shift <= 0) return {lowProduct.low << -shift, false, false};
    if (shift < 64) {
      // The integer part has under 64 bits, so the product has under 128.
      const Uint128 product{lowProduct.high + five.word[1] * significand, lowProduct.low};
      return ShiftRightRounding(product, shift, 0);
    }
    const Uint128 middleProduct = Multiply64(five.word[1], significand);
    const std::uint64_t middle = lowProduct.high + middleProduct.low;
    const std::uint64_t high =
        middleProduct.high + five.word[2] * significand + (middle < middleProduct.low ? 1 : 0);
    return ShiftRightRounding({high, middle}, shift - 64, lowProduct.low);
  }
  // A value of 10^18 or more is an integer with at least 36 trailing binary zeros, more than
  // the -power twos of 10^-power, so only a division by 5^-power remains:
  // significand * 2^shift / 5^-power, with 15 <= shift <= 103 and 5^-power < 2^49.
  const int shift = binaryExponent + power;
  const auto fives = static_cast<std::size_t>(-power);
  const auto divisor = static_cast<std::int64_t>(kPowersOfFive[fives].word[0]);
  const Reciprocal& reciprocal = kReciprocalsOfFive[fives];
  // The reciprocal's estimate of the quotient (below 10^19) is at most two units too high; the
  // remainder, small enough for its low 64 bits to give it exactly, tells the true quotient.
  const Uint128 product = Multiply64(significand, reciprocal.multiplier);
  std::uint64_t quotient = ShiftRight128(product, 64 + reciprocal.shift - shift).low;
  const std::uint64_t dividendLow = shift < 64 ? std::uint64_t{significand} << shift : 0;
  auto remainder =
      static_cast<std::int64_t>(dividendLow - quotient * static_cast<std::uint64_t>(divisor));
  for (; remainder < 0; remainder += divisor)
    --quotient;
  for (; remainder >= divisor; remainder -= divisor)
    ++quotient;
  // The divisor is odd, so a remainder is never exactly half of it.
  return {quotient, remainder * 2 > divisor, remainder != 0};
}

// The value divided by 10 when `divide` is set, without a branch that would depend on it: the
// new fraction (lastDigit + f) / 10 is at least 1/2 when lastDigit >= 5, and exactly 0 or 1/2
// only when f is 0 and lastDigit is 0 or 5.
ScaledValue DivideByTenWhen(bool divide, ScaledValue value) {
  const std::uint64_t tenth = value.floor / 10;
  const std::uint64_t lastDigit = value.floor - tenth * 10;
  const bool sticky = value.half || value.sticky || (lastDigit != 0 && lastDigit != 5);
  return {divide ? tenth : value.floor, divide ? lastDigit >= 5 : value.half,
          divide ? sticky : value.sticky};
}

std::uint64_t RoundToNearestEven(ScaledValue value) {
  const bool up = value.half && (value.sticky || (value.floor & 1) != 0);
  return value.floor + (up ? 1 : 0);
}

// 18 significant digits: 10^17 <= digits < 10^18, value = digits * 10^(exponent - 18).
struct WorkingDigits {
  std::uint64_t digits;
  int exponent;
};

// The magnitude significand * 2^binaryExponent (significand non-zero) rounded to 18
// significant digits, ties to even, from its exact value.
WorkingDigits RoundToWorkingDigits(std::uint32_t significand, int binaryExponent) {
  // floor(log10(2^log2)) + 1 by a multiplier exact over the float range; the value lies
  // below 2^(log2 + 1), so its decimal exponent is this estimate or the next one.
  const int log2 = binaryExponent + static_cast<int>(std::bit_width(significand)) - 1;
  int exponent = ((log2 * 78913) >> 18) + 1;
  ScaledValue scaled = ScaleByPowerOfTen(significand, binaryExponent, kWorkingDigits - exponent);
  const bool nineteenDigits = scaled.floor >= kPowersOfTen[kWorkingDigits];
  scaled = DivideByTenWhen(nineteenDigits, scaled);
  exponent += nineteenDigits ? 1 : 0;
  std::uint64_t digits = RoundToNearestEven(scaled);
  if (digits == kPowersOfTen[kWorkingDigits]) {
    digits = kPowersOfTen[kWorkingDigits - 1];
    ++exponent;
  }
  return {digits, exponent};
}

// ---- ToDecimalDigits steps 1 to 8 (number_text.h): the decimal form, kept as an integer until
// the text is written.

// A float's decimal form: for a Finite one, value = digits * 10^(exponent - 18) with 18 digits
// (10^17 <= digits < 10^18), trailing zeros standing for digits not kept.
struct Decimal {
  DecimalDigits::Form form;
  bool negative;
  int exponent;
  std::uint64_t digits;
};

// Steps 1 to 3: the special forms, zero, or the 18 working digits.
Decimal WorkingDecimal(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  const std::uint32_t biasedExponent = (bits >> 23) & 0xFF;
  const std::uint32_t fraction = bits & 0x7FFFFF;
  if (biasedExponent == 0xFF) {
    if (fraction != 0) return {DecimalDigits::Form::NaN, false, 0, 0};
    return {DecimalDigits::Form::Infinity, (bits >> 31) != 0, 0, 0};
  }
  if (biasedExponent == 0 && fraction == 0) return {DecimalDigits::Form::Zero, false, 0, 0};

  // value = significand * 2^binaryExponent exactly; subnormals have no hidden bit.
  const std::uint32_t significand = biasedExponent != 0 ? fraction | 0x800000 : fraction;
  const int binaryExponent = biasedExponent != 0 ? static_cast<int>(biasedExponent) - 150 : -149;
  const WorkingDigits working = RoundToWorkingDigits(significand, binaryExponent);
  return {DecimalDigits::Form::Finite, (bits >> 31) != 0, working.exponent, working.digits};
}

// Steps 6 to 8: rounds the 18 digits half away from zero to a multiple of 10^dropped, keeping
// 18 - dropped of them (1 <= dropped <= 18). A carry past the first digit (or rounding up from
// no digit at all) gives 10^18, which is "1" one place higher; nothing left is zero, unsigned.
void RoundDroppingDigits(Decimal& decimal, std::size_t dropped) {
  const std::uint64_t unit = kPowersOfTen[dropped];
  const std::uint64_t floor = DivideByPowerOfTen(decimal.digits, dropped) * unit;
  const std::uint64_t kept = floor + (decimal.digits - floor >= unit / 2 ? unit : 0);
  if (kept == 0) {
    decimal = {DecimalDigits::Form::Zero, false, 0, 0};
  } else if (kept == kPowersOfTen[kWorkingDigits]) {
    decimal.digits = kPowersOfTen[kWorkingDigits - 1];
    ++decimal.exponent;
  } else {
    decimal.digits = kept;
  }
}

// Steps 4 to 8: keeps n = min(E + decimals, precision) of the 18 digits.
void KeepDigits(Decimal& decimal, int precision, int decimals) {
  if (decimal.form != DecimalDigits::Form::Finite) return;
  // Widened so that no sum can overflow.
  const std::int64_t wanted =
      std::min<std::int64_t>(std::int64_t{decimal.exponent} + decimals, precision);
  if (wanted >= kWorkingDigits) return;
  if (wanted < 0) {
    decimal = {DecimalDigits::Form::Zero, false, 0, 0};
    return;
  }
  RoundDroppingDigits(decimal, static_cast<std::size_t>(kWorkingDigits - wanted));
}

Decimal RoundedDecimal(float value, int precision, int decimals) {
  Decimal decimal = WorkingDecimal(value);
  KeepDigits(decimal, precision, decimals);
  return decimal;
}

constexpr int kGeneralPrecision = 15;
constexpr int kPlainDecimals = 6;

// The general style's 15 digits: the same as KeepDigits(decimal, 15, kNoDecimalLimit), as no
// float has so many decimals that the limit applies; the unit is known when compiling.
void KeepGeneralDigits(Decimal& decimal) {
  if (decimal.form == DecimalDigits::Form::Finite) {
    RoundDroppingDigits(decimal, kWorkingDigits - kGeneralPrecision);
  }
}

// ---- Digit text.

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t kEightZeros = 0x3030303030303030;  // "00000000"

// The eight digits of value < 10^8 as ASCII, the first in the lowest byte. The number is
// split into halves, the halves into pairs and the pairs into digits side by side, each part
// in its own lane of one 64-bit word (x / 100 = x * 10486 >> 20 for x < 10^4; y / 10 =
// y * 103 >> 10 for y < 100).
std::uint64_t EightDigitsAsText(std::uint32_t value) {
  const std::uint64_t halves = (value / 10000) | (std::uint64_t{value % 10000} << 32);
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t pairs = hundreds | ((halves - hundreds * 100) << 16);
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
  const std::uint64_t digits = tens | ((pairs - tens * 10) << 8);
  return digits | kEightZeros;
}

// Writes the eight bytes of a text word, its lowest byte first.
void StoreWord(std::uint64_t word, char* out) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &word, 8);
  } else {
    for (int i = 0; i < 8; ++i)
      out[i] = static_cast<char>(word >> (8 * i));
  }
}

// Digits that are not trailing zeros among the eight of a word (0 when all are zeros).
int DigitsBeforeTrailingZeros(std::uint64_t word) {
  return 8 - static_cast<int>(static_cast<unsigned>(std::countl_zero(word ^ kEightZeros)) / 8);
}

// The 18 digits of a Finite Decimal as text in three words, first digit in the lowest byte:
// d1 to d8, d9 to d16, then d17, d18 and six '0'. The text is built and laid out in registers,
// so no layout reads back bytes just stored; the functions that pass it on are inline so that
// it never goes through memory.
struct DigitWords {
  std::uint64_t word[3];
  int count;  // digits before the trailing zeros, 1 to 18
};

inline DigitWords ToDigitWords(std::uint64_t digits) {
  // d17 and d18 are '0' in the general style and in most plain texts.
  const std::uint64_t firstSixteen = digits / 100;
  const auto lastTwo = static_cast<std::uint32_t>(digits - firstSixteen * 100);
  const auto firstEight = static_cast<std::uint32_t>(firstSixteen / 100000000);
  const auto nextEight = static_cast<std::uint32_t>(firstSixteen - firstEight * 100000000ull);
  DigitWords text{{EightDigitsAsText(firstEight), kEightZeros, kEightZeros}, 0};
  // Short values such as 0.5 or 1500 skip the second word as zeros.
  if (nextEight != 0) text.word[1] = EightDigitsAsText(nextEight);
  if (lastTwo != 0) {
    text.word[2] = (lastTwo / 10 + '0') | ((lastTwo % 10 + '0') << 8) | (kEightZeros << 16);
    text.count = 16 + DigitsBeforeTrailingZeros(text.word[2]);
  } else if (nextEight != 0) {
    text.count = 8 + DigitsBeforeTrailingZeros(text.word[1]);
  } else {
    text.count = DigitsBeforeTrailingZeros(text.word[0]);
  }
  return text;
}

// One word of a text into which c is inserted before byte `index` of the word: the bytes from
// there on move up by one. Before the word (index < 0) all bytes move up, `carried` (the top
// byte of the word below) coming in; after it (index > 7) nothing changes.
std::uint64_t InsertIntoWord(std::uint64_t word, std::ptrdiff_t index, std::uint64_t carried,
                             char c) {
  if (index < 0) return (word << 8) | carried;
  if (index > 7) return word;
  const auto bits = static_cast<unsigned>(8 * index);
  const std::uint64_t below = (std::uint64_t{1} << bits) - 1;
  const std::uint64_t inserted = std::uint64_t{static_cast<unsigned char>(c)} << bits;
  return (word & below) | inserted | ((word & ~below) << 8);
}

// Writes the text with c inserted before byte `index` (1 to 17); the last byte, a filler '0',
// drops out.
void StoreWithByteInserted(const DigitWords& text, std::ptrdiff_t index, char c, char* out) {
  const std::uint64_t first = text.word[0];
  const std::uint64_t second = text.word[1];
  StoreWord(InsertIntoWord(first, index, 0, c), out);
  StoreWord(InsertIntoWord(second, index - 8, first >> 56, c), out + 8);
  StoreWord(InsertIntoWord(text.word[2], index - 16, second >> 56, c), out + 16);
}

// Writes the first `words` words of the text.
void StoreWords(const DigitWords& text, int words, char* out) {
  for (int i = 0; i < words; ++i)
    StoreWord(text.word[i], out + 8 * i);
}

// Writes value < 100 without a leading zero; returns the end of the digits.
char* WriteBelowHundred(std::uint32_t value, char* out) {
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  std::memcpy(out, kDigitPairs + 2 * value, 2);
  return out + 2;
}

// Writes the decimal digits of value, without leading zeros ("0" for 0), as whole words that
// may run up to 8 bytes past the digits; returns the end of the digits. Most table integers
// have at most four digits: a pair or two from the table. Longer ones are made eight digits at
// a time, their leading zeros, the lowest bytes of the word, shifted out.
inline char* WriteDecimal(std::uint32_t value, char* out) {
  if (value < 100) return WriteBelowHundred(value, out);
  if (value < 10000) {
    const std::uint32_t hundreds = value / 100;
    out = WriteBelowHundred(hundreds, out);
    std::memcpy(out, kDigitPairs + 2 * (value - hundreds * 100), 2);
    return out + 2;
  }
  constexpr std::uint32_t kHundredMillion = 100000000;
  if (value >= kHundredMillion) {
    const std::uint32_t high = value / kHundredMillion;  // 1 to 42
    out = WriteBelowHundred(high, out);
    StoreWord(EightDigitsAsText(value - high * kHundredMillion), out);
    return out + 8;
  }
  const std::uint64_t word = EightDigitsAsText(value);
  const auto leadingZeros = static_cast<unsigned>(std::countr_zero(word ^ kEightZeros)) / 8;
  StoreWord(word >> (8 * leadingZeros), out);
  return out + 8 - leadingZeros;
}

// ---- Layout of the two styles. Whole words of text are written, which may run past the end
// of the text but stay inside the caller's kNumberTextCapacity bytes.

char* WriteText(const char* text, std::size_t length, char* out) {
  std::memcpy(out, text, length);
  return out + length;
}

// Writes '-' when `negative`, without a branch on the sign (random signs would mispredict).
char* WriteSign(bool negative, char* out) {
  *out = '-';
  return out + (negative ? 1 : 0);
}

// "NAN", "INF" or "-INF".
char* WriteSpecial(const Decimal& decimal, char* out) {
  if (decimal.form == DecimalDigits::Form::NaN) return WriteText("NAN", 3, out);
  out = WriteSign(decimal.negative, out);
  return WriteText("INF", 3, out);
}

// The digits with the point after the first `exponent` of them: "0", the point and zeros first
// when the exponent is 0 or below; zeros up to the point when the digits end before it.
// Both styles come here with -5 <= exponent <= 18, at most 16 digits when the exponent is 0 or
// below, and at most a sign before out.
inline char* WritePositional(const DigitWords& text, int exponent, char separator, char* out) {
  const auto count = static_cast<std::size_t>(text.count);
  if (exponent <= 0) {
    const auto zeros = static_cast<std::size_t>(-exponent);
    out[0] = '0';
    out[1] = separator;
    StoreWord(kEightZeros, out + 2);
    StoreWords(text, 2, out + 2 + zeros);
    return out + 2 + zeros + count;
  }
  const auto integerDigits = static_cast<std::size_t>(exponent);
  if (count <= integerDigits) {
    StoreWords(text, 3, out);  // the digits not kept are the zeros up to the point
    return out + integerDigits;
  }
  StoreWithByteInserted(text, exponent, separator, out);
  return out + count + 1;
}

// "E", a '-' for a negative power, then its one or two digits (floats stay within 10^+-45).
char* WritePowerOfTen(int power, char* out) {
  *out++ = 'E';
  out = WriteSign(power < 0, out);
  const auto magnitude = static_cast<std::size_t>(power < 0 ? -power : power);
  const std::size_t skipped = magnitude < 10 ? 1 : 0;  // the leading '0' of the pair
  out[0] = kDigitPairs[2 * magnitude + skipped];
  out[1] = kDigitPairs[2 * magnitude + 1];
  return out + 2 - skipped;
}

// "d.dddE-x": the first digit, the others (at most 14) after the separator, then the power.
inline char* WriteExponentForm(const DigitWords& text, int exponent, char separator, char* out) {
  char* end = out + 1;
  if (text.count == 1) {
    StoreWord(text.word[0], out);
  } else {
    StoreWithByteInserted(text, 1, separator, out);
    end = out + text.count + 1;
  }
  return WritePowerOfTen(exponent - 1, end);
}

inline char* WriteGeneral(const Decimal& decimal, char separator, char* out) {
  if (decimal.form == DecimalDigits::Form::Zero) return WriteText("0", 1, out);
  if (decimal.form != DecimalDigits::Form::Finite) return WriteSpecial(decimal, out);
  out = WriteSign(decimal.negative, out);
  const DigitWords text = ToDigitWords(decimal.digits);
  if (decimal.exponent > kGeneralPrecision || decimal.exponent < -3) {
    return WriteExponentForm(text, decimal.exponent, separator, out);
  }
  return WritePositional(text, decimal.exponent, separator, out);
}

// ---- The plain style's shortcut for magnitudes below 2^32, where nearly every table value is.

// The bit pattern of 2^32: every float whose magnitude's pattern is below it is finite and
// below 2^32.
constexpr std::uint32_t kPlainShortcutLimit = 0x4F800000;

// The plain text of a float below 2^32 in magnitude. Its six decimals are the integer
// round-half-away-from-zero(|value| x 10^6): the product is exact in double precision (a 24-bit
// significand times 15625 x 2^6 has at most 38 significant bits), and it rounds as the 18
// working digits do, because a float m x 2^e lies at least 2^(e+6) millionths from every half
// millionth unless exactly on one, while the working digits move it by less than 10^-4 x 2^e
// millionths; a value exactly on a half millionth has at most 17 digits and stays exact.
char* WritePlainBelowTwoTo32(std::uint32_t bits, char point, char* out) {
  const float magnitude = std::bit_cast<float>(bits & 0x7FFFFFFF);
  const double scaled = static_cast<double>(magnitude) * 1e6;
  // Truncating the sum with one half rounds half up: the sum is exact (below 2^52, and of at most
  // 53 significant bits) unless the product is below 2^-14, and then it truncates to 0 all the
  // same.
  const auto millionths = static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled + 0.5));
  if (millionths == 0) return WriteText("0", 1, out);
  out = WriteSign((bits >> 31) != 0, out);
  const auto integer = static_cast<std::uint32_t>(millionths / 1000000);
  const auto decimals = static_cast<std::uint32_t>(millionths % 1000000);
  out = WriteDecimal(integer, out);
  if (decimals == 0) return out;
  // The six decimals, leading zeros kept, then two filler '0' that the count leaves out.
  const std::uint64_t word = (EightDigitsAsText(decimals) >> 16) | (kEightZeros << 48);
  *out++ = point;
  StoreWord(word, out);
  return out + DigitsBeforeTrailingZeros(word);
}

// The plain text of any other float: NaN, the infinities, and magnitudes from 2^32 on, through
// the 18 working digits.
char* WritePlainFromWorkingDigits(float value, char point, char* out) {
  Decimal decimal = WorkingDecimal(value);
  if (decimal.form == DecimalDigits::Form::Finite && decimal.exponent > kWorkingDigits) {
    // 10^18 and above: the general style. Rounding to six decimals would have kept all 18
    // digits, so the exponent tested is the one of the plain style too.
    KeepGeneralDigits(decimal);
    return WriteGeneral(decimal, point, out);
  }
  KeepDigits(decimal, kWorkingDigits, kPlainDecimals);
  if (decimal.form == DecimalDigits::Form::Zero) return WriteText("0", 1, out);
  if (decimal.form != DecimalDigits::Form::Finite) return WriteSpecial(decimal, out);
  out = WriteSign(decimal.negative, out);
  return WritePositional(ToDigitWords(decimal.digits), decimal.exponent, point, out);
}

std::size_t LengthFrom(const char* begin, const char* end) {
  return static_cast<std::size_t>(end - begin);
}

}  // namespace

std::size_t IntegerText(std::int32_t value, char* out) {
  auto magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) magnitude = 0u - magnitude;  // modular negation: exact for -2147483648 too
  return LengthFrom(out, WriteDecimal(magnitude, WriteSign(value < 0, out)));
}

DecimalDigits ToDecimalDigits(float value, int precision, int decimals) {
  const Decimal decimal = RoundedDecimal(value, precision, decimals);
  DecimalDigits result;
  result.form = decimal.form;
  result.negative = decimal.negative;
  result.exponent = decimal.exponent;
  if (decimal.form == DecimalDigits::Form::Finite) {
    const DigitWords text = ToDigitWords(decimal.digits);
    char digits[24];
    StoreWords(text, 3, digits);
    result.count = text.count;
    std::memcpy(result.digits, digits, static_cast<std::size_t>(text.count));
  }
  return result;
}

std::size_t PlainNumberText(float value, char decimalSeparator, char* out) {
  // The plain style's point is never ',': a ',' separator is written as '.'.
  const char point = PlainPoint(decimalSeparator);
  const auto bits = std::bit_cast<std::uint32_t>(value);
  if ((bits & 0x7FFFFFFF) < kPlainShortcutLimit) {
    return LengthFrom(out, WritePlainBelowTwoTo32(bits, point, out));
  }
  return LengthFrom(out, WritePlainFromWorkingDigits(value, point, out));
}

std::size_t GeneralNumberText(float value, char decimalSeparator, char* out) {
  Decimal decimal = WorkingDecimal(value);
  KeepGeneralDigits(decimal);
  return LengthFrom(out, WriteGeneral(decimal, decimalSeparator, out));
}

// ---- Number text read back.

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The digits at the front of `text`, taken off it.
std::string_view TakeDigits(std::string_view& text) {
  std::size_t count = 0;
  while (count < text.size() && IsDigit(text[count]))
    ++count;
  const std::string_view digits = text.substr(0, count);
  text.remove_prefix(count);
  return digits;
}

// An exponent's digits as a number; beyond any float's reach it saturates, which keeps the
// value's rounding (to zero or past the largest float) as it is.
std::int64_t SaturatedExponent(std::string_view digits) {
  constexpr std::int64_t kFarBeyondFloats = std::int64_t{1} << 40;
  std::int64_t value = 0;
  for (char digit : digits) {
    value = std::min(value * 10 + (digit - '0'), kFarBeyondFloats);
  }
  return value;
}

// Turns "<integer>.<fraction> x 10^power" into significant digits and 0.d x 10^exponent form.
void NormaliseDecimal(std::string_view integer, std::string_view fraction, std::int64_t power,
                      DecimalNumber& number) {
  std::string digits;
  digits.reserve(integer.size() + fraction.size());
  digits.append(integer);
  digits.append(fraction);
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    number = DecimalNumber{};
    return;
  }
  const std::size_t last = digits.find_last_not_of('0');
  number.form = DecimalDigits::Form::Finite;
  number.exponent =
      static_cast<std::int64_t>(integer.size()) - static_cast<std::int64_t>(first) + power;
  number.digits = digits.substr(first, last - first + 1);
}

}  // namespace

bool operator==(const DecimalNumber& a, const DecimalNumber& b) {
  return a.form == b.form && a.negative == b.negative && a.exponent == b.exponent &&
         a.digits == b.digits;
}

bool ReadNumberText(std::string_view text, char decimalSeparator, DecimalNumber& number) {
  number = DecimalNumber{};
  if (text == "NAN") {
    number.form = DecimalDigits::Form::NaN;
    return true;
  }
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text == "INF") {
    number.form = DecimalDigits::Form::Infinity;
    number.negative = negative;
    return true;
  }
  const std::string_view integer = TakeDigits(text);
  std::string_view fraction;
  if (!text.empty() && text.front() == decimalSeparator) {
    text.remove_prefix(1);
    fraction = TakeDigits(text);
  }
  if (integer.empty() && fraction.empty()) return false;
  std::int64_t power = 0;
  if (!text.empty() && (text.front() == 'E' || text.front() == 'e')) {
    text.remove_prefix(1);
    const bool negativePower = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    const std::string_view powerDigits = TakeDigits(text);
    if (powerDigits.empty()) return false;
    power = SaturatedExponent(powerDigits) * (negativePower ? -1 : 1);
  }
  if (!text.empty()) return false;
  NormaliseDecimal(integer, fraction, power, number);
  number.negative = negative && number.form == DecimalDigits::Form::Finite;
  return true;
}

bool NearestFloat(const DecimalNumber& number, float& value) {
  switch (number.form) {
    case DecimalDigits::Form::NaN:
      value = std::bit_cast<float>(std::uint32_t{0x7FC00000});
      return true;
    case DecimalDigits::Form::Infinity:
      value = std::bit_cast<float>(number.negative ? 0xFF800000u : 0x7F800000u);
      return true;
    case DecimalDigits::Form::Zero:
      value = 0.0f;
      return true;
    case DecimalDigits::Form::Finite:
      break;
  }
  // "0.<digits>e<exponent>" in the form the standard conversion reads; it rounds once, to
  // nearest with ties to even, from the exact decimal. Built in place for the usual few digits.
  constexpr std::size_t kInPlaceDigits = 40;
  char inPlace[kInPlaceDigits + 32];
  std::string longText;
  std::string_view text;
  if (number.digits.size() <= kInPlaceDigits) {
    char* out = inPlace;
    *out++ = '0';
    *out++ = '.';
    out = std::copy(number.digits.begin(), number.digits.end(), out);
    *out++ = 'e';
    out = std::to_chars(out, inPlace + sizeof inPlace, number.exponent).ptr;
    text = std::string_view(inPlace, static_cast<std::size_t>(out - inPlace));
  } else {
    longText = "0." + number.digits + "e" + std::to_string(number.exponent);
    text = longText;
  }
  float magnitude = 0.0f;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error == std::errc::result_out_of_range) {
    // Past the largest float for a positive exponent; below half the smallest subnormal else.
    if (number.exponent > 0) return false;
    magnitude = 0.0f;
  } else if (error != std::errc{} || end != text.data() + text.size()) {
    return false;
  }
  value = number.negative ? -magnitude : magnitude;
  return true;
}

bool ReadWholeNumberText(std::string_view text, char decimalSeparator, std::int32_t& value) {
  const std::size_t point = text.find(decimalSeparator);
  if (point != std::string_view::npos) {
    const std::string_view decimals = text.substr(point + 1);
    if (decimals.empty() || decimals.find_first_not_of('0') != std::string_view::npos) {
      return false;
    }
    text = text.substr(0, point);
  }
  if (text.empty() || text.front() == '+') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size();
}
