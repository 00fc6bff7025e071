// Tests of the value decoders and their inverses, on field nodes held in memory.
#include "field_codec.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "node_writer.h"
#include "run_failure.h"

namespace {

using enum Decoder;

// The names of a NamedNumber's values as a catalogue gives them (the spell prototypes' schools).
constexpr std::string_view kSchoolNames[] = {"elemental", "senses", "astral"};
constexpr NumberNames kSchools = {"a school", kSchoolNames};
constexpr FieldRule kSchool{.decoder = NamedNumber, .lead = Lead::Tab, .numberNames = &kSchools};

struct Decoded {
  std::string line;
  std::int64_t consumed = 0;  // bytes the decoder moved past the payload start
  int failure = -1;           // the run's error number when the decoder ended it
};

// Decodes one field node whose stored bytes are `node`, with trailing bytes after it so that
// over-reads are seen, and finishes the row.
Decoded Decode(const FieldRule& rule, const std::string& node, char separator = '.') {
  const std::string bytes = node + std::string(8, '\x7F');
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  RowBuilder row;
  row.decimalSeparator = separator;
  Decoded decoded;
  try {
    const NodeHeader field = ReadNodeHeader(reader);
    DecodeField(rule, reader, field, row);
    decoded.consumed = Position(reader) - field.payloadStart;
  } catch (const IoFailure& failure) {
    decoded.failure = failure.errorNumber;
  }
  decoded.line = std::string(FinishRow(row));
  return decoded;
}

Decoded Decode(const FieldRule& rule, std::string_view payload, LengthForm form) {
  return Decode(rule, NodeBytes(0, payload, form));
}

Decoded DecodePayload(const FieldRule& rule, std::string_view payload) {
  return Decode(rule, NodeBytes(0, payload));
}

std::string Raw(std::initializer_list<int> bytes) {
  std::string raw;
  for (int byte : bytes)
    raw += static_cast<char>(byte);
  return raw;
}

struct TextCase {
  FieldRule rule;
  std::string payload;
  std::string line;
  std::int64_t consumed;
};

TEST(FieldCodecTest, TextValuesAndListsWithTheirLeadsAndJoiners) {
  const FieldRule listTab{TextOrList, Lead::Tab, Joiner::CommaSpace};
  const FieldRule listComma{TextOrList, Lead::None, Joiner::Comma};
  const FieldRule valueTab{TextValue, Lead::Tab};
  const std::string threeElements = Raw({1, 4, 'a', 0, 1, 2, 0, 1, 4, 'b', 0});
  const TextCase cases[] = {
      {valueTab, TextPayload("Fire"), "\tFire", 5},
      {{TextValue, Lead::None}, TextPayload("Fire"), "Fire", 5},
      {listTab, TextPayload("Fire"), "\tFire", 5},
      {listTab, "", "\t", 0},
      {valueTab, "", "\t", 0},
      {listTab, std::string("Fi\0re\0", 6), "\tFire", 6},  // NULs removed, pieces joined
      {listTab, threeElements, "\ta, , b", 11},            // the empty element keeps its joiner
      {listComma, threeElements, "a,,b", 11},
      {listComma, TextListPayload({"a", "b"}), "a,b", 8},
      {listComma, Raw({1, 0, 1, 4, 'z', 0}), ",z", 6},       // length byte 0: an empty element
      {listComma, Raw({1, 5, 'x', 'y', 1, 2, 0}), "x,", 7},  // low bit ignored: 2 bytes
      {valueTab, threeElements, "\t\x01\x04\x61\x01\x02\x01\x04\x62", 11},  // no list test
      {listComma, Raw({1, 2, 0}), "", 3},                                   // one empty element
      {listComma, Raw({1, 6, 'a', 'b', 'c'}), "ab", 5},  // last byte dropped, not a NUL
  };
  for (const TextCase& test : cases) {
    const Decoded decoded = DecodePayload(test.rule, test.payload);
    EXPECT_EQ(decoded.line, test.line) << test.payload;
    EXPECT_EQ(decoded.consumed, test.consumed) << test.payload;
    EXPECT_EQ(decoded.failure, -1);
  }
}

TEST(FieldCodecTest, ListElementRunningPastThePayloadIsReadWhole) {
  // The payload says 3 bytes, the element says 4: the element is read whole, and the list ends.
  const std::string node = Raw({0, 6, 1, 8, 'a', 'b', 'c', 0, 1, 4, 'z', 0});
  const Decoded decoded = Decode({TextOrList, Lead::None, Joiner::Comma}, node);
  EXPECT_EQ(decoded.line, "abc");
  EXPECT_EQ(decoded.consumed, 6);
}

TEST(FieldCodecTest, ManyElementsAndLongTextsComeOutWhole) {
  std::vector<std::string> letters;
  std::string joined;
  for (int index = 0; index < 600; ++index) {
    letters.emplace_back(1, static_cast<char>('a' + index % 26));
    if (index > 0) joined += ',';
    joined += letters.back();
  }
  const Decoded list =
      Decode({TextOrList, Lead::None, Joiner::Comma}, NodeBytes(0, TextListPayload(letters)));
  EXPECT_EQ(list.line, joined);

  std::string longText(5000, 'x');
  longText[2047] = '\0';
  longText[2048] = 'y';
  std::string expected = longText;
  expected.erase(2047, 1);
  const Decoded text = DecodePayload({TextValue, Lead::Tab}, TextPayload(longText));
  EXPECT_EQ(text.line, "\t" + expected);
  EXPECT_EQ(text.consumed, 5001);
}

TEST(FieldCodecTest, TextsRunningPastTheFileEndFail) {
  std::string node = NodeBytes(0, TextPayload("abcdefghijklmnop"));
  node.resize(8);
  for (const FieldRule& rule : {FieldRule{TextValue}, FieldRule{TextOrList}, FieldRule{Discard}}) {
    const std::string bytes = node;
    NodeReader reader =
        MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    RowBuilder row;
    const NodeHeader field = ReadNodeHeader(reader);
    try {
      DecodeField(rule, reader, field, row);
      ADD_FAILURE() << "decoded past the end";
    } catch (const IoFailure& failure) {
      EXPECT_EQ(failure.errorNumber, kErrorReadBeyondEnd);
    }
  }
  // A huge stored length fails at once rather than making room for it.
  std::string huge;
  huge += '\0';
  huge += Raw({0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_EQ(Decode({TextValue}, huge).failure, kErrorReadBeyondEnd);
}

struct NumberCase {
  FieldRule rule;
  std::string payload;
  std::string line;
};

TEST(FieldCodecTest, IntegersAndNamedNumbers) {
  const FieldRule integer{Int32, Lead::Tab};
  const FieldRule school = kSchool;
  const NumberCase cases[] = {
      {integer, Raw({0xFF, 0xFF, 0xFF, 0xFF}), "\t-1"},
      {integer, Raw({0, 0, 0, 0x80}), "\t-2147483648"},
      {integer, Raw({0xFF, 0xFF, 0xFF, 0x7F}), "\t2147483647"},
      {integer, Raw({0x2A, 0, 0, 0}), "\t42"},
      {{Int32, Lead::None}, Raw({0, 0, 0, 0}), "0"},
      {school, Int32Payload(0), "\telemental"},
      {school, Int32Payload(1), "\tsenses"},
      {school, Int32Payload(2), "\tastral"},
      {school, Int32Payload(3), "\t"},
      {school, Int32Payload(-1), "\t"},
      {school, Int32Payload(256), "\t"},
      {{NamedNumber, Lead::Tab}, Int32Payload(0), "\t"},  // a rule without names
  };
  for (const NumberCase& test : cases) {
    const Decoded decoded = DecodePayload(test.rule, test.payload);
    EXPECT_EQ(decoded.line, test.line);
    EXPECT_EQ(decoded.consumed, 4);
  }
}

TEST(FieldCodecTest, NumberPayloadsOfOtherLengthsConsumeExactlyTheirLength) {
  const FieldRule integer{Int32, Lead::Tab};
  const struct {
    std::string payload;
    std::string line;
  } cases[] = {
      {"", "\t0"},
      {Raw({0x2A}), "\t42"},
      {Raw({0xFF, 0xFF}), "\t65535"},
      {Raw({0xFF, 0xFF, 0xFF}), "\t16777215"},
      {Raw({0x2A, 0, 0, 0, 0x55, 0x66}), "\t42"},
      {Raw({1, 0, 0, 0}) + std::string(300, 'x'), "\t1"},
  };
  for (const auto& test : cases) {
    const Decoded decoded = DecodePayload(integer, test.payload);
    EXPECT_EQ(decoded.line, test.line);
    EXPECT_EQ(decoded.consumed, static_cast<std::int64_t>(test.payload.size()));
  }
  const Decoded school = DecodePayload(kSchool, Raw({2}));
  EXPECT_EQ(school.line, "\tastral");
  const Decoded colour = DecodePayload({ColourChannel, Lead::Tab}, Raw({0, 0}));
  EXPECT_EQ(colour.line, "\t0");
  EXPECT_EQ(colour.consumed, 2);
}

TEST(FieldCodecTest, FloatsInBothStylesWithTheSeparator) {
  const std::string half = Float32Payload(2.5f);
  EXPECT_EQ(DecodePayload({FloatPlain, Lead::Tab}, half).line, "\t2.5");
  EXPECT_EQ(DecodePayload({FloatGeneral, Lead::Tab}, half).line, "\t2.5");
  EXPECT_EQ(Decode({FloatPlain, Lead::Tab}, NodeBytes(0, half), ',').line, "\t2.5");
  EXPECT_EQ(Decode({FloatGeneral, Lead::Tab}, NodeBytes(0, half), ',').line, "\t2,5");
  EXPECT_EQ(DecodePayload({FloatGeneral, Lead::None}, Float32BitsPayload(0x3DCCCCCD)).line,
            "0.100000001490116");
}

TEST(FieldCodecTest, ColourChannelsRoundTiesToEven) {
  const struct {
    std::uint32_t bits;
    std::string text;
  } cases[] = {
      {0x3F000000, "128"},          // 0.5 -> 127.5
      {0x3FC00000, "382"},          // 1.5 -> 382.5
      {0x40200000, "638"},          // 2.5 -> 637.5
      {0xBF000000, "-128"},         // -0.5 -> -127.5
      {0x3F800000, "255"},          // 1.0
      {0x3DCCCCCD, "26"},           // nearest to 0.1
      {0x3E99999A, "77"},           // nearest to 0.3
      {0x00000000, "0"},            // 0
      {0x80000000, "0"},            // -0
      {0x4B000000, "2139095040"},   // 2^23 * 255, still in range
      {0x4B010000, "2147483647"},   // beyond the range: the upper bound
      {0xCB010000, "-2147483648"},  // beyond the range: the lower bound
      {0x7F800000, "2147483647"},   // infinity
      {0xFF800000, "-2147483648"},  // negative infinity
      {0x7FC00000, "0"},            // NaN
      {0x7F800001, "0"},            // signalling NaN
  };
  for (const auto& test : cases) {
    EXPECT_EQ(DecodePayload({ColourChannel, Lead::None}, Float32BitsPayload(test.bits)).line,
              test.text)
        << std::hex << test.bits;
  }
}

TEST(FieldCodecTest, ThreeChannelsShareOneColumn) {
  const std::string bytes = NodeBytes(23, Float32Payload(1.0f)) +
                            NodeBytes(24, Float32Payload(0.5f)) +
                            NodeBytes(25, Float32Payload(0.0f));
  NodeReader reader =
      MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  RowBuilder row;
  for (Lead lead : {Lead::Tab, Lead::Comma, Lead::Comma}) {
    const NodeHeader field = ReadNodeHeader(reader);
    DecodeField({ColourChannel, lead}, reader, field, row);
  }
  EXPECT_EQ(FinishRow(row), "\t255,128,0");
}

TEST(FieldCodecTest, ShopFlagsAndQuintuplesConsumeTheirOwnSize) {
  const FieldRule flags{ShopFlags, Lead::Tab};
  const NumberCase cases[] = {
      {flags, ShopFlagsPayload(0x1F), "\t1\t1\t1\t1\t1"},
      {flags, ShopFlagsPayload(0x00), "\t\t\t\t\t"},
      {flags, ShopFlagsPayload(0x05), "\t1\t\t1\t\t"},
      {flags, ShopFlagsPayload(0xE0), "\t\t\t\t\t"},  // bits 5 to 7 ignored
      {flags, ShopFlagsPayload(0x10), "\t\t\t\t\t1"},
      {{ByteQuintuple}, ByteQuintuplePayload({0, 1, 255, 16, 5}), "\t0\t1\t255\t16\t5"},
  };
  for (const NumberCase& test : cases) {
    EXPECT_EQ(DecodePayload(test.rule, test.payload).line, test.line);
  }
  // The stored length does not matter: 4 and 5 bytes are taken.
  EXPECT_EQ(Decode(flags, Raw({0x01}), LengthForm::Short).consumed, 4);
  EXPECT_EQ(Decode(flags, std::string(9, '\x02'), LengthForm::Short).consumed, 4);
  EXPECT_EQ(Decode({ByteQuintuple}, Raw({7}), LengthForm::Short).line, "\t7\t127\t127\t127\t127");
  EXPECT_EQ(Decode({ByteQuintuple}, Raw({7}), LengthForm::Short).consumed, 5);
}

TEST(FieldCodecTest, SkipMovesAndDiscardReadsWithoutText) {
  const Decoded skipped = DecodePayload({Skip, Lead::Tab}, "abcdef");
  EXPECT_EQ(skipped.line, "");
  EXPECT_EQ(skipped.consumed, 6);
  const Decoded discarded = DecodePayload({Discard, Lead::Tab}, "abcdef");
  EXPECT_EQ(discarded.line, "");
  EXPECT_EQ(discarded.consumed, 6);
  // Skipping past the end of the file is only a move; discarding there is a read.
  std::string beyond;
  beyond += '\0';
  beyond += Raw({0x41, 0, 0, 0});  // 32 bytes, none present but the trailing 8
  EXPECT_EQ(Decode({Skip}, beyond).failure, -1);
  EXPECT_EQ(Decode({Discard}, beyond).failure, kErrorReadBeyondEnd);
}

TEST(FieldCodecTest, NegativeLengthsConsumeNothing) {
  std::string node;
  node += '\0';
  node += Raw({0xFF, 0xFF, 0xFF, 0xFF});
  for (Decoder decoder : {TextValue, TextOrList, Int32, FloatPlain, Skip, Discard}) {
    const Decoded decoded = Decode({decoder, Lead::Tab}, node);
    EXPECT_EQ(decoded.consumed, 0);
    EXPECT_EQ(decoded.failure, -1);
  }
}

// ---- Field texts back into payloads.

struct Encoded {
  bool unchanged = false;  // the text shows the stored value: the stored bytes stay
  bool stored = false;
  EncodedField field;
  FieldProblem problem;
};

// `text` (lead included) for a field whose stored payload was `original`, as a record is
// rebuilt with it: kept when it shows the stored value, otherwise encoded.
Encoded Encode(const FieldRule& rule, std::string_view original, std::string_view text,
               bool withoutHiddenBits = false, char separator = '.') {
  Encoded encoded;
  const std::string originalText = Decode(rule, NodeBytes(0, original), separator).line;
  encoded.unchanged = ShowsStoredValue(rule, originalText, original, text, separator);
  encoded.stored = encoded.unchanged || EncodeField(rule, original, withoutHiddenBits, text,
                                                    separator, encoded.field, encoded.problem);
  return encoded;
}

TEST(EncodeFieldTest, EachDecoderReadsItsTextBack) {
  const FieldRule list{TextOrList, Lead::Tab, Joiner::CommaSpace};
  const struct {
    FieldRule rule;
    std::string original;
    std::string text;
    std::string payload;  // empty: unchanged
    bool rounded;
  } cases[] = {
      {{TextValue, Lead::None}, TextPayload("old"), "new", TextPayload("new"), false},
      {{TextValue, Lead::Tab}, "old", "\tnew", "new", false},  // no NUL kept none
      {list, TextListPayload({"a"}), "\tb, c", TextListPayload({"b", "c"}), false},
      {list, TextListPayload({"a"}), "\t", TextListPayload({""}), false},
      {{TextOrList, Lead::Tab, Joiner::Comma},
       TextPayload("x"),
       "\ty,z",
       TextPayload("y,z"),
       false},
      {{Int32, Lead::Tab}, Int32Payload(1), "\t-2147483648", Int32Payload(-2147483647 - 1), false},
      {{Int32, Lead::Tab}, Int32Payload(7), "\t007", "", false},         // the same number
      {{Int32, Lead::Tab}, Raw({7, 0}), "\t8", Int32Payload(8), false},  // now 4 bytes long
      {kSchool, Int32Payload(0), "\tastral", Int32Payload(2), false},
      {kSchool, Int32Payload(9), "\t", "", false},  // empty for any other
      {{FloatPlain, Lead::Tab}, Float32Payload(1.0f), "\t12.5", Float32Payload(12.5f), false},
      {{FloatPlain, Lead::Tab}, Float32BitsPayload(0x3DCCCCCE), "\t0.10", "", false},
      {{FloatPlain, Lead::Tab},
       Float32Payload(0.0f),
       "\t0.1234567",
       Float32BitsPayload(0x3DFCD6DE),
       true},
      {{FloatGeneral, Lead::Tab},
       Float32Payload(0.0f),
       "\t0.100000001490116",
       Float32BitsPayload(0x3DCCCCCD),
       false},
      {{FloatGeneral, Lead::None},
       Float32Payload(0.0f),
       "-INF",
       Float32BitsPayload(0xFF800000),
       false},
      {{ColourChannel, Lead::Comma},
       Float32Payload(0.0f),
       ",128",
       Float32BitsPayload(0x3F008081),
       false},
      {{ShopFlags, Lead::Tab},
       Raw({0xE1, 9, 8, 7}),
       "\t\t1\t0\t\t1",
       Raw({0xF2, 9, 8, 7}),
       false},  // "0" reads back as empty, the same flag
      {{ShopFlags, Lead::Tab}, ShopFlagsPayload(0), "\t0\t\t\t\t", "", false},
      {{ByteQuintuple},
       ByteQuintuplePayload({1, 2, 3, 4, 5}),
       "\t0\t255\t3\t4\t5",
       ByteQuintuplePayload({0, 255, 3, 4, 5}),
       false},
  };
  for (const auto& c : cases) {
    const Encoded encoded = Encode(c.rule, c.original, c.text);
    ASSERT_TRUE(encoded.stored) << c.text << ": " << encoded.problem.why;
    EXPECT_EQ(encoded.unchanged, c.payload.empty()) << c.text;
    if (c.payload.empty()) continue;
    EXPECT_EQ(encoded.field.payload, c.payload) << c.text;
    EXPECT_EQ(encoded.field.rounded, c.rounded) << c.text;
  }
  // A new record takes no hidden flag bits from the record it is built on.
  EXPECT_EQ(Encode({ShopFlags, Lead::Tab}, Raw({0xE0, 9, 8, 7}), "\t1\t\t\t\t", true).field.payload,
            ShopFlagsPayload(1));
}

// A float cell keeps the stored bytes when its number rounds once to exactly the stored bits,
// whatever digits it shows; a number that rounds elsewhere is stored and noted.
TEST(EncodeFieldTest, NumbersRoundingToTheStoredFloatKeepIt) {
  const FieldRule plain{FloatPlain, Lead::Tab};
  const FieldRule general{FloatGeneral, Lead::Tab};
  const struct {
    FieldRule rule;
    std::string original;
    std::string text;
    std::string payload;  // empty: unchanged
    bool rounded;
  } cases[] = {
      {general, Float32BitsPayload(0x45DDF95C), "\t7103.16992", "", false},  // 7103.169921875
      {plain, Float32BitsPayload(0x45DDF95C), "\t7103.17", "", false},       // shows 7103.169922
      {plain, Float32BitsPayload(0x3DFCD6DE), "\t0.1234567", "", false},     // shows 0.123457
      {general, Float32BitsPayload(0x3F2AAAB0), "\t6.6666698E-1", "", false},
      {general, Float32BitsPayload(0x45DDF95C), "\t7103.169", Float32BitsPayload(0x45DDF95A), true},
      {plain, Float32BitsPayload(0x3DFCD6DE), "\t0.1234568", Float32BitsPayload(0x3DFCD6EB), true},
      // Zeros by the sign of their bits, NaN as the one NaN that "NAN" is stored as.
      {general, Float32BitsPayload(0x80000000), "\t-1E-50", "", false},
      {general, Float32BitsPayload(0x80000000), "\t0", "", false},  // shows 0
      {general, Float32Payload(0.0f), "\t-1E-50", Float32BitsPayload(0x80000000), true},
      {general, Float32BitsPayload(0x7FC00001), "\tNAN", "", false},
      {general, Float32Payload(1.0f), "\tNAN", Float32BitsPayload(0x7FC00000), false},
      // Payloads of other lengths hold the value the decoders read from them.
      {general, Raw({0, 0}), "\t1E-50", "", false},
      {general, Float32Payload(1.0f) + "xy", "\t1.00000001", "", false},
      {general, Raw({0x80, 0x3F}), "\t1", Float32Payload(1.0f), false},
      // A changed number written with more digits than it reads back with is not rounded.
      {general, Float32Payload(1.0f), "\t12.50", Float32Payload(12.5f), false},
  };
  for (const auto& c : cases) {
    const Encoded encoded = Encode(c.rule, c.original, c.text);
    ASSERT_TRUE(encoded.stored) << c.text << ": " << encoded.problem.why;
    EXPECT_EQ(encoded.unchanged, c.payload.empty()) << c.text;
    if (c.payload.empty()) continue;
    EXPECT_EQ(encoded.field.payload, c.payload) << c.text;
    EXPECT_EQ(encoded.field.rounded, c.rounded) << c.text;
  }
}

// Other tools write a float's shortest text or nine significant digits: both keep the stored
// bits of every finite float, in both styles. The general style tells every float apart, so
// there a neighbour's text is stored as the neighbour.
TEST(EncodeFieldTest, OtherToolsTextsOfAStoredFloatKeepIt) {
  std::mt19937 random(11);
  for (const FieldRule rule : {FieldRule{FloatPlain, Lead::Tab}, FieldRule{FloatGeneral}}) {
    for (int sample = 0; sample < 3000; ++sample) {
      const auto bits = static_cast<std::uint32_t>(random());
      const float value = std::bit_cast<float>(bits);
      const float neighbour = std::bit_cast<float>(bits + 1);
      if (!std::isfinite(value) || !std::isfinite(neighbour)) continue;
      const std::string lead(LeadText(rule));
      char text[64];
      const std::string shortest(text, std::to_chars(text, text + 64, value).ptr);
      std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
      const std::string nineDigits(text);
      for (const std::string& cell : {shortest, nineDigits}) {
        const Encoded encoded = Encode(rule, Float32BitsPayload(bits), lead + cell);
        ASSERT_TRUE(encoded.stored) << cell << ": " << encoded.problem.why;
        EXPECT_TRUE(encoded.unchanged) << cell;
      }
      if (rule.decoder != FloatGeneral) continue;
      const std::string other(text, std::to_chars(text, text + 64, neighbour).ptr);
      const Encoded encoded = Encode(rule, Float32BitsPayload(bits), lead + other);
      ASSERT_TRUE(encoded.stored) << other << ": " << encoded.problem.why;
      EXPECT_FALSE(encoded.unchanged) << other;
      EXPECT_EQ(encoded.field.payload, Float32BitsPayload(bits + 1)) << other;
    }
  }
}

// Whole-number columns read "3.0" as 3 in their table's separator: a spell table's point, a
// quest table's separator of the user. A value equal to the stored one keeps the bytes; any
// other is stored without a note; a fraction is refused as not a whole number.
TEST(EncodeFieldTest, WholeNumbersWrittenWithZeroDecimals) {
  constexpr Joiner kJoiner = Joiner::CommaSpace;
  constexpr TableStyle kPlain = TableStyle::Plain;
  const FieldRule questInteger{Int32, Lead::Tab};
  const FieldRule spellInteger{Int32, Lead::Tab, kJoiner, kPlain};
  const FieldRule flags{ShopFlags, Lead::Tab, kJoiner, kPlain};
  const FieldRule bytes{ByteQuintuple, Lead::None, kJoiner, kPlain};
  const FieldRule channel{ColourChannel, Lead::Comma, kJoiner, kPlain};
  const std::string quintuple = ByteQuintuplePayload({1, 2, 3, 4, 5});
  const struct {
    FieldRule rule;
    char separator;
    std::string original;
    std::string text;
    std::string payload;  // empty: unchanged, or refused when `why` is given
    std::string why;
    std::size_t column;
  } cases[] = {
      {questInteger, '.', Int32Payload(1), "\t1.0", "", "", 0},
      {questInteger, '.', Int32Payload(1), "\t-2.0", Int32Payload(-2), "", 0},
      {questInteger, '.', Int32Payload(1), "\t0.0", Int32Payload(0), "", 0},
      {questInteger, ',', Int32Payload(1), "\t3,00", Int32Payload(3), "", 0},
      {spellInteger, ',', Int32Payload(1), "\t3.00", Int32Payload(3), "", 0},
      {questInteger, '.', Int32Payload(1), "\t1.5", "", "is not a whole number", 0},
      {questInteger, ',', Int32Payload(1), "\t3.00", "", "is not a whole number", 0},
      {spellInteger, ',', Int32Payload(1), "\t3,00", "", "is not a whole number", 0},
      {flags, '.', Raw({0xE1, 9, 8, 7}), "\t1.0\t0.0\t\t\t", "", "", 0},
      {flags, '.', Raw({0xE1, 9, 8, 7}), "\t0.0\t1.0\t\t\t", Raw({0xE2, 9, 8, 7}), "", 0},
      {flags, '.', ShopFlagsPayload(0), "\t\t1.5\t\t\t", "", "is not a whole number", 1},
      {flags, '.', ShopFlagsPayload(0), "\t\t\t2.0\t\t", "", "is not a shop flag", 2},
      {bytes, '.', quintuple, "\t1.0\t2.0\t3.0\t4.0\t5.0", "", "", 0},
      {bytes, '.', quintuple, "\t1\t2\t3\t4\t255.0", ByteQuintuplePayload({1, 2, 3, 4, 255}), "",
       0},
      {bytes, '.', quintuple, "\t1\t2.5\t3\t4\t5", "", "is not a whole number", 1},
      {bytes, '.', quintuple, "\t1\t2\t3\t4\t256.0", "", "is not a byte", 4},
      {channel, '.', Float32BitsPayload(0x3F008081), ",128.0", "", "", 0},
      {channel, '.', Float32Payload(0.0f), ",128.0", Float32BitsPayload(0x3F008081), "", 0},
      {channel, '.', Float32Payload(0.0f), ",127.5", "", "is not a whole number", 0},
  };
  for (const auto& c : cases) {
    const Encoded encoded = Encode(c.rule, c.original, c.text, false, c.separator);
    EXPECT_EQ(encoded.stored, c.why.empty()) << c.text << ": " << encoded.problem.why;
    if (!c.why.empty()) {
      EXPECT_NE(encoded.problem.why.find(c.why), std::string::npos) << encoded.problem.why;
      EXPECT_EQ(encoded.problem.column, c.column) << c.text;
      continue;
    }
    EXPECT_EQ(encoded.unchanged, c.payload.empty()) << c.text;
    EXPECT_EQ(encoded.field.payload, c.payload) << c.text;
    EXPECT_FALSE(encoded.field.rounded) << c.text;
  }
}

// A tab, then `count` times `c`.
std::string TabThen(std::size_t count, char c) {
  std::string text(count + 1, c);
  text[0] = '\t';
  return text;
}

TEST(EncodeFieldTest, TextsThatCannotBeStoredSayWhy) {
  const FieldRule list{TextOrList, Lead::Tab, Joiner::Comma};
  const struct {
    FieldRule rule;
    std::string original;
    std::string text;
    std::string why;
    std::size_t column;
  } cases[] = {
      {{FloatPlain, Lead::Tab}, Float32Payload(1.0f), "\t2,5", "separator here is '.'", 0},
      {{FloatPlain, Lead::Tab}, Float32Payload(1.0f), "\t1e39", "beyond the largest", 0},
      {{Int32, Lead::Tab}, Int32Payload(1), "\t1.5", "not a whole number", 0},
      {kSchool, Int32Payload(1), "\t", "is not a school (elemental, senses or astral)", 0},
      {{ColourChannel, Lead::Tab}, Float32Payload(1.0f), "\tred", "not a whole number", 0},
      {{ShopFlags, Lead::Tab}, ShopFlagsPayload(0), "\t\t\tx\t\t", "(a shop flag, empty or 1)", 2},
      {{ShopFlags, Lead::Tab}, ShopFlagsPayload(0), "\t1", "not five shop columns", 0},
      {{ByteQuintuple}, ByteQuintuplePayload({}), "\t1\t2\t3\t4\t-1", "not a byte", 4},
      {list, TextListPayload({"a"}), TabThen(127, 'x'), "at most 126", 0},
      {list, TextPayload("a"), "\t\x01\x09", "begins with the byte 01", 0},
      {{TextValue, Lead::Tab}, TextPayload("a"), std::string("\tb\0c", 4), "NUL byte", 0},
      {{Int32, Lead::Tab}, Int32Payload(1), "2", "lost the separator", 0},
  };
  for (const auto& c : cases) {
    const Encoded encoded = Encode(c.rule, c.original, c.text);
    EXPECT_FALSE(encoded.stored) << c.text;
    EXPECT_NE(encoded.problem.why.find(c.why), std::string::npos) << encoded.problem.why;
    EXPECT_EQ(encoded.problem.column, c.column) << c.text;
  }
}

// Whatever a decoder writes reads back as the same text, and as the same bytes where the text
// shows all of them: integers, general floats, quintuples, flags without hidden bits.
TEST(EncodeFieldTest, DecodedTextsEncodeBackToTheirBytes) {
  std::mt19937 random(7);
  const struct {
    FieldRule rule;
    bool sameBytes;
  } rules[] = {
      {{Int32, Lead::Tab}, true},
      {{FloatGeneral, Lead::Tab}, true},
      {{FloatPlain, Lead::Tab}, false},
      {{ColourChannel, Lead::Comma}, false},
      {kSchool, false},
      {{ShopFlags, Lead::Tab}, true},
      {{ByteQuintuple}, true},
  };
  for (const auto& [rule, sameBytes] : rules) {
    for (int sample = 0; sample < 3000; ++sample) {
      auto bits = static_cast<std::uint32_t>(random());
      if (rule.decoder == ShopFlags) bits &= 0x1F;
      if (rule.decoder == NamedNumber) bits %= 3;
      if (rule.decoder == ColourChannel) {
        bits = std::bit_cast<std::uint32_t>(static_cast<float>(bits % 256) / 255.0f);
      }
      if ((bits & 0x7F800000) == 0x7F800000 && (bits & 0x7FFFFF) != 0) continue;  // NaNs
      std::string payload = Float32BitsPayload(bits);
      if (rule.decoder == ByteQuintuple) payload += static_cast<char>(bits >> 3);
      const std::string text = DecodePayload(rule, payload).line;
      const std::string zero = Raw({0, 0, 0, 0, 0});
      const Encoded encoded = Encode(rule, zero, text, true);
      ASSERT_TRUE(encoded.stored) << text << ": " << encoded.problem.why;
      if (encoded.unchanged) {  // the text shows the value of the zero bytes
        EXPECT_EQ(text, DecodePayload(rule, zero).line);
        continue;
      }
      EXPECT_EQ(encoded.field.readBack, text);
      if (sameBytes) {
        EXPECT_EQ(encoded.field.payload, payload) << text;
      }
    }
  }
}

}  // namespace
