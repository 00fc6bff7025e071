// Number text of the tables: integers, and floats in the plain and the general number style.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Room enough for any text written by the functions below.
inline constexpr std::size_t kNumberTextCapacity = 32;

// No limit on the decimals kept by ToDecimalDigits.
inline constexpr int kNoDecimalLimit = 1 << 20;

// The decimal form of a float: value = 0.d1d2d3... x 10^exponent.
struct DecimalDigits {
  enum class Form : std::uint8_t { Finite, Zero, Infinity, NaN };
  Form form = Form::Zero;
  bool negative = false;  // never set for zero or NaN
  int exponent = 0;       // count of digits before the point when >= 1; 0 for zero
  int count = 0;          // digits used, 1 to 18 for a finite non-zero value
  char digits[18] = {};   // ASCII digits, neither leading nor trailing '0'
};

// Writes the signed decimal text of value (no plus sign, no grouping, -2147483648 included) to
// out (kNumberTextCapacity bytes); returns its length. Allocates nothing.
std::size_t IntegerText(std::int32_t value, char* out);

// The decimal form of value, with at most `precision` significant digits and at most `decimals`
// decimals (kNoDecimalLimit: no limit), in these steps:
//  1. NaN (signalling too) is NaN without sign; an infinity is Infinity with its sign.
//  2. Zero of either sign is Zero without sign.
//  3. The magnitude a, with 10^(E-1) <= a < 10^E, becomes the 18 working digits: the integer
//     nearest to a x 10^(18-E) from its exact value, ties to even; when that reaches 10^18 it is
//     divided by 10 again (ties to even) and E grows by 1.
//  4. n = E + decimals digits are wanted; fewer than none gives Zero without sign.
//  5. At most `precision` of them: n = min(n, precision). From 18 on, all 18 are kept (step 7).
//  6. Digits n + 1 to 18 are dropped, rounding half away from zero: when digit n + 1 is 5 or
//     more, one is added to digit n, carrying to the left. A carry past the first digit (or a
//     rounding up with n = 0) gives the digit "1" and E grows by 1.
//  7. Trailing zeros are dropped; when no digit is left the result is Zero without sign.
//  8. Otherwise the result carries the sign of value.
DecimalDigits ToDecimalDigits(float value, int precision, int decimals);

// The spell tables' style "0.######": at most six decimals, no trailing zeros, no sign on 0;
// magnitudes of 10^18 and above fall back to the general style. Every ',' in the text becomes
// '.', so the point is '.' under a ',' locale. Writes to out (kNumberTextCapacity bytes);
// returns the length. Allocates nothing.
std::size_t PlainNumberText(float value, char decimalSeparator, char* out);

// The plain style's decimal point under the user's separator: '.' for ',', else the separator.
inline char PlainPoint(char decimalSeparator) {
  return decimalSeparator == ',' ? '.' : decimalSeparator;
}

// The quest tables' style: 15 significant digits, exponent form ("1.5E-5", "1E16") below 0.0001
// and from 10^15 on; NaN (signalling ones too) is "NAN", infinities "INF" and "-INF". The
// separator is written as given. Writes to out (kNumberTextCapacity bytes); returns the length.
std::size_t GeneralNumberText(float value, char decimalSeparator, char* out);

// ---- Number text read back, the inverse of the texts above (for tables edited by hand).

// A number text's exact value: two texts of one number ("12.5", "12.50", "1.25E1") read back
// alike. Finite: value = 0.digits x 10^exponent; Zero never carries a sign.
struct DecimalNumber {
  DecimalDigits::Form form = DecimalDigits::Form::Zero;
  bool negative = false;
  std::int64_t exponent = 0;
  std::string digits;  // significant digits, neither leading nor trailing '0'
};

bool operator==(const DecimalNumber& a, const DecimalNumber& b);

// Reads a number as the tables write it and spreadsheets save it: "NAN", "INF", "-INF", or an
// optional '-', digits with at most one `decimalSeparator` (a digit on at least one side), and
// an optional exponent ('E' or 'e', an optional sign, digits). Nothing else: no spaces, no
// grouping, no '+' before the number. False when the text is not such a number.
bool ReadNumberText(std::string_view text, char decimalSeparator, DecimalNumber& number);

// The float32 nearest to the number, ties to even, rounded once from its exact value; a
// magnitude below the smallest subnormal's half gives a zero. False when the number lies beyond
// the largest float32 (it would round to an infinity).
bool NearestFloat(const DecimalNumber& number, float& value);

// Reads a whole number back: an optional '-' and decimal digits, as IntegerText writes them, or
// followed by `decimalSeparator` and decimals that are all '0' ("12.0", "-2.00"), as tools that
// hold every number as a float write them; within the int32 range. False otherwise: a fraction
// ("1.5"), another separator, an exponent, a '+', spaces.
bool ReadWholeNumberText(std::string_view text, char decimalSeparator, std::int32_t& value);
