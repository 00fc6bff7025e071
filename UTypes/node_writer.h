// Writes node streams, the inverse of the reader: for the packers, tests, sample and benchmark
// databases.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// The longest payload a node holds: the long length form stores 2 x length + 1 in a signed
// 32-bit value.
inline constexpr std::size_t kLongestPayload = (std::size_t{1} << 30) - 1;

// How a node's length is stored: one byte (up to 127), four bytes, or the short form when the
// payload fits in it.
enum class LengthForm : std::uint8_t { Short, Long, Auto };

// The form a node keeps when its length changes, by the size of its header: a short header (2
// bytes) stays short where the new length fits, a long one (5 bytes) stays long.
inline LengthForm OwnLengthForm(std::size_t headerSize) {
  return headerSize == 2 ? LengthForm::Auto : LengthForm::Long;
}

// A node stream under construction; nodes may be nested with BeginNode and EndNode.
struct NodeWriter {
  struct OpenNode {
    std::size_t lengthAt;
    LengthForm form;
  };
  std::string bytes;
  std::vector<OpenNode> openNodes;
};

// Starts a node whose payload is everything written until the matching EndNode.
void BeginNode(NodeWriter& writer, std::uint8_t kind, LengthForm form = LengthForm::Auto);

// Ends the innermost open node and stores its length. A length that its form cannot hold (over
// 127 for the short form, over 2^30 - 1 for the long one) aborts: that is a fault of the caller.
void EndNode(NodeWriter& writer);

// A whole node with the given payload.
void AppendNode(NodeWriter& writer, std::uint8_t kind, std::string_view payload,
                LengthForm form = LengthForm::Auto);

// The header of a node whose payload is `length` bytes, in the given form (Auto: short when it
// fits). A length that the form cannot hold aborts.
std::string NodeHeaderBytes(std::uint8_t kind, std::size_t length, LengthForm form);

// The bytes of one node with the given payload.
std::string NodeBytes(std::uint8_t kind, std::string_view payload,
                      LengthForm form = LengthForm::Auto);

// Value payloads.
std::string TextPayload(std::string_view text);  // the text and its NUL
// One list element (element byte 1, length byte 2 x (k + 1), the k bytes, NUL) appended to a
// list payload; false, nothing appended, when the text is longer than 126 bytes.
bool AppendListElement(std::string& payload, std::string_view element);
std::string TextListPayload(std::initializer_list<std::string_view> elements);
std::string TextListPayload(const std::vector<std::string>& elements);
std::string Int32Payload(std::int32_t value);
std::string Float32Payload(float value);
std::string Float32BitsPayload(std::uint32_t bits);
std::string ShopFlagsPayload(std::uint8_t flags);  // the flag byte and three empty bytes
std::string ByteQuintuplePayload(std::array<std::uint8_t, 5> values);
