// Tests of the node stream reader: header forms, positions, moves, the end and short reads.
#include "node_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "failure_of.h"
#include "node_writer.h"
#include "random_draws.h"
#include "test_files.h"

namespace {

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct HeaderCase {
  std::string bytes;
  std::uint8_t kind;
  std::int32_t length;
  std::int64_t payloadStart;
  std::int64_t nodeEnd;
};

TEST(NodeReaderTest, DecodesBothLengthForms) {
  const HeaderCase cases[] = {
      {std::string("\x07\x00", 2), 7, 0, 2, 2},                  // empty payload
      {std::string("\x01\x02", 2), 1, 1, 2, 3},                  // one byte
      {std::string("\xFF\xFE", 2), 255, 127, 2, 129},            // largest short form
      {std::string("\x02\x01\x01\x00\x00", 5), 2, 128, 5, 133},  // v = 257
      {std::string("\x03\x05\x00\x00\x00", 5), 3, 2, 5, 7},      // small length, long form
      {std::string("\x03\x01\x00\x00\x00", 5), 3, 0, 5, 5},      // v = 1
      {std::string("\x04\xFF\xFF\xFF\x7F", 5), 4, 0x3FFFFFFF, 5, 5 + 0x3FFFFFFF},
      {std::string("\x05\xFF\xFF\xFF\xFF", 5), 5, -1, 5, 5},  // negative: ends at its start
      {std::string("\x05\x01\x00\x00\x80", 5), 5, -0x40000000, 5, 5},
  };
  for (const HeaderCase& test : cases) {
    NodeReader reader = MemoryNodeReader(Bytes(test.bytes));
    const NodeHeader header = ReadNodeHeader(reader);
    EXPECT_EQ(header.kind, test.kind);
    EXPECT_EQ(header.length, test.length);
    EXPECT_EQ(header.payloadStart, test.payloadStart);
    EXPECT_EQ(Position(reader), test.payloadStart);
    EXPECT_EQ(NodeEnd(header), test.nodeEnd);
  }
}

TEST(NodeReaderTest, NegativeLengthCountsAsEmptyPayload) {
  NodeHeader header;
  header.payloadStart = 10;
  header.length = -5;
  EXPECT_EQ(PayloadLength(header), 0);
  EXPECT_EQ(NodeEnd(header), 10);
}

TEST(NodeReaderTest, PositionsMovesAndTheEnd) {
  const std::string bytes = "abcdef";
  NodeReader reader = MemoryNodeReader(Bytes(bytes));
  EXPECT_EQ(Size(reader), 6);
  EXPECT_FALSE(AtEnd(reader));
  std::uint8_t got[3] = {};
  ReadBytes(reader, 3, got);
  EXPECT_EQ(std::string(got, got + 3), "abc");
  EXPECT_EQ(Position(reader), 3);
  SeekTo(reader, 1);
  EXPECT_EQ(ReadByte(reader), 'b');
  SeekTo(reader, 6);
  EXPECT_TRUE(AtEnd(reader));
  SeekTo(reader, 1000);  // past the end is allowed; only a read fails
  EXPECT_TRUE(AtEnd(reader));
  EXPECT_EQ(FailureOf([&] { ReadByte(reader); }), kErrorReadBeyondEnd);
}

TEST(NodeReaderTest, EmptyDatabaseIsAtItsEnd) {
  NodeReader reader = MemoryNodeReader({});
  EXPECT_TRUE(AtEnd(reader));
  EXPECT_EQ(FailureOf([&] { ReadNodeHeader(reader); }), kErrorReadBeyondEnd);
}

TEST(NodeReaderTest, ShortReadsAndNegativeMovesFail) {
  const std::string bytes("\x01\x01\x00", 3);  // a long form cut short
  NodeReader reader = MemoryNodeReader(Bytes(bytes));
  EXPECT_EQ(FailureOf([&] { ReadNodeHeader(reader); }), kErrorReadBeyondEnd);
  NodeReader other = MemoryNodeReader(Bytes(bytes));
  EXPECT_EQ(FailureOf([&] { SeekTo(other, -1); }), NegativeSeekError());
  std::uint8_t got[4] = {};
  EXPECT_EQ(FailureOf([&] { ReadBytes(other, 4, got); }), kErrorReadBeyondEnd);
  EXPECT_EQ(FailureOf([&] { ReadBytes(other, 0, got); }), -1);
}

// A file of several buffers, each byte telling its offset, read through the file reader.
class NodeReaderFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    content.resize(kReadBufferSize * 3 + 123);
    for (std::size_t index = 0; index < content.size(); ++index) {
      content[index] = static_cast<char>((index * 7 + index / 251) & 0xFF);
    }
    WriteWholeFile(folder / "data", content);
    ASSERT_TRUE(OpenNodeReader((folder / "data").c_str(), reader));
  }
  void TearDown() override { CloseNodeReader(reader); }

  std::string Read(std::int64_t offset, std::size_t count) {
    SeekTo(reader, offset);
    std::string got(count, '\0');
    ReadBytes(reader, count, reinterpret_cast<std::uint8_t*>(got.data()));
    return got;
  }

  TempFolder folder;
  std::string content;
  NodeReader reader;
};

TEST_F(NodeReaderFileTest, ReadsAcrossBufferBoundariesAndBackwards) {
  EXPECT_EQ(Size(reader), static_cast<std::int64_t>(content.size()));
  const std::int64_t boundary = static_cast<std::int64_t>(kReadBufferSize);
  const struct {
    std::int64_t offset;
    std::size_t count;
  } reads[] = {{0, 10},
               {boundary - 3, 7},
               {5, 100},
               {boundary * 2 - 1, 2},
               {1, kReadBufferSize + 5},
               {boundary * 3, 123},
               {boundary * 3 + 122, 1}};
  for (const auto& read : reads) {
    EXPECT_EQ(Read(read.offset, read.count),
              content.substr(static_cast<std::size_t>(read.offset), read.count))
        << "at " << read.offset;
    EXPECT_EQ(Position(reader), read.offset + static_cast<std::int64_t>(read.count));
  }
}

TEST_F(NodeReaderFileTest, ReadingPastTheFileEndFails) {
  const auto size = static_cast<std::int64_t>(content.size());
  EXPECT_EQ(FailureOf([&] { Read(size - 2, 3); }), kErrorReadBeyondEnd);
  EXPECT_EQ(FailureOf([&] { Read(size - 2, kReadBufferSize * 2); }), kErrorReadBeyondEnd);
  EXPECT_EQ(FailureOf([&] { Read(size + 10, 1); }), kErrorReadBeyondEnd);
  EXPECT_EQ(Read(size - 2, 2), content.substr(content.size() - 2));
  EXPECT_TRUE(AtEnd(reader));
}

// Pieces read at offsets, going forward (which moves the held window) or anywhere, between reads
// at the position: each gives the file's bytes, and the position stays where the last read left
// it, also when the window has moved past it or away from it.
TEST_F(NodeReaderFileTest, PiecesReadAtOffsetsKeepThePosition) {
  const std::size_t size = content.size();
  for (std::uint64_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Random random{seed};
    std::int64_t position = 0;
    std::size_t pieceAt = RandomBelow(random, 1000);
    SeekTo(reader, position);
    for (int step = 0; step < 200; ++step) {
      if (RandomChance(random, 30)) {
        const std::size_t count =
            std::min(RandomBelow(random, 3000), size - static_cast<std::size_t>(position));
        std::string got(count, '\0');
        ReadBytes(reader, count, reinterpret_cast<std::uint8_t*>(got.data()));
        ASSERT_EQ(got, content.substr(static_cast<std::size_t>(position), count));
        position += static_cast<std::int64_t>(count);
        continue;
      }
      // Mostly just after the last piece, at times a window or more away, at times anywhere.
      const std::size_t gap = RandomChance(random, 10) ? kReadBufferSize + RandomBelow(random, 9)
                                                       : RandomBelow(random, 2000);
      pieceAt = RandomChance(random, 10) ? RandomBelow(random, size) : pieceAt + gap;
      if (pieceAt >= size) pieceAt = RandomBelow(random, size);
      const std::size_t count =
          std::min(RandomChance(random, 5) ? kReadBufferSize / 2 + 1 : 400, size - pieceAt);
      std::string got(count, '\0');
      ReadBytesAt(reader, static_cast<std::int64_t>(pieceAt), count,
                  reinterpret_cast<std::uint8_t*>(got.data()));
      ASSERT_EQ(got, content.substr(pieceAt, count)) << "at " << pieceAt;
      ASSERT_EQ(Position(reader), position);
      pieceAt += count;
    }
  }
}

TEST(NodeReaderOpenTest, RefusesWhatIsNotAnOrdinaryFile) {
  TempFolder folder;
  NodeReader reader;
  EXPECT_FALSE(OpenNodeReader((folder / "missing").c_str(), reader));
  EXPECT_FALSE(OpenNodeReader(folder.path.c_str(), reader));
}

TEST(NodeReaderTest, ReadsNestedNodesWrittenByTheWriter) {
  NodeWriter writer;
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 2);
  AppendNode(writer, 9, std::string(200, 'x'));
  EndNode(writer);
  EndNode(writer);
  NodeReader reader = MemoryNodeReader(Bytes(writer.bytes));
  const NodeHeader database = ReadNodeHeader(reader);
  const NodeHeader table = ReadNodeHeader(reader);
  const NodeHeader field = ReadNodeHeader(reader);
  EXPECT_EQ(NodeEnd(database), Size(reader));
  EXPECT_EQ(NodeEnd(table), Size(reader));
  EXPECT_EQ(NodeEnd(field), Size(reader));
  EXPECT_EQ(field.kind, 9);
  EXPECT_EQ(field.length, 200);
}

}  // namespace
