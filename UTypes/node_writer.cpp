// The node stream writer.
#include "node_writer.h"

#include <bit>
#include <cstdlib>

namespace {

void AppendInt32LittleEndian(std::string& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes += static_cast<char>((value >> shift) & 0xFF);
}

// The length field of a payload of `length` bytes, aborting where the form cannot hold it.
std::string LengthBytes(std::size_t length, LengthForm form) {
  const bool fitsShort = length <= 127;
  if (length > kLongestPayload || (form == LengthForm::Short && !fitsShort)) std::abort();
  if (form != LengthForm::Long && fitsShort) return std::string(1, static_cast<char>(length * 2));
  std::string bytes;
  AppendInt32LittleEndian(bytes, static_cast<std::uint32_t>(length * 2 + 1));
  return bytes;
}

// A list element, or an abort: a text that no element holds is a fault of the caller.
void AppendElementOrAbort(std::string& payload, std::string_view text) {
  if (!AppendListElement(payload, text)) std::abort();
}

}  // namespace

void BeginNode(NodeWriter& writer, std::uint8_t kind, LengthForm form) {
  writer.bytes += static_cast<char>(kind);
  writer.openNodes.push_back({writer.bytes.size(), form});
  writer.bytes.append(form == LengthForm::Short ? 1 : 4, '\0');
}

void EndNode(NodeWriter& writer) {
  const NodeWriter::OpenNode node = writer.openNodes.back();
  writer.openNodes.pop_back();
  const std::size_t reserved = node.form == LengthForm::Short ? 1 : 4;
  const std::size_t length = writer.bytes.size() - node.lengthAt - reserved;
  writer.bytes.replace(node.lengthAt, reserved, LengthBytes(length, node.form));
}

void AppendNode(NodeWriter& writer, std::uint8_t kind, std::string_view payload, LengthForm form) {
  BeginNode(writer, kind, form);
  writer.bytes += payload;
  EndNode(writer);
}

std::string NodeHeaderBytes(std::uint8_t kind, std::size_t length, LengthForm form) {
  return static_cast<char>(kind) + LengthBytes(length, form);
}

std::string NodeBytes(std::uint8_t kind, std::string_view payload, LengthForm form) {
  NodeWriter writer;
  AppendNode(writer, kind, payload, form);
  return std::move(writer.bytes);
}

std::string TextPayload(std::string_view text) {
  std::string payload;
  payload.reserve(text.size() + 1);  // a long text held once, not grown to twice its size
  payload = text;
  payload += '\0';
  return payload;
}

bool AppendListElement(std::string& payload, std::string_view element) {
  const std::size_t count = element.size() + 1;  // the text and its NUL
  if (count > 127) return false;
  payload += '\x01';
  payload += static_cast<char>(count * 2);
  payload += element;
  payload += '\0';
  return true;
}

std::string TextListPayload(std::initializer_list<std::string_view> elements) {
  std::string payload;
  for (std::string_view element : elements)
    AppendElementOrAbort(payload, element);
  return payload;
}

std::string TextListPayload(const std::vector<std::string>& elements) {
  std::string payload;
  for (const std::string& element : elements)
    AppendElementOrAbort(payload, element);
  return payload;
}

std::string Int32Payload(std::int32_t value) {
  std::string payload;
  AppendInt32LittleEndian(payload, static_cast<std::uint32_t>(value));
  return payload;
}

std::string Float32Payload(float value) {
  return Float32BitsPayload(std::bit_cast<std::uint32_t>(value));
}

std::string Float32BitsPayload(std::uint32_t bits) {
  std::string payload;
  AppendInt32LittleEndian(payload, bits);
  return payload;
}

std::string ShopFlagsPayload(std::uint8_t flags) {
  std::string payload(4, '\0');
  payload[0] = static_cast<char>(flags);
  return payload;
}

std::string ByteQuintuplePayload(std::array<std::uint8_t, 5> values) {
  std::string payload;
  for (std::uint8_t value : values)
    payload += static_cast<char>(value);
  return payload;
}
