// The value decoders and their inverses.
#include "field_codec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "message_text.h"
#include "node_writer.h"
#include "number_text.h"
#include "run_failure.h"
#include "split_text.h"

namespace {

// The most row room a field takes beyond its payload's bytes. A text list appends its lead and
// no more than the bytes its elements take, which reach at most 1 + 127 bytes past its payload
// (kHeldRecordMargin); that is more than the room of a lead and a number text, or of a
// quintuple's five numbers.
constexpr std::size_t kMostFieldTextBeyondPayload = 1 + kHeldRecordMargin;
static_assert(kMostFieldTextBeyondPayload >= 4 * 4 + 1 + kNumberTextCapacity);

// What the decoders do with a row: take room for a piece of text, keep what they wrote there,
// append a text, append a payload's bytes. A RowBuilder keeps it all; a RowWithoutText writes
// pieces into its scratch, keeps nothing and passes a payload's bytes over.

// Room for `count` more bytes of a field's text: made here for a field read with checks;
// reserved once for the whole record when it is held (RowRoomOfRecord). A row without text
// hands out its scratch, for a lead or a number text (kMostPieceOfFieldText) only.
char* FieldSpace(const NodeReader&, RowBuilder& row, std::size_t count) {
  return RowSpace(row, count);
}
char* FieldSpace(const HeldRecord&, RowBuilder& row, std::size_t) {
  return row.bytes.get() + row.size;
}
template <typename Reader>
char* FieldSpace(const Reader&, RowWithoutText& row, std::size_t) {
  return row.scratch;
}
static_assert(kMostPieceOfFieldText >= 10, "a lead and the shop flags' columns fit a scratch");

// Keeps the `count` bytes written at FieldSpace.
void KeepWritten(RowBuilder& row, std::size_t count) {
  row.size += count;
}
void KeepWritten(RowWithoutText&, std::size_t) {}

template <typename Reader>
void AppendFieldText(const Reader& reader, RowBuilder& row, std::string_view text) {
  std::memcpy(FieldSpace(reader, row, text.size()), text.data(), text.size());
  row.size += text.size();
}
template <typename Reader>
void AppendFieldText(const Reader&, RowWithoutText&, std::string_view) {}

// Writes the lead at `out` (a byte that is not counted for None); returns the bytes written.
std::size_t PutLead(char* out, Lead lead) {
  *out = static_cast<char>(lead);
  return lead == Lead::None ? 0 : 1;
}

template <typename Reader, typename Row>
void AppendLead(const Reader& reader, Row& row, Lead lead) {
  KeepWritten(row, PutLead(FieldSpace(reader, row, 1), lead));
}

std::string_view JoinerText(Joiner joiner) {
  return joiner == Joiner::Comma ? "," : ", ";
}

// Appends the next `count` payload bytes as they are. A text's terminating NUL is left out at
// once; the finished row loses every other NUL.
template <typename Reader>
void AppendPayloadBytes(Reader& reader, std::int64_t count, RowBuilder& row) {
  if (count <= 0) return;
  const auto size = static_cast<std::size_t>(count);
  RequireAvailable(reader, count);
  char* out = FieldSpace(reader, row, size);
  ReadBytes(reader, size, reinterpret_cast<std::uint8_t*>(out));
  row.size += out[size - 1] == '\0' ? size - 1 : size;
}
// A row without text consumes them as a read would, failing where a read would fail.
template <typename Reader>
void AppendPayloadBytes(Reader& reader, std::int64_t count, RowWithoutText&) {
  DiscardBytes(reader, count);
}

// The 32-bit value of a number field of a length other than 4, consuming exactly that length.
template <typename Reader>
std::uint32_t ReadNumberValueOfOtherLength(Reader& reader, const NodeHeader& field) {
  const std::int64_t length = PayloadLength(field);
  std::uint8_t bytes[4] = {};
  ReadBytes(reader, static_cast<std::size_t>(length < 4 ? length : 4), bytes);
  DiscardBytes(reader, length - 4);
  return LittleEndian32(bytes);
}

// The 32-bit value of a number field, consuming exactly its payload length.
template <typename Reader>
inline std::uint32_t ReadNumberValue(Reader& reader, const NodeHeader& field) {
  std::uint8_t scratch[4];
  if (field.length == 4) return LittleEndian32(ReadView(reader, 4, scratch));
  return ReadNumberValueOfOtherLength(reader, field);
}

template <typename Reader>
float ReadFloatValue(Reader& reader, const NodeHeader& field) {
  return std::bit_cast<float>(ReadNumberValue(reader, field));
}

// The lead, then the number text that `write(out)` puts at `out` and whose length it returns.
template <typename Reader, typename Row, typename WriteNumber>
void AppendNumber(const Reader& reader, Row& row, Lead lead, WriteNumber write) {
  char* out = FieldSpace(reader, row, kMostPieceOfFieldText);
  const std::size_t leadSize = PutLead(out, lead);
  KeepWritten(row, leadSize + write(out + leadSize));
}

bool Fail(FieldProblem& problem, std::size_t column, std::string_view cell, std::string why) {
  problem = {column, std::string(cell), std::move(why)};
  return false;
}

// ---- The decoders and their inverses, a pair for each decoder. Each decoder serves either
// reader and either row (DecodeField); Decoder in field_codec.h says what it consumes and
// appends. Each inverse takes the field's text after its lead and writes the payload, or says
// why it cannot (FieldProblem).

// TextValue.

template <typename Reader, typename Row>
void AppendTextValue(Reader& reader, const NodeHeader& field, Row& row, Lead lead) {
  AppendLead(reader, row, lead);
  AppendPayloadBytes(reader, PayloadLength(field), row);
}

// The inverse: the text, then a NUL when the stored text had one.
std::string EncodeTextValue(std::string_view text, bool withNul) {
  return withNul ? TextPayload(text) : std::string(text);
}

// TextOrList.

template <typename Reader, typename Row>
void AppendTextList(Reader& reader, const NodeHeader& field, Row& row, Joiner joiner) {
  const std::int64_t payloadEnd = NodeEnd(field);
  const std::string_view joinerText = JoinerText(joiner);
  bool first = true;
  std::uint8_t scratch[127];
  while (Position(reader) < payloadEnd) {
    // The element byte (unused) and the length byte, always in the short form.
    const std::size_t count = ReadView(reader, 2, scratch)[1] >> 1;
    const std::uint8_t* element = ReadView(reader, count, scratch);
    if (!first) AppendFieldText(reader, row, joinerText);
    first = false;
    // The element's last byte is its terminating NUL, dropped whatever its value.
    if (count > 1) {
      AppendFieldText(reader, row, {reinterpret_cast<const char*>(element), count - 1});
    }
  }
}

template <typename Reader, typename Row>
void AppendTextOrList(Reader& reader, const NodeHeader& field, Row& row, Lead lead, Joiner joiner) {
  AppendLead(reader, row, lead);
  const std::int64_t length = PayloadLength(field);
  if (length == 0) return;
  // The list test looks at the first payload byte and moves back to the payload start.
  std::uint8_t scratch[1];
  const std::uint8_t firstByte = ReadView(reader, 1, scratch)[0];
  SeekTo(reader, field.payloadStart);
  if (firstByte == 1) {
    AppendTextList(reader, field, row, joiner);
  } else {
    AppendPayloadBytes(reader, length, row);
  }
}

// The inverse of a list: the text split at the joiner into elements. False when an element is
// longer than 126 bytes.
bool EncodeTextList(std::string_view text, Joiner joiner, std::string& payload,
                    FieldProblem& problem) {
  payload.clear();
  for (std::string_view element : SplitAt(text, JoinerText(joiner))) {
    if (!AppendListElement(payload, element)) {
      return Fail(problem, 0, text,
                  "has a list element of " + std::to_string(element.size()) +
                      " bytes; a list element holds at most 126");
    }
  }
  return true;
}

// Int32.

template <typename Reader, typename Row>
void AppendInt32(Reader& reader, const NodeHeader& field, Row& row, Lead lead) {
  const auto value = static_cast<std::int32_t>(ReadNumberValue(reader, field));
  AppendNumber(reader, row, lead, [&](char* out) { return IntegerText(value, out); });
}

// The inverse: a signed whole number within the int32 range.
bool EncodeInt32(std::string_view text, char separator, std::string& payload,
                 FieldProblem& problem) {
  std::int32_t value = 0;
  if (!ReadWholeNumberText(text, separator, value)) {
    return Fail(problem, 0, text, "is not a whole number from -2147483648 to 2147483647");
  }
  payload = Int32Payload(value);
  return true;
}

// NamedNumber.

std::span<const std::string_view> NamesOf(const NumberNames* numberNames) {
  if (numberNames == nullptr) return {};
  return numberNames->names;
}

template <typename Reader, typename Row>
void AppendNamedNumber(Reader& reader, const NodeHeader& field, Row& row, Lead lead,
                       const NumberNames* numberNames) {
  const std::uint32_t value = ReadNumberValue(reader, field);
  const std::span<const std::string_view> names = NamesOf(numberNames);
  AppendLead(reader, row, lead);
  if (value < names.size()) AppendFieldText(reader, row, names[value]);
}

// "a school (elemental, senses or astral)": what a name is, and every name.
std::string NamesInWords(const NumberNames* numberNames) {
  const std::span<const std::string_view> names = NamesOf(numberNames);
  std::string words(numberNames == nullptr ? "a name" : numberNames->what);
  words += " (";
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (index > 0) words += index + 1 == names.size() ? " or " : ", ";
    words += names[index];
  }
  words += ')';
  return words;
}

// The inverse: one of the names.
bool EncodeNamedNumber(std::string_view text, const NumberNames* numberNames, std::string& payload,
                       FieldProblem& problem) {
  const std::span<const std::string_view> names = NamesOf(numberNames);
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (text == names[index]) {
      payload = Int32Payload(static_cast<std::int32_t>(index));
      return true;
    }
  }
  std::string why = "is not ";
  why += NamesInWords(numberNames);
  return Fail(problem, 0, text, std::move(why));
}

// FloatPlain and FloatGeneral.

template <typename Reader, typename Row>
void AppendFloatPlain(Reader& reader, const NodeHeader& field, Row& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendNumber(reader, row, lead,
               [&](char* out) { return PlainNumberText(value, row.decimalSeparator, out); });
}

template <typename Reader, typename Row>
void AppendFloatGeneral(Reader& reader, const NodeHeader& field, Row& row, Lead lead) {
  const float value = ReadFloatValue(reader, field);
  AppendNumber(reader, row, lead,
               [&](char* out) { return GeneralNumberText(value, row.decimalSeparator, out); });
}

// The inverse of both: a number in the style's separator, "INF", "-INF" or "NAN",
// rounded once to the nearest float32, ties to even.
bool EncodeFloat(std::string_view text, char separator, std::string& payload,
                 FieldProblem& problem) {
  DecimalNumber number;
  float value = 0.0f;
  if (!ReadNumberText(text, separator, number)) {
    return Fail(problem, 0, text,
                std::string("is not a number in this table (the decimal separator here is '") +
                    separator + "')");
  }
  if (!NearestFloat(number, value)) {
    return Fail(problem, 0, text, "is beyond the largest value a float32 holds");
  }
  payload = Float32BitsPayload(std::bit_cast<std::uint32_t>(value));
  return true;
}

// ColourChannel.

// The channel times 255 (exact in double precision), rounded to nearest with ties to even.
std::int32_t ColourChannelValue(float channel) {
  const double product = static_cast<double>(channel) * 255.0;
  if (std::isnan(product)) return 0;
  if (std::isinf(product)) {
    return product > 0 ? std::numeric_limits<std::int32_t>::max()
                       : std::numeric_limits<std::int32_t>::min();
  }
  const double below = std::floor(product);
  const double fraction = product - below;
  double rounded = below;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) rounded = below + 1.0;
  if (rounded >= 2147483648.0) return std::numeric_limits<std::int32_t>::max();
  if (rounded < -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(rounded);
}

template <typename Reader, typename Row>
void AppendColourChannel(Reader& reader, const NodeHeader& field, Row& row, Lead lead) {
  const std::int32_t value = ColourChannelValue(ReadFloatValue(reader, field));
  AppendNumber(reader, row, lead, [&](char* out) { return IntegerText(value, out); });
}

// The float32 nearest to n / 255, ties to even: the double quotient's float and its neighbours,
// compared by their exact distance n - 255 x f (exact in double precision).
float NearestChannelFloat(std::int32_t n) {
  const auto quotient = static_cast<float>(static_cast<double>(n) / 255.0);
  float best = quotient;
  auto distance = [n](float f) { return std::fabs(static_cast<double>(f) * 255.0 - n); };
  for (float candidate :
       {std::nextafter(quotient, -INFINITY), std::nextafter(quotient, INFINITY)}) {
    const double gap = distance(candidate);
    const bool evenTie =
        gap == distance(best) && (std::bit_cast<std::uint32_t>(candidate) & 1) == 0;
    if (gap < distance(best) || evenTie) best = candidate;
  }
  return best;
}

// The inverse: a whole number n, stored as the float32 nearest to n / 255.
bool EncodeColourChannel(std::string_view text, char separator, std::string& payload,
                         FieldProblem& problem) {
  std::int32_t value = 0;
  if (!ReadWholeNumberText(text, separator, value)) {
    return Fail(problem, 0, text, "is not a whole number (a colour channel, 0 to 255)");
  }
  payload = Float32BitsPayload(std::bit_cast<std::uint32_t>(NearestChannelFloat(value)));
  return true;
}

// ShopFlags.

template <typename Reader, typename Row>
void AppendShopFlags(Reader& reader, Row& row, Lead lead) {
  std::uint8_t scratch[4];  // the flag byte, then three bytes that carry nothing
  const std::uint8_t flags = ReadView(reader, 4, scratch)[0];
  char* const start = FieldSpace(reader, row, 10);
  char* out = start + PutLead(start, lead);
  for (int bit = 0; bit < 5; ++bit) {
    if (bit > 0) *out++ = '\t';
    if ((flags >> bit) & 1) *out++ = '1';
  }
  KeepWritten(row, static_cast<std::size_t>(out - start));
}

// Shop flag columns as the bits they stand for; false at the first column that is none.
bool ShopFlagBits(std::string_view text, char separator, std::uint8_t& bits,
                  FieldProblem& problem) {
  const std::vector<std::string_view> columns = SplitColumns(text);
  if (columns.size() != 5) {
    return Fail(problem, 0, text, "is not five shop columns");
  }
  bits = 0;
  for (std::size_t bit = 0; bit < 5; ++bit) {
    const std::string_view column = columns[bit];
    std::int32_t flag = 0;
    if (!column.empty() && !ReadWholeNumberText(column, separator, flag)) {
      return Fail(problem, bit, column, "is not a whole number (a shop flag, empty or 1)");
    }
    if (flag != 0 && flag != 1) {
      return Fail(problem, bit, column, "is not a shop flag (empty or 1)");
    }
    if (flag == 1) bits = static_cast<std::uint8_t>(bits | (1u << bit));
  }
  return true;
}

// The inverse: five tab-separated columns, each empty, 1 or 0 (read as empty); bits 5 to 7 and
// the three filler bytes are those of `kept` (zero when it is empty).
bool EncodeShopFlags(std::string_view text, char separator, std::string_view kept,
                     std::string& payload, FieldProblem& problem) {
  std::uint8_t bits = 0;
  if (!ShopFlagBits(text, separator, bits, problem)) return false;
  payload = kept.size() == 4 ? std::string(kept) : std::string(4, '\0');
  payload[0] = static_cast<char>((static_cast<std::uint8_t>(payload[0]) & 0xE0) | bits);
  return true;
}

// ByteQuintuple.

template <typename Reader, typename Row>
void AppendByteQuintuple(Reader& reader, Row& row) {
  std::uint8_t scratch[5];
  const std::uint8_t* bytes = ReadView(reader, 5, scratch);
  for (int index = 0; index < 5; ++index) {
    AppendNumber(reader, row, Lead::Tab, [&](char* out) { return IntegerText(bytes[index], out); });
  }
}

// The inverse: five tab-separated whole numbers from 0 to 255 (the text starts at the first
// of them: the tab before it is the field's lead).
bool EncodeByteQuintuple(std::string_view text, char separator, std::string& payload,
                         FieldProblem& problem) {
  const std::vector<std::string_view> columns = SplitColumns(text);
  if (columns.size() != 5) return Fail(problem, 0, text, "is not five byte columns");
  std::array<std::uint8_t, 5> values{};
  for (std::size_t index = 0; index < 5; ++index) {
    std::int32_t value = 0;
    if (!ReadWholeNumberText(columns[index], separator, value)) {
      return Fail(problem, index, columns[index], "is not a whole number (a byte, 0 to 255)");
    }
    if (value < 0 || value > 255) {
      return Fail(problem, index, columns[index], "is not a byte (0 to 255)");
    }
    values[index] = static_cast<std::uint8_t>(value);
  }
  payload = ByteQuintuplePayload(values);
  return true;
}

// Skip and Discard, which show no text to read back.

template <typename Reader>
void SkipField(Reader& reader, const NodeHeader& field) {
  SeekTo(reader, NodeEnd(field));
}

template <typename Reader>
void DiscardField(Reader& reader, const NodeHeader& field) {
  DiscardBytes(reader, PayloadLength(field));
}

// A reader over a payload held in memory, and the header of a field holding it.
NodeReader PayloadReader(std::string_view payload, NodeHeader& field) {
  field = NodeHeader{};
  field.length = static_cast<std::int32_t>(payload.size());
  return MemoryNodeReader({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()});
}

}  // namespace

std::uint32_t StoredNumberValue(std::string_view payload) {
  NodeHeader field;
  NodeReader reader = PayloadReader(payload, field);
  return ReadNumberValue(reader, field);
}

bool DecodedText(const FieldRule& rule, std::string_view payload, char decimalSeparator,
                 std::string& text) {
  NodeHeader field;
  NodeReader reader = PayloadReader(payload, field);
  // One row per thread, kept: a workbook's every float is decoded here, and a new row would be
  // allocated and freed each time.
  thread_local RowBuilder row;
  row.size = 0;
  row.decimalSeparator = decimalSeparator;
  try {
    DecodeField(rule, reader, field, row);
  } catch (const IoFailure&) {
    // Only the payload is read: a failure means the text does not read back, not a failed run.
    return false;
  }
  text = FinishRow(row);
  return true;
}

namespace {

// Whether the texts show the same value for the decoder: numbers compare by value, whole
// numbers written with decimals included, flags and bytes by the bits they stand for.
bool SameValue(const FieldRule& rule, std::string_view a, std::string_view b,
               char decimalSeparator) {
  if (a == b) return true;
  const char separator = NumberSeparator(rule, decimalSeparator);
  FieldProblem ignored;
  switch (rule.decoder) {
    case Decoder::Int32:
    case Decoder::ColourChannel: {
      std::int32_t x = 0;
      std::int32_t y = 0;
      return ReadWholeNumberText(a, separator, x) && ReadWholeNumberText(b, separator, y) && x == y;
    }
    case Decoder::FloatPlain:
    case Decoder::FloatGeneral: {
      DecimalNumber x;
      DecimalNumber y;
      return ReadNumberText(a, separator, x) && ReadNumberText(b, separator, y) && x == y;
    }
    case Decoder::ShopFlags: {
      std::uint8_t x = 0;
      std::uint8_t y = 0;
      return ShopFlagBits(a, separator, x, ignored) && ShopFlagBits(b, separator, y, ignored) &&
             x == y;
    }
    case Decoder::ByteQuintuple: {
      std::string x;
      std::string y;
      return EncodeByteQuintuple(a, separator, x, ignored) &&
             EncodeByteQuintuple(b, separator, y, ignored) && x == y;
    }
    default:
      return false;
  }
}

// Whether a float's text rounds once to exactly the bits of the stored value (a NaN only to
// the one NaN that "NAN" is stored as, a zero only to the stored zero's sign).
bool RoundsToStoredFloat(std::string_view text, char separator, std::string_view stored) {
  DecimalNumber number;
  float value = 0.0f;
  return ReadNumberText(text, separator, number) && NearestFloat(number, value) &&
         std::bit_cast<std::uint32_t>(value) == StoredNumberValue(stored);
}

// The field's text after its lead; false when the lead is not there.
bool WithoutLead(const FieldRule& rule, std::string_view text, std::string_view& value) {
  const std::string_view lead = LeadText(rule);
  if (!text.starts_with(lead)) return false;
  value = text.substr(lead.size());
  return true;
}

// The payload for the field's text after its lead.
bool EncodeValue(const FieldRule& rule, std::string_view value, std::string_view original,
                 bool withoutHiddenBits, char decimalSeparator, std::string& payload,
                 FieldProblem& problem) {
  const bool hadNul = !original.empty() && original.back() == '\0';
  const char separator = NumberSeparator(rule, decimalSeparator);
  switch (rule.decoder) {
    case Decoder::TextValue:
      payload = EncodeTextValue(value, hadNul);
      return true;
    case Decoder::TextOrList:
      if (!original.empty() && original.front() == '\x01') {
        return EncodeTextList(value, rule.joiner, payload, problem);
      }
      payload = EncodeTextValue(value, hadNul);
      return true;
    case Decoder::Int32:
      return EncodeInt32(value, separator, payload, problem);
    case Decoder::NamedNumber:
      return EncodeNamedNumber(value, rule.numberNames, payload, problem);
    case Decoder::FloatPlain:
    case Decoder::FloatGeneral:
      return EncodeFloat(value, separator, payload, problem);
    case Decoder::ColourChannel:
      return EncodeColourChannel(value, separator, payload, problem);
    case Decoder::ShopFlags:
      return EncodeShopFlags(value, separator, withoutHiddenBits ? std::string_view{} : original,
                             payload, problem);
    case Decoder::ByteQuintuple:
      return EncodeByteQuintuple(value, separator, payload, problem);
    case Decoder::Skip:
    case Decoder::Discard:
      break;
  }
  return Fail(problem, 0, value, "belongs to a field that the table does not show");
}

bool IsTextDecoder(Decoder decoder) {
  return decoder == Decoder::TextValue || decoder == Decoder::TextOrList;
}

// Why a text does not read back as itself.
std::string TextMisreadReason(std::string_view value, std::string_view readBack) {
  if (value.find('\0') != std::string_view::npos) return "holds a NUL byte, which no table shows";
  if (!value.empty() && value.front() == '\x01') {
    return "begins with the byte 01, which marks a list in this field";
  }
  return "cannot be stored as it is: it reads back as " + QuotedText(readBack);
}

}  // namespace

std::size_t RowRoomOfRecord(std::int64_t recordLength) {
  if (recordLength <= 0) return 0;
  const auto length = static_cast<std::size_t>(recordLength);
  // Headers lie at least two bytes apart, the first at the record's start.
  const std::size_t mostFields = (length + 1) / 2;
  return length + mostFields * kMostFieldTextBeyondPayload;
}

template <typename Reader, typename Row>
void DecodeField(const FieldRule& rule, Reader& reader, const NodeHeader& field, Row& row) {
  switch (rule.decoder) {
    case Decoder::TextValue:
      return AppendTextValue(reader, field, row, rule.lead);
    case Decoder::TextOrList:
      return AppendTextOrList(reader, field, row, rule.lead, rule.joiner);
    case Decoder::Int32:
      return AppendInt32(reader, field, row, rule.lead);
    case Decoder::NamedNumber:
      return AppendNamedNumber(reader, field, row, rule.lead, rule.numberNames);
    case Decoder::FloatPlain:
      return AppendFloatPlain(reader, field, row, rule.lead);
    case Decoder::FloatGeneral:
      return AppendFloatGeneral(reader, field, row, rule.lead);
    case Decoder::ColourChannel:
      return AppendColourChannel(reader, field, row, rule.lead);
    case Decoder::ShopFlags:
      return AppendShopFlags(reader, row, rule.lead);
    case Decoder::ByteQuintuple:
      return AppendByteQuintuple(reader, row);
    case Decoder::Skip:
      return SkipField(reader, field);
    case Decoder::Discard:
      return DiscardField(reader, field);
  }
}

template void DecodeField(const FieldRule&, NodeReader&, const NodeHeader&, RowBuilder&);
template void DecodeField(const FieldRule&, HeldRecord&, const NodeHeader&, RowBuilder&);
template void DecodeField(const FieldRule&, NodeReader&, const NodeHeader&, RowWithoutText&);
template void DecodeField(const FieldRule&, HeldRecord&, const NodeHeader&, RowWithoutText&);

char NumberSeparator(const FieldRule& rule, char decimalSeparator) {
  if (rule.decoder == Decoder::FloatPlain) return PlainPoint(decimalSeparator);
  if (rule.decoder == Decoder::FloatGeneral) return decimalSeparator;
  return rule.tableStyle == TableStyle::Plain ? PlainPoint(decimalSeparator) : decimalSeparator;
}

std::string_view LeadText(const FieldRule& rule) {
  if (rule.decoder == Decoder::ByteQuintuple) return "\t";
  switch (rule.lead) {
    case Lead::None:
      return "";
    case Lead::Tab:
      return "\t";
    case Lead::Comma:
      return ",";
  }
  return "";
}

bool ShowsStoredValue(const FieldRule& rule, std::string_view storedText, std::string_view stored,
                      std::string_view text, char decimalSeparator) {
  std::string_view value;
  std::string_view storedValue;
  if (!WithoutLead(rule, text, value) || !WithoutLead(rule, storedText, storedValue)) return false;
  if (SameValue(rule, storedValue, value, decimalSeparator)) return true;
  const bool isFloat = rule.decoder == Decoder::FloatPlain || rule.decoder == Decoder::FloatGeneral;
  return isFloat && RoundsToStoredFloat(value, NumberSeparator(rule, decimalSeparator), stored);
}

bool EncodeField(const FieldRule& rule, std::string_view original, bool withoutHiddenBits,
                 std::string_view text, char decimalSeparator, EncodedField& encoded,
                 FieldProblem& problem) {
  encoded = EncodedField{};
  std::string_view value;
  if (!WithoutLead(rule, text, value))
    return Fail(problem, 0, text, "lost the separator before it");
  if (!EncodeValue(rule, value, original, withoutHiddenBits, decimalSeparator, encoded.payload,
                   problem)) {
    return false;
  }
  const bool readable = DecodedText(rule, encoded.payload, decimalSeparator, encoded.readBack);
  if (readable && encoded.readBack == text) return true;
  if (!readable || IsTextDecoder(rule.decoder)) {
    return Fail(problem, 0, value, TextMisreadReason(value, encoded.readBack));
  }
  // The decoder wrote the lead first.
  const std::string_view readBackValue =
      std::string_view(encoded.readBack).substr(LeadText(rule).size());
  encoded.rounded = !SameValue(rule, readBackValue, value, decimalSeparator);
  return true;
}
