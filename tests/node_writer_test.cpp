// Tests of the node stream writer: length forms, nesting and value payloads, byte for byte.
#include "node_writer.h"

#include <gtest/gtest.h>

#include "damaged_nodes.h"

namespace {

std::string Raw(std::initializer_list<int> bytes) {
  std::string raw;
  for (int byte : bytes)
    raw += static_cast<char>(byte);
  return raw;
}

TEST(NodeWriterTest, WritesEachLengthForm) {
  EXPECT_EQ(NodeBytes(7, "ab", LengthForm::Short), Raw({7, 4, 'a', 'b'}));
  EXPECT_EQ(NodeBytes(7, "ab", LengthForm::Long), Raw({7, 5, 0, 0, 0, 'a', 'b'}));
  EXPECT_EQ(NodeBytes(7, "ab"), Raw({7, 4, 'a', 'b'}));
  EXPECT_EQ(NodeBytes(7, std::string(127, 'x')).substr(0, 2), Raw({7, 0xFE}));
  EXPECT_EQ(NodeBytes(7, std::string(128, 'x')).substr(0, 5), Raw({7, 1, 1, 0, 0}));
}

TEST(NodeWriterTest, NestsNodesAndStoresRawHeaders) {
  NodeWriter writer;
  BeginNode(writer, 1);
  BeginNode(writer, 2, LengthForm::Long);
  AppendNode(writer, 3, "z");
  EndNode(writer);
  EndNode(writer);
  AppendLongHeader(writer, 4, -1);
  EXPECT_EQ(writer.bytes, Raw({1, 16, 2, 7, 0, 0, 0, 3, 2, 'z', 4, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(writer.openNodes.empty());
}

TEST(NodeWriterTest, WritesValuePayloads) {
  EXPECT_EQ(TextPayload("Fire"), std::string("Fire\0", 5));
  EXPECT_EQ(TextListPayload({"a", "", "bc"}), Raw({1, 4, 'a', 0, 1, 2, 0, 1, 6, 'b', 'c', 0}));
  EXPECT_EQ(Int32Payload(-2), Raw({0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Float32Payload(1.0f), Raw({0, 0, 0x80, 0x3F}));
  EXPECT_EQ(Float32BitsPayload(0x3DCCCCCD), Raw({0xCD, 0xCC, 0xCC, 0x3D}));
  EXPECT_EQ(ShopFlagsPayload(0x15), Raw({0x15, 0, 0, 0}));
  EXPECT_EQ(ByteQuintuplePayload({0, 1, 255, 16, 5}), Raw({0, 1, 255, 16, 5}));
}

}  // namespace
