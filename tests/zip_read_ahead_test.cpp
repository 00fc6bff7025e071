// Tests of inflating ahead on a worker: the same bytes, end and failures as reading in place.
#include "zip_read_ahead.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_files.h"

namespace {

constexpr std::string_view kSheetText = "<c r=\"A1\"><v>0</v></c>\n";

void WriteOneEntryArchive(const std::string& path, std::string_view content, int level) {
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting(path.c_str(), file), 0);
  ZipWriter zip;
  StartZip(zip, file, level);
  BeginZipEntry(zip, "a.xml");
  AppendZipEntry(zip, content);
  FinishZip(zip);
  CloseZipWriter(zip);
  EXPECT_EQ(CloseFile(file), 0);
}

// Sizes around the pieces' edges, and several rings of pieces.
std::string GeneratedContent(std::mt19937& random) {
  const std::size_t sizes[] = {0,
                               1,
                               kReadAheadPieceBytes - 1,
                               kReadAheadPieceBytes,
                               kReadAheadPieceBytes + 1,
                               kReadAheadPieceBytes * kReadAheadPieces,
                               kReadAheadPieceBytes * kReadAheadPieces * 3 + 17};
  const std::size_t size =
      random() % 3 == 0 ? random() % 400000 : sizes[random() % std::size(sizes)];
  std::string content(size, '\0');
  const bool compressible = random() % 2 == 0;
  for (char& byte : content) {
    byte = compressible ? kSheetText[random() % kSheetText.size()] : static_cast<char>(random());
  }
  return content;
}

// What reading an entry gave: its bytes up to the end or a failure, and the failure's message.
struct ReadOutcome {
  std::string bytes;
  std::string failure;
};

// Reads the archive's only entry with random capacities, in place or on the worker. After the
// end or a failure, a further read must end or fail again the same way.
ReadOutcome ReadEntry(const std::string& path, bool onWorker, std::mt19937& random) {
  ReadOutcome outcome;
  PlatformFile file;
  EXPECT_TRUE(OpenFileForReading(path.c_str(), file));
  std::vector<char> buffer(std::size_t{1} << 18);
  try {
    ZipArchive archive;
    ReadZipDirectory(file, archive);
    ZipReadAhead ahead;
    OpenReadAhead(archive, archive.entries.at(0), onWorker, ahead);
    EXPECT_EQ(ahead.worker.joinable(), onWorker && std::thread::hardware_concurrency() > 1);
    for (;;) {
      const std::size_t capacity = 1 + random() % (std::size_t{1} << (random() % 19));
      const std::size_t got = ReadAhead(ahead, buffer.data(), capacity);
      EXPECT_LE(got, capacity);
      if (got == 0) break;
      outcome.bytes.append(buffer.data(), got);
    }
    EXPECT_EQ(ReadAhead(ahead, buffer.data(), buffer.size()), 0u);
  } catch (const ZipFailure& failure) {
    outcome.failure = failure.message;
  }
  CloseFile(file);
  return outcome;
}

TEST(ZipReadAheadTest, WorkerGivesTheEntryAsReadInPlace) {
  TempFolder folder;
  std::mt19937 random(20261210);
  for (int round = 0; round < 16; ++round) {
    const std::string content = GeneratedContent(random);
    SCOPED_TRACE(std::to_string(round) + ": " + std::to_string(content.size()) + " bytes");
    WriteOneEntryArchive(folder / "a.zip", content, static_cast<int>(random() % 10));
    const ReadOutcome inPlace = ReadEntry(folder / "a.zip", false, random);
    const ReadOutcome ahead = ReadEntry(folder / "a.zip", true, random);
    EXPECT_EQ(inPlace.failure, "");
    EXPECT_EQ(ahead.failure, "");
    EXPECT_TRUE(ahead.bytes == content);
    EXPECT_TRUE(inPlace.bytes == content);
  }
}

// Puts `value` at `offset` in `width` bytes, little endian.
void Put(std::string& bytes, std::size_t offset, int width, std::uint64_t value) {
  for (int index = 0; index < width; ++index) {
    bytes[offset + static_cast<std::size_t>(index)] = static_cast<char>(value >> (8 * index));
  }
}

// Damaged data fails on the worker with the failure of reading in place, after no bytes but
// the entry's own, and the failure stays.
TEST(ZipReadAheadTest, WorkerFailsAsReadingInPlace) {
  TempFolder folder;
  std::mt19937 random(7);
  for (int round = 0; round < 24; ++round) {
    std::string content = GeneratedContent(random);
    if (content.size() < 1000) content.resize(1000 + random() % 700000, 'x');
    WriteOneEntryArchive(folder / "a.zip", content, 1 + static_cast<int>(random() % 9));
    std::string archive = ReadWholeFile(folder / "a.zip");
    const std::size_t end = archive.size() - 22;
    const std::size_t central = end - 46 - 5;
    const std::size_t dataStart = 35;
    const std::size_t compressed = central - dataStart;
    switch (round % 4) {
      case 0:
        Put(archive, central + 16, 4, random());  // the checksum
        break;
      case 1:
        Put(archive, central + 24, 4, content.size() + 1 + random() % 1000);  // a larger size
        break;
      case 2:
        Put(archive, central + 24, 4, content.size() - 1 - random() % 999);  // a smaller size
        break;
      default:
        for (int flip = 0; flip < 4; ++flip)  // damaged deflated bytes
          archive[dataStart + random() % compressed] ^= static_cast<char>(1 + random() % 255);
    }
    SCOPED_TRACE(std::to_string(round) + ": " + std::to_string(content.size()) + " bytes");
    WriteWholeFile(folder / "d.zip", archive);
    const ReadOutcome inPlace = ReadEntry(folder / "d.zip", false, random);
    const ReadOutcome ahead = ReadEntry(folder / "d.zip", true, random);
    EXPECT_EQ(ahead.failure, inPlace.failure);
    if (round % 4 != 3) {
      EXPECT_NE(ahead.failure, "");
    }
    EXPECT_LE(ahead.bytes.size(), content.size() + 1000);
    if (ahead.failure.empty()) {
      EXPECT_TRUE(ahead.bytes == inPlace.bytes);
    }
  }
}

// Closing while the worker waits for room, or in the middle of a piece, stops it; the reader then
// takes another entry.
TEST(ZipReadAheadTest, ClosingEarlyStopsTheWorker) {
  TempFolder folder;
  std::mt19937 random(11);
  std::string content(kReadAheadPieceBytes * kReadAheadPieces * 4, '\0');
  for (char& byte : content)
    byte = kSheetText[random() % kSheetText.size()];
  WriteOneEntryArchive(folder / "a.zip", content, 6);
  PlatformFile file;
  ASSERT_TRUE(OpenFileForReading((folder / "a.zip").c_str(), file));
  ZipArchive archive;
  ReadZipDirectory(file, archive);
  ZipReadAhead ahead;
  std::vector<char> buffer(1000);
  for (std::size_t taken : {std::size_t{0}, std::size_t{1}, std::size_t{300}}) {
    OpenReadAhead(archive, archive.entries[0], true, ahead);
    std::string bytes;
    while (bytes.size() < taken * buffer.size()) {
      const std::size_t got = ReadAhead(ahead, buffer.data(), buffer.size());
      ASSERT_NE(got, 0u);
      bytes.append(buffer.data(), got);
    }
    EXPECT_TRUE(bytes == content.substr(0, bytes.size()));
  }
  CloseReadAhead(ahead);
  CloseReadAhead(ahead);
  EXPECT_FALSE(ahead.worker.joinable());
  CloseFile(file);
}

}  // namespace
