// The deflating worker: entries deflated on it are the entries deflated on the caller's thread.
#include "deflate_thread.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "session_databases.h"

namespace {

// Bytes like a sheet's XML: runs of a few tags with numbers between them, of `size` bytes.
std::string SheetLikeBytes(Random& random, std::size_t size) {
  constexpr std::string_view kTags[] = {"<c r=\"B", "\"><v>", "</v></c>", "<row r=\"", "<is><t>"};
  std::string bytes;
  while (bytes.size() < size) {
    bytes += kTags[RandomBelow(random, std::size(kTags))];
    bytes += std::to_string(RandomBelow(random, 100000));
  }
  bytes.resize(size);
  return bytes;
}

// An entry's deflated data, its checksum and sizes.
struct Deflated {
  std::string data;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  bool operator==(const Deflated&) const = default;
};

Deflated Finished(ZipEntryInMemory& entry) {
  FinishEntryInMemory(entry);
  Deflated deflated;
  for (const RowBuilder& piece : entry.pieces)
    deflated.data += RowText(piece);
  deflated.crc = entry.crc;
  deflated.size = entry.size;
  CloseEntryInMemory(entry);
  return deflated;
}

// The entry's deflated data inflated by zlib, which must end where the data does.
std::string Inflated(const Deflated& deflated) {
  std::string inflated(static_cast<std::size_t>(deflated.size) + 1, '\0');
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data.data()));
  stream.avail_in = static_cast<uInt>(deflated.data.size());
  stream.next_out = reinterpret_cast<Bytef*>(inflated.data());
  stream.avail_out = static_cast<uInt>(inflated.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u);
  inflated.resize(inflated.size() - stream.avail_out);
  inflateEnd(&stream);
  return inflated;
}

// The entries' contents as pieces in turns: which entry each piece goes to, and its bytes.
struct PieceFor {
  std::size_t entry;
  std::string bytes;
};

// How the pieces reach their entries: queued with no worker, so deflated in turn; queued to the
// worker; or every other one deflated apart and added deflated, the rest in turn.
enum class Way { kInTurn, kOnThread, kSomeApart };

std::vector<Deflated> DeflateAll(std::size_t entries, const std::vector<PieceFor>& pieces,
                                 Way way) {
  std::vector<ZipEntryInMemory> parts(entries);
  for (ZipEntryInMemory& part : parts)
    StartEntryInMemory(part);
  DeflateThread deflater;
  if (way == Way::kOnThread) StartDeflateThread(deflater);
  QuickDeflater apartDeflater;
  for (std::size_t index = 0; index < pieces.size(); ++index) {
    const PieceFor& piece = pieces[index];
    if (way == Way::kSomeApart && index % 2 == 0) {
      DeflatedPiece deflated;
      DeflatePieceApart(apartDeflater, piece.bytes, deflated);
      AppendDeflatedPiece(parts[piece.entry], deflated);
      continue;
    }
    RowBuilder bytes;
    AppendRowText(bytes, piece.bytes);
    QueueDeflate(deflater, parts[piece.entry], bytes);
    EXPECT_EQ(bytes.size, 0u);
  }
  WaitForDeflates(deflater);
  std::vector<Deflated> deflated;
  for (ZipEntryInMemory& part : parts)
    deflated.push_back(Finished(part));
  return deflated;
}

TEST(DeflateThreadTest, EntriesDeflatedOnTheWorkerOrApartAreThoseDeflatedInTurn) {
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Random random{seed};
    const std::size_t entries = 1 + RandomBelow(random, 4);
    std::vector<PieceFor> pieces;
    std::vector<std::string> contents(entries);
    const std::size_t count = 1 + RandomBelow(random, 24);
    for (std::size_t index = 0; index < count; ++index) {
      // Empty pieces, small ones and ones past zlib's and the buffers' sizes.
      const std::size_t size = RandomChance(random, 10) ? 0 : RandomBelow(random, 600000);
      PieceFor piece{RandomBelow(random, entries), SheetLikeBytes(random, size)};
      contents[piece.entry] += piece.bytes;
      pieces.push_back(std::move(piece));
    }
    const std::vector<Deflated> alone = DeflateAll(entries, pieces, Way::kInTurn);
    for (const Way way : {Way::kOnThread, Way::kSomeApart}) {
      const std::vector<Deflated> other = DeflateAll(entries, pieces, way);
      ASSERT_EQ(other.size(), entries);
      for (std::size_t entry = 0; entry < entries; ++entry) {
        EXPECT_TRUE(other[entry] == alone[entry]) << "entry " << entry;
        const std::string& content = contents[entry];
        EXPECT_EQ(other[entry].size, content.size());
        EXPECT_EQ(other[entry].crc, crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                          static_cast<uInt>(content.size())));
        EXPECT_TRUE(Inflated(other[entry]) == content) << "entry " << entry;
      }
    }
  }
}

TEST(DeflateThreadTest, StoppingDropsWhatIsQueuedAndTheWorkerStartsAgain) {
  Random random{7};
  ZipEntryInMemory part;
  StartEntryInMemory(part);
  DeflateThread deflater;
  StartDeflateThread(deflater);
  for (int piece = 0; piece < 8; ++piece) {
    RowBuilder bytes;
    AppendRowText(bytes, SheetLikeBytes(random, 300000));
    QueueDeflate(deflater, part, bytes);
  }
  StopDeflateThread(deflater);
  StopDeflateThread(deflater);
  EXPECT_FALSE(deflater.worker.joinable());
  EXPECT_TRUE(deflater.queue.empty());
  // A new entry deflated after the stop is whole.
  CloseEntryInMemory(part);
  StartEntryInMemory(part);
  StartDeflateThread(deflater);
  RowBuilder bytes;
  AppendRowText(bytes, "<row r=\"1\"></row>");
  QueueDeflate(deflater, part, bytes);
  WaitForDeflates(deflater);
  const Deflated deflated = Finished(part);
  EXPECT_EQ(deflated.size, 17u);
  EXPECT_EQ(Inflated(deflated), "<row r=\"1\"></row>");
}

// An entry whose deflated bytes fill several of the chunks it keeps them in, bytes that do not
// compress in pieces of any size, inflates back whole and its sizes count every byte.
TEST(DeflateThreadTest, EntryOfManyChunksInflatesBackWhole) {
  for (std::uint64_t seed = 1; seed <= 2; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Random random{seed};
    std::string content;
    std::vector<PieceFor> pieces;
    while (content.size() < std::size_t{10} << 20) {
      PieceFor piece{0, std::string(1 + RandomBelow(random, 700000), '\0')};
      for (char& byte : piece.bytes)
        byte = static_cast<char>(RandomBelow(random, 256));
      content += piece.bytes;
      pieces.push_back(std::move(piece));
    }
    const std::vector<Deflated> deflated =
        DeflateAll(1, pieces, seed == 2 ? Way::kOnThread : Way::kInTurn);
    ASSERT_EQ(deflated.size(), 1u);
    EXPECT_GT(deflated[0].data.size(), content.size());
    EXPECT_EQ(deflated[0].size, content.size());
    EXPECT_TRUE(Inflated(deflated[0]) == content);
  }
}

}  // namespace
