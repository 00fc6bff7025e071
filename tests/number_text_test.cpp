// Tests of the number text: integer text, the 18 working digits and both float styles.
#include "number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "reference_number_text.h"

namespace {

// A float given by its bit pattern and its texts in the plain and the general style.
struct StyleCase {
  std::uint32_t bits;
  const char* plain;
  const char* general;
};

std::string Hex(std::uint32_t bits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", bits);
  return text;
}

std::string Plain(std::uint32_t bits, char separator) {
  char text[kNumberTextCapacity];
  return {text, PlainNumberText(std::bit_cast<float>(bits), separator, text)};
}

std::string General(std::uint32_t bits, char separator) {
  char text[kNumberTextCapacity];
  return {text, GeneralNumberText(std::bit_cast<float>(bits), separator, text)};
}

void ExpectStyles(const std::vector<StyleCase>& cases, char separator) {
  for (const StyleCase& c : cases) {
    EXPECT_EQ(Plain(c.bits, separator), c.plain) << Hex(c.bits);
    EXPECT_EQ(General(c.bits, separator), c.general) << Hex(c.bits);
  }
}

TEST(NumberTextTest, WorkedExamples) {
  ExpectStyles({{0x3DCCCCCD, "0.1", "0.100000001490116"},
                {0x44BB8000, "1500", "1500"},
                {0xC0200000, "-2.5", "-2.5"},
                {0x3F000000, "0.5", "0.5"},
                {0x3F2AAAAB, "0.666667", "0.666666686534882"},
                {0x3F7FFFFE, "1", "0.99999988079071"},
                {0x3C000000, "0.007813", "0.0078125"},
                {0xBCC00000, "-0.023438", "-0.0234375"},
                {0x47F12065, "123456.789063", "123456.7890625"},
                {0x3A83126F, "0.001", "0.00100000004749745"},
                {0x38D1B717, "0.0001", "9.99999974737875E-5"},
                {0x35210FB0, "0.000001", "6.00000021222513E-7"},
                {0x34A10FB0, "0", "3.00000010611257E-7"},
                {0xB4A10FB0, "0", "-3.00000010611257E-7"},
                {0x33D6BF95, "0", "1.0000000116861E-7"},
                {0x80000000, "0", "0"},
                {0x58635FA9, "999999986991104", "999999986991104"},
                {0x5A0E1BCA, "10000000272564224", "1.00000002725642E16"},
                {0x5D5E0B6B, "999999984306749440", "9.99999984306749E17"},
                {0x5D5E0B6C, "1.00000005302623E18", "1.00000005302623E18"},
                {0x7F7FFFFF, "3.40282346638529E38", "3.40282346638529E38"}},
               '.');
}

TEST(NumberTextTest, CommaSeparatorOnlyInGeneralStyle) {
  ExpectStyles({{0x3DCCCCCD, "0.1", "0,100000001490116"},
                {0xC0200000, "-2.5", "-2,5"},
                {0x47F12065, "123456.789063", "123456,7890625"},
                {0x38D1B717, "0.0001", "9,99999974737875E-5"},
                {0x44BB8000, "1500", "1500"},
                {0x5D5E0B6C, "1.00000005302623E18", "1,00000005302623E18"}},
               ',');
}

TEST(NumberTextTest, AnySingleCharacterSeparatorIsKept) {
  ExpectStyles({{0x3DCCCCCD, "0'1", "0'100000001490116"},
                {0xC0200000, "-2'5", "-2'5"},
                {0x38D1B717, "0'0001", "9'99999974737875E-5"},
                {0x5D5E0B6C, "1'00000005302623E18", "1'00000005302623E18"}},
               '\'');
}

TEST(NumberTextTest, CarriesPastFirstDigit) {
  ExpectStyles({{0x3F7FFFFE, "1", "0.99999988079071"},
                {0x3F7FFFFF, "1", "0.999999940395355"},
                {0x3DCCCCCC, "0.1", "0.0999999940395355"},
                {0x3C23D70A, "0.01", "0.00999999977648258"},
                {0x407FFFFF, "4", "3.99999976158142"},
                {0x411FFFFF, "9.999999", "9.99999904632568"}},
               '.');
}

TEST(NumberTextTest, RoundsToZeroAtSixDecimals) {
  ExpectStyles({{0x34A10FB0, "0", "3.00000010611257E-7"},
                {0xB4A10FB0, "0", "-3.00000010611257E-7"},
                {0x350637BD, "0", "4.99999998737621E-7"},
                {0xB50637BD, "0", "-4.99999998737621E-7"},
                {0x350637BE, "0.000001", "5.0000005558104E-7"},
                {0xB5210FB0, "-0.000001", "-6.00000021222513E-7"},
                {0x00000001, "0", "1.40129846432482E-45"},
                {0x80000001, "0", "-1.40129846432482E-45"}},
               '.');
}

// Exact ties are rounded away from zero, where ties to even would round 0.0390625 down.
TEST(NumberTextTest, TiesRoundAwayFromZero) {
  ExpectStyles({{0x3D200000, "0.039063", "0.0390625"},
                {0xBD200000, "-0.039063", "-0.0390625"},
                {0x3F810000, "1.007813", "1.0078125"},
                {0x45563751, "3427.457275", "3427.45727539063"},
                {0x3F39C900, "0.725723", "0.725723266601563"},
                {0xBA9E8000, "-0.001209", "-0.00120925903320313"},
                {0x38340000, "0.000043", "4.29153442382813E-5"}},
               '.');
}

TEST(NumberTextTest, ExponentBoundaries) {
  ExpectStyles({{0x58635FA9, "999999986991104", "999999986991104"},
                {0x58635FAA, "1000000054099968", "1.00000005409997E15"},
                {0x5A0E1BC9, "9999999198822400", "9.9999991988224E15"},
                {0x5A0E1BCA, "10000000272564224", "1.00000002725642E16"},
                {0x5D5E0B6B, "999999984306749440", "9.99999984306749E17"},
                {0xDD5E0B6C, "-1.00000005302623E18", "-1.00000005302623E18"},
                {0x38D1B717, "0.0001", "9.99999974737875E-5"},
                {0x38D1B718, "0.0001", "0.000100000004749745"}},
               '.');
}

TEST(NumberTextTest, SubnormalsAndLargest) {
  ExpectStyles({{0x00000001, "0", "1.40129846432482E-45"},
                {0x007FFFFF, "0", "1.17549421069244E-38"},
                {0x807FFFFF, "0", "-1.17549421069244E-38"},
                {0x7F7FFFFF, "3.40282346638529E38", "3.40282346638529E38"},
                {0xFF7FFFFF, "-3.40282346638529E38", "-3.40282346638529E38"},
                {0x4B800001, "16777218", "16777218"}},
               '.');
}

TEST(NumberTextTest, ZerosNaNsAndInfinities) {
  ExpectStyles({{0x00000000, "0", "0"},
                {0x80000000, "0", "0"},
                {0x7FC00000, "NAN", "NAN"},
                {0x7F800001, "NAN", "NAN"},
                {0xFFC00000, "NAN", "NAN"},
                {0x7FFFFFFF, "NAN", "NAN"},
                {0x7F800000, "INF", "INF"},
                {0xFF800000, "-INF", "-INF"}},
               '.');
}

// The plain style writes no grouping, no trailing zero, no lone point and never "-0".
TEST(NumberTextTest, PlainTextShape) {
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) {
    const auto bits = static_cast<std::uint32_t>(random());
    for (const char separator : {'.', ','}) {
      const std::string text = Plain(bits, separator);
      const std::size_t point = text.find('.');
      const bool exponentForm = text.find('E') != std::string::npos;
      ASSERT_EQ(text.find(','), std::string::npos) << Hex(bits) << " " << text;
      ASSERT_NE(text, "-0") << Hex(bits);
      ASSERT_EQ(text.find('.', point == std::string::npos ? 0 : point + 1), std::string::npos)
          << Hex(bits) << " " << text;
      if (point != std::string::npos && !exponentForm) {
        ASSERT_NE(text.back(), '0') << Hex(bits) << " " << text;
        ASSERT_NE(text.back(), '.') << Hex(bits) << " " << text;
        ASSERT_LE(text.size() - point - 1, 6u) << Hex(bits) << " " << text;
      }
    }
  }
}

TEST(IntegerTextTest, SignedDecimal) {
  const struct {
    std::int32_t value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {42, "42"},
      {-1, "-1"},
      {-2147483647 - 1, "-2147483648"},
      {2147483647, "2147483647"},
      {10, "10"},
      {-1000000000, "-1000000000"},
  };
  for (const auto& c : cases) {
    char text[kNumberTextCapacity];
    EXPECT_EQ(std::string(text, IntegerText(c.value, text)), c.text);
  }
}

// Every digit count, at both ends: the writer takes one or two pairs up to four digits and
// eight digits at a time beyond.
TEST(IntegerTextTest, DigitCountsAroundEveryPowerOfTen) {
  for (std::int64_t power = 1; power <= 1000000000; power *= 10) {
    for (std::int64_t value : {power - 1, power, power + 1}) {
      for (std::int64_t sign : {1, -1}) {
        const auto number = static_cast<std::int32_t>(sign * value);
        char text[kNumberTextCapacity];
        EXPECT_EQ(std::string(text, IntegerText(number, text)), std::to_string(number));
      }
    }
  }
}

struct DigitsCase {
  std::uint32_t bits;
  int precision;
  int decimals;
  DecimalDigits::Form form;
  bool negative;
  const char* digits;
  int exponent;
};

void ExpectDigits(const std::vector<DigitsCase>& cases) {
  for (const DigitsCase& c : cases) {
    const DecimalDigits d = ToDecimalDigits(std::bit_cast<float>(c.bits), c.precision, c.decimals);
    const std::string where =
        Hex(c.bits) + " " + std::to_string(c.precision) + " " + std::to_string(c.decimals);
    EXPECT_EQ(d.form, c.form) << where;
    EXPECT_EQ(d.negative, c.negative) << where;
    EXPECT_EQ(std::string(d.digits, static_cast<std::size_t>(d.count)), c.digits) << where;
    EXPECT_EQ(d.exponent, c.exponent) << where;
  }
}

TEST(ToDecimalDigitsTest, KeepsPrecisionAndDecimals) {
  using Form = DecimalDigits::Form;
  ExpectDigits({{0x3DCCCCCD, 18, kNoDecimalLimit, Form::Finite, false, "100000001490116119", 0},
                {0x3DCCCCCD, 6, kNoDecimalLimit, Form::Finite, false, "1", 0},
                {0x47F12065, 18, 2, Form::Finite, false, "12345679", 6},
                {0xC0200000, 18, 6, Form::Finite, true, "25", 1},
                {0x3F7FFFFE, 6, kNoDecimalLimit, Form::Finite, false, "1", 1},
                {0x35210FB0, 18, 6, Form::Finite, false, "1", -5},
                {0xB4A10FB0, 18, 6, Form::Zero, false, "", 0},
                {0x00000001, 18, kNoDecimalLimit, Form::Finite, false, "140129846432481707", -44},
                {0x7F7FFFFF, 18, kNoDecimalLimit, Form::Finite, false, "34028234663852886", 39},
                {0x80000000, 18, 6, Form::Zero, false, "", 0},
                {0xFFC00000, 18, 6, Form::NaN, false, "", 0},
                {0xFF800000, 18, 6, Form::Infinity, true, "", 0}});
}

// 2^-27 and 3 * 2^-26 have 19 significant digits ending in 5: the 18th digit stays even.
TEST(ToDecimalDigitsTest, WorkingDigitsTieToEven) {
  using Form = DecimalDigits::Form;
  ExpectDigits({{0x32000000, 18, kNoDecimalLimit, Form::Finite, false, "745058059692382812", -8},
                {0x33400000, 18, kNoDecimalLimit, Form::Finite, false, "447034835815429688", -7},
                {0xB3400000, 18, kNoDecimalLimit, Form::Finite, true, "447034835815429688", -7}});
}

// ---- The sample compared with the slow exact reference.

// Random patterns beside the chosen ones (powers of ten, subnormals, ties), which hold the cases
// that go wrong; the exhaustive check (tools/number_check) takes every pattern.
constexpr int kRandomPatterns = 500000;
constexpr int kTiesPerKind = 1 << 16;

std::uint32_t BitsOf(float value) {
  return std::bit_cast<std::uint32_t>(value);
}

void AddWithNeighbours(std::vector<std::uint32_t>& patterns, std::uint32_t bits, int reach) {
  for (int offset = -reach; offset <= reach; ++offset) {
    patterns.push_back(bits + static_cast<std::uint32_t>(offset));
  }
}

// Odd m * 2^-t whose exact expansion m * 5^t has `digits` digits, so it ends in a 5 right after
// the (digits - 1)th: a tie when rounding to that many digits.
void AddDigitTies(std::vector<std::uint32_t>& patterns, std::mt19937_64& random, int digits) {
  std::uint64_t lowest = 1;
  for (int i = 1; i < digits; ++i)
    lowest *= 10;
  const std::uint64_t highest = lowest * 10 - 1;
  for (int added = 0; added < kTiesPerKind;) {
    const int t = static_cast<int>(random() % 28);
    std::uint64_t powerOfFive = 1;
    for (int i = 0; i < t; ++i)
      powerOfFive *= 5;
    const std::uint64_t low = std::max<std::uint64_t>((lowest + powerOfFive - 1) / powerOfFive, 1);
    const std::uint64_t high = std::min<std::uint64_t>(highest / powerOfFive, (1u << 24) - 1);
    if (low > high) continue;
    const std::uint64_t m = (low + random() % (high - low + 1)) | 1;
    if (m > high) continue;
    const float value = std::ldexp(static_cast<float>(m), -t);
    AddWithNeighbours(patterns, BitsOf(value) | (added % 2 == 0 ? 0 : 0x80000000u), 1);
    ++added;
  }
}

std::vector<std::uint32_t> SamplePatterns() {
  std::mt19937_64 random(20240501);
  std::vector<std::uint32_t> patterns;
  for (int i = 0; i < kRandomPatterns; ++i)
    patterns.push_back(static_cast<std::uint32_t>(random()));
  for (int power = -46; power <= 39; ++power) {
    const std::string text = "1e" + std::to_string(power);
    AddWithNeighbours(patterns, BitsOf(std::strtof(text.c_str(), nullptr)), 64);
  }
  // The lowest and highest subnormals, then a spread of the others.
  AddWithNeighbours(patterns, 0x00008000, 0x8000);
  AddWithNeighbours(patterns, 0x807F8000, 0x8000);
  for (int i = 0; i < kTiesPerKind; ++i)
    patterns.push_back(static_cast<std::uint32_t>(random() % 0x800000));
  // Ties at the sixth decimal are exactly the odd multiples of 2^-7.
  for (int i = 0; i < kTiesPerKind; ++i) {
    const auto odd = static_cast<float>((random() % (1u << 24)) | 1);
    AddWithNeighbours(patterns, BitsOf(std::ldexp(odd, -7)), 1);
  }
  AddDigitTies(patterns, random, 16);  // ties at the 15th digit
  AddDigitTies(patterns, random, 19);  // ties at the 18th digit
  return patterns;
}

// Why one pattern differs from the reference, or empty when it matches.
std::string CompareWithReference(std::uint32_t bits, char separator) {
  const float value = std::bit_cast<float>(bits);
  const ReferenceExpansion exact = ReferenceExpand(value);
  char reference[64];
  const std::string plain(reference, ReferencePlainText(exact, separator, reference));
  if (Plain(bits, separator) != plain) return "plain " + Plain(bits, separator) + " vs " + plain;
  const std::string general(reference, ReferenceGeneralText(exact, separator, reference));
  if (General(bits, separator) != general) {
    return "general " + General(bits, separator) + " vs " + general;
  }
  if (exact.kind != ReferenceExpansion::Kind::Finite) return {};
  const DecimalDigits fast = ToDecimalDigits(value, 18, kNoDecimalLimit);
  const ReferenceDigits working = ReferenceRound(exact, 18, kNoDecimalLimit);
  const std::string fastDigits(fast.digits, static_cast<std::size_t>(fast.count));
  const std::string referenceDigits(working.digits, static_cast<std::size_t>(working.length));
  if (fastDigits != referenceDigits || fast.exponent != working.exponent) {
    return "18 digits " + fastDigits + "E" + std::to_string(fast.exponent) + " vs " +
           referenceDigits + "E" + std::to_string(working.exponent);
  }
  return {};
}

TEST(NumberTextTest, MatchesExactReferenceOnSample) {
  const std::vector<std::uint32_t> patterns = SamplePatterns();
  int failures = 0;
  for (std::size_t i = 0; i < patterns.size() && failures < 10; ++i) {
    const char separator = i % 8 == 0 ? ',' : '.';
    const std::string difference = CompareWithReference(patterns[i], separator);
    if (!difference.empty()) {
      ADD_FAILURE() << Hex(patterns[i]) << " '" << separator << "' " << difference;
      ++failures;
    }
  }
}

// ---- Number text read back.

std::uint32_t ReadBack(std::string_view text, char separator) {
  DecimalNumber number;
  float value = 0.0f;
  if (!ReadNumberText(text, separator, number) || !NearestFloat(number, value)) return 0xDEADBEEF;
  return std::bit_cast<std::uint32_t>(value);
}

TEST(ReadNumberTextTest, TakesTheTablesNumbersAndNothingElse) {
  const struct {
    const char* text;
    const char* sameNumber;  // another text of the same number, or null when refused
  } cases[] = {
      {"12.5", "12.50"},    {"1.5E-5", "1.5e-05"}, {"1E+3", "1000"},   {".5", "0.5"},
      {"5.", "5"},          {"-0", "0"},           {"0.000", "0E9"},   {"-2.5", "-25E-1"},
      {"INF", "INF"},       {"-INF", "-INF"},      {"NAN", "NAN"},     {"", nullptr},
      {"-", nullptr},       {".", nullptr},        {"1.2.3", nullptr}, {"1,5", nullptr},
      {" 1", nullptr},      {"1 ", nullptr},       {"+1", nullptr},    {"1e", nullptr},
      {"1e+", nullptr},     {"0x10", nullptr},     {"inf", nullptr},   {"-NAN", nullptr},
      {"1.5E-5x", nullptr}, {"1 000", nullptr},
  };
  for (const auto& c : cases) {
    DecimalNumber number;
    DecimalNumber same;
    EXPECT_EQ(ReadNumberText(c.text, '.', number), c.sameNumber != nullptr) << c.text;
    if (c.sameNumber == nullptr) continue;
    EXPECT_TRUE(ReadNumberText(c.sameNumber, '.', same)) << c.sameNumber;
    EXPECT_TRUE(number == same) << c.text << " vs " << c.sameNumber;
  }
  DecimalNumber comma;
  EXPECT_TRUE(ReadNumberText("2,5", ',', comma));
  DecimalNumber a;
  DecimalNumber b;
  ASSERT_TRUE(ReadNumberText("12.5", '.', a) && ReadNumberText("12.05", '.', b));
  EXPECT_FALSE(a == b);
}

TEST(ReadNumberTextTest, RoundsOnceToTheNearestFloatTiesToEven) {
  const struct {
    const char* text;
    std::uint32_t bits;
  } cases[] = {
      {"0.1", 0x3DCCCCCD},
      {"16777217", 0x4B800000},               // a tie: to the even 16777216
      {"16777219", 0x4B800002},               // a tie: to the even 16777220
      {"16777217.000000000001", 0x4B800001},  // just past the tie
      // Just past the tie 1 + 2^-24: rounded through double it would land on the tie and then
      // go to 1.
      {"1.00000005960464477539062500001", 0x3F800001},
      {"3.4028235e38", 0x7F7FFFFF},
      {"3.4028236e38", 0xDEADBEEF},  // rounds to an infinity: refused
      {"1e-46", 0x00000000},         // below half the smallest subnormal
      {"-1e-46", 0x80000000},
      {"1.4e-45", 0x00000001},
      {"1e-999999999999", 0x00000000},
      {"1e999999999999", 0xDEADBEEF},
      {"INF", 0x7F800000},
      {"-INF", 0xFF800000},
      {"NAN", 0x7FC00000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Hex(ReadBack(c.text, '.')), Hex(c.bits)) << c.text;
}

// Every general text reads back as its float, bit for bit; every plain text reads back as a
// float that the plain style writes as the same text.
TEST(ReadNumberTextTest, EveryTextOfBothStylesReadsBack) {
  const std::vector<std::uint32_t> patterns = SamplePatterns();
  int failures = 0;
  for (std::size_t i = 0; i < patterns.size() && failures < 10; i += 7) {
    const std::uint32_t bits = patterns[i];
    if (std::isnan(std::bit_cast<float>(bits))) continue;
    const char separator = i % 2 == 0 ? ',' : '.';
    const std::string general = General(bits, separator);
    const std::string plain = Plain(bits, separator);
    const bool generalBack = ReadBack(general, separator) == bits;
    const bool plainBack = Plain(ReadBack(plain, '.'), separator) == plain;
    if (!generalBack || !plainBack) {
      ADD_FAILURE() << Hex(bits) << " " << general << " " << plain;
      ++failures;
    }
  }
}

TEST(ReadWholeNumberTextTest, SignedDecimalsInRangeWithOnlyZeroDecimals) {
  const struct {
    const char* text;
    char separator;
    bool read;
    std::int32_t value;
  } cases[] = {
      {"0", '.', true, 0},
      {"-1", '.', true, -1},
      {"2147483647", '.', true, 2147483647},
      {"-2147483648", '.', true, -2147483647 - 1},
      {"007", '.', true, 7},
      {"1.0", '.', true, 1},
      {"3.00", '.', true, 3},
      {"-2.0", '.', true, -2},
      {"0.0", '.', true, 0},
      {"-0.0", '.', true, 0},
      {"2147483647.0", '.', true, 2147483647},
      {"1,0", ',', true, 1},
      {"2147483648", '.', false, 0},
      {"-2147483649.0", '.', false, 0},
      {"1.5", '.', false, 0},
      {"1.05", '.', false, 0},
      {"1,0", '.', false, 0},  // another separator: 1,000 may be a thousand
      {"1.0", ',', false, 0},
      {"1.0.0", '.', false, 0},
      {"1.", '.', false, 0},
      {".0", '.', false, 0},
      {"1E2", '.', false, 0},
      {"+1", '.', false, 0},
      {"", '.', false, 0},
      {"-", '.', false, 0},
      {" 1", '.', false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t value = 12345;
    EXPECT_EQ(ReadWholeNumberText(c.text, c.separator, value), c.read) << c.text;
    if (c.read) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
