// Tests of the zip container: round trips, another writer's and reader's archives, damage.
#include "zip_archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "run_failure.h"
#include "test_files.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr std::string_view kSheetText = "<c r=\"A1\"><v>0</v></c>\n";

struct EntryToWrite {
  std::string name;
  std::string content;
  int copies = 1;  // the content written so many times over
};

void WriteArchive(const std::string& path, const std::vector<EntryToWrite>& parts, int level) {
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting(path.c_str(), file), 0);
  ZipWriter zip;
  StartZip(zip, file, level);
  for (const EntryToWrite& part : parts) {
    BeginZipEntry(zip, part.name);
    // In pieces, so that entries span several calls and buffers.
    for (int copy = 0; copy < part.copies; ++copy) {
      for (std::size_t start = 0; start < part.content.size(); start += 100000) {
        AppendZipEntry(zip, std::string_view(part.content).substr(start, 100000));
      }
    }
  }
  FinishZip(zip);
  CloseZipWriter(zip);
  EXPECT_EQ(CloseFile(file), 0);
}

// An archive's file and directory, closed with the test.
struct OpenedArchive {
  PlatformFile file;
  ZipArchive archive;
  explicit OpenedArchive(const std::string& path) {
    EXPECT_TRUE(OpenFileForReading(path.c_str(), file)) << path;
  }
  ~OpenedArchive() { CloseFile(file); }
  void Read() { ReadZipDirectory(file, archive); }
};

// The message of the ZipFailure that reading the directory and every entry ends with; empty when
// all reads succeed.
std::string ZipFailureOfReadingAll(const std::string& path) {
  OpenedArchive opened(path);
  try {
    opened.Read();
    for (const ZipEntry& entry : opened.archive.entries) {
      ReadWholeZipEntry(opened.archive, entry, std::size_t{1} << 24);
    }
  } catch (const ZipFailure& failure) {
    return failure.message;
  }
  return {};
}

// The entry's content, read with random capacities through `reader`, which may have read others.
std::string ReadStreaming(const ZipArchive& archive, const ZipEntry& entry, ZipEntryReader& reader,
                          std::mt19937& random) {
  OpenZipEntry(archive, entry, reader);
  std::string content;
  std::vector<char> buffer(1 << 17);
  for (;;) {
    const std::size_t capacity = 1 + random() % (std::size_t{1} << (random() % 18));
    const std::size_t got = ReadZipEntry(reader, buffer.data(), capacity);
    EXPECT_LE(got, capacity);
    if (got == 0) break;
    content.append(buffer.data(), got);
  }
  return content;
}

std::string RandomContent(std::mt19937& random) {
  const std::size_t sizes[] = {0, 1, 100, 70000, 300000, 3000000};
  const std::size_t size = random() % 4 == 0 ? sizes[random() % 6] : random() % 5000;
  std::string content(size, '\0');
  const bool compressible = random() % 2 == 0;
  for (char& byte : content) {
    byte = compressible ? kSheetText[random() % kSheetText.size()] : static_cast<char>(random());
  }
  return content;
}

// Puts `value` at `offset` in `width` bytes, little endian; a width past 8 repeats it.
void Put(std::string& bytes, std::size_t offset, int width, std::uint64_t value) {
  for (int index = 0; index < width; ++index) {
    bytes[offset + static_cast<std::size_t>(index)] = static_cast<char>(value >> (8 * (index % 8)));
  }
}

std::string LittleEndian(int width, std::uint64_t value) {
  std::string bytes(static_cast<std::size_t>(width), '\0');
  Put(bytes, 0, width, value);
  return bytes;
}

// Runs python with `script` and its arguments; its standard output, or failure on a nonzero exit.
std::string RunPython(const std::string& script, const std::string& arguments) {
  const std::string command = std::string(kPython) + " -c '" + script + "' " + arguments;
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  for (std::size_t got; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, got);
  }
  EXPECT_TRUE(pipe != nullptr && pclose(pipe) == 0) << command;
  return output;
}

TEST(ZipArchiveTest, WrittenEntriesReadBackEqualWhateverTheReadSizes) {
  TempFolder folder;
  std::mt19937 random(20261210);
  for (int round = 0; round < 12; ++round) {
    std::vector<EntryToWrite> parts(random() % 7);
    for (std::size_t index = 0; index < parts.size(); ++index) {
      parts[index] = {"xl/part" + std::to_string(index) + ".xml", RandomContent(random)};
    }
    const std::string path = folder / "round.xlsx";
    WriteArchive(path, parts, static_cast<int>(random() % 10));
    OpenedArchive opened(path);
    EXPECT_TRUE(LooksLikeZip(opened.file));
    opened.Read();
    ASSERT_EQ(opened.archive.entries.size(), parts.size());
    ZipEntryReader reader;
    for (std::size_t index = 0; index < parts.size(); ++index) {
      const ZipEntry& entry = opened.archive.entries[index];
      EXPECT_EQ(entry.name, parts[index].name);
      EXPECT_EQ(entry.size, parts[index].content.size());
      EXPECT_EQ(ReadStreaming(opened.archive, entry, reader, random), parts[index].content);
    }
    CloseZipEntry(reader);
  }
}

// The whole archive, byte for byte, as the format lays it out: level 0 deflates "hello" into a
// single final stored block.
TEST(ZipArchiveTest, WrittenArchiveHasTheFormatsLayout) {
  TempFolder folder;
  WriteArchive(folder / "a.zip", {{"a.txt", "hello"}}, 0);
  const std::string data = std::string("\x01\x05\x00\xFA\xFF", 5) + "hello";
  // Version 20, UTF-8 names, deflated, 1980-01-01 00:00, the checksum and sizes.
  const std::string common = LittleEndian(2, 20) + LittleEndian(2, 0x0800) + LittleEndian(2, 8) +
                             LittleEndian(2, 0) + LittleEndian(2, 0x21) +
                             LittleEndian(4, 0x3610A686) + LittleEndian(4, 10) +
                             LittleEndian(4, 5) + LittleEndian(2, 5);
  const std::string local = LittleEndian(4, 0x04034b50) + common + LittleEndian(2, 0) + "a.txt";
  const std::string central = LittleEndian(4, 0x02014b50) + LittleEndian(2, 20) + common +
                              std::string(12, '\0') + LittleEndian(4, 0) + "a.txt";
  const std::string end = LittleEndian(4, 0x06054b50) + LittleEndian(4, 0) + LittleEndian(2, 1) +
                          LittleEndian(2, 1) + LittleEndian(4, central.size()) +
                          LittleEndian(4, local.size() + data.size()) + LittleEndian(2, 0);
  EXPECT_EQ(ReadWholeFile(folder / "a.zip"), local + data + central + end);
}

TEST(ZipArchiveTest, IndependentReaderTakesWrittenArchive) {
  if (!std::filesystem::exists(kPython)) GTEST_SKIP() << "no " << kPython;
  TempFolder folder;
  std::mt19937 random(7);
  const std::vector<EntryToWrite> parts = {
      {"[Content_Types].xml", RandomContent(random)},
      {"xl/worksheets/bl\xC3\xA4tter.xml", std::string(2000000, 'x')},
      {"empty", ""},
      {"docProps/app.xml", RandomContent(random)}};
  WriteArchive(folder / "w.xlsx", parts, 6);
  std::filesystem::create_directory(folder / "out");
  const std::string names = RunPython(
      "import zipfile,sys,os\n"
      "z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
      "for i,info in enumerate(z.infolist()):\n"
      "  open(os.path.join(sys.argv[2],str(i)),\"wb\").write(z.read(info))\n"
      "  sys.stdout.buffer.write(info.filename.encode(\"utf-8\")+b\"\\n\")",
      folder / "w.xlsx " + folder / "out");
  std::string expectedNames;
  for (std::size_t index = 0; index < parts.size(); ++index) {
    expectedNames += parts[index].name + "\n";
    EXPECT_EQ(ReadWholeFile(folder / ("out/" + std::to_string(index))), parts[index].content);
  }
  EXPECT_EQ(names, expectedNames);
}

// Archives another writer made: stored and deflated entries and a comment; data descriptors,
// written to a stream it cannot seek back in; zip64 fields in a local header.
TEST(ZipArchiveTest, ReadsArchivesAnotherWriterMade) {
  if (!std::filesystem::exists(kPython)) GTEST_SKIP() << "no " << kPython;
  TempFolder folder;
  RunPython(
      "import zipfile,sys\n"
      "o=sys.argv[1]; big=bytes(range(256))*4000; text=b\"<row><c>1</c></row>\\n\"*5000\n"
      "open(o+\"/big\",\"wb\").write(big); open(o+\"/text\",\"wb\").write(text)\n"
      "with zipfile.ZipFile(o+\"/plain.zip\",\"w\") as z:\n"
      "  z.writestr(\"stored.bin\",big); z.writestr(\"xl/Text.xml\",text,zipfile.ZIP_DEFLATED)\n"
      "  z.comment=b\"a comment\"\n"
      "class Stream:\n"
      "  def __init__(s,f): s.f=f\n"
      "  def write(s,b): return s.f.write(b)\n"
      "  def flush(s): s.f.flush()\n"
      "with open(o+\"/streamed.zip\",\"wb\") as f, zipfile.ZipFile(Stream(f),\"w\") as z:\n"
      "  z.writestr(\"stored.bin\",big); z.writestr(\"xl/Text.xml\",text,zipfile.ZIP_DEFLATED)\n"
      "with zipfile.ZipFile(o+\"/zip64.zip\",\"w\",zipfile.ZIP_DEFLATED) as z:\n"
      "  with z.open(\"xl/Text.xml\",\"w\",force_zip64=True) as f: f.write(text)\n"
      "  z.writestr(\"stored.bin\",big,zipfile.ZIP_STORED)",
      folder.path.string());
  const std::string big = ReadWholeFile(folder / "big");
  const std::string text = ReadWholeFile(folder / "text");
  ASSERT_EQ(big.size() + text.size(), 1024000u + 100000u);
  std::mt19937 random(11);
  for (const char* name : {"plain.zip", "streamed.zip", "zip64.zip"}) {
    SCOPED_TRACE(name);
    OpenedArchive opened(folder / name);
    opened.Read();
    ASSERT_EQ(opened.archive.entries.size(), 2u);
    const ZipEntry* stored = FindZipEntry(opened.archive, "/STORED.bin");
    const ZipEntry* deflated = FindZipEntry(opened.archive, "xl/text.XML");
    ASSERT_TRUE(stored != nullptr && deflated != nullptr);
    EXPECT_EQ(FindZipEntry(opened.archive, "xl/text.xm"), nullptr);
    EXPECT_EQ(stored->method, 0);
    EXPECT_EQ(deflated->method, 8);
    EXPECT_EQ((deflated->flags & 8) != 0, std::string(name) == "streamed.zip");
    // One reader for both, left in the middle of the deflated entry.
    ZipEntryReader reader;
    EXPECT_EQ(ReadStreaming(opened.archive, *deflated, reader, random), text);
    char start[10];
    OpenZipEntry(opened.archive, *deflated, reader);
    EXPECT_EQ(ReadZipEntry(reader, start, sizeof start), sizeof start);
    EXPECT_EQ(ReadStreaming(opened.archive, *stored, reader, random), big);
    CloseZipEntry(reader);
    EXPECT_EQ(ReadWholeZipEntry(opened.archive, *deflated, text.size()), text);
  }
}

// One stored entry "z.bin" whose sizes and offset are in a zip64 field, found through a zip64
// end record and its locator. Its layout: local header at 0, the directory at 41, the zip64 end
// record at 120, its locator at 176, the end record at 196.
std::string HandMadeZip64Archive() {
  const std::string common = LittleEndian(2, 45) + LittleEndian(2, 0) + LittleEndian(2, 0) +
                             LittleEndian(4, 0) + LittleEndian(4, 0x33C3402F);  // crc of "zip64!"
  const std::string local = LittleEndian(4, 0x04034b50) + common + LittleEndian(4, 6) +
                            LittleEndian(4, 6) + LittleEndian(2, 5) + LittleEndian(2, 0) + "z.bin";
  const std::string central =
      LittleEndian(4, 0x02014b50) + LittleEndian(2, 45) + common +
      LittleEndian(8, 0xFFFFFFFFFFFFFFFF) + LittleEndian(2, 5) + LittleEndian(2, 28) +
      std::string(10, '\0') + LittleEndian(4, 0xFFFFFFFF) + "z.bin" + LittleEndian(2, 1) +
      LittleEndian(2, 24) + LittleEndian(8, 6) + LittleEndian(8, 6) + LittleEndian(8, 0);
  const std::string record = LittleEndian(4, 0x06064b50) + LittleEndian(8, 44) +
                             LittleEndian(4, 45 * 0x10001) + LittleEndian(8, 0) +
                             LittleEndian(8, 1) + LittleEndian(8, 1) + LittleEndian(8, 79) +
                             LittleEndian(8, 41);
  const std::string locator =
      LittleEndian(4, 0x07064b50) + LittleEndian(4, 0) + LittleEndian(8, 120) + LittleEndian(4, 1);
  const std::string end = LittleEndian(4, 0x06054b50) + LittleEndian(4, 0) +
                          LittleEndian(4, 0xFFFFFFFF) + LittleEndian(8, 0xFFFFFFFFFFFFFFFF) +
                          LittleEndian(2, 0);
  return local + "zip64!" + central + record + locator + end;
}

TEST(ZipArchiveTest, ReadsZip64Directory) {
  TempFolder folder;
  WriteWholeFile(folder / "z.zip", HandMadeZip64Archive());
  OpenedArchive opened(folder / "z.zip");
  opened.Read();
  ASSERT_EQ(opened.archive.entries.size(), 1u);
  EXPECT_EQ(opened.archive.entries[0].localHeaderOffset, 0u);
  EXPECT_EQ(ReadWholeZipEntry(opened.archive, opened.archive.entries[0], 6), "zip64!");
  try {
    ReadWholeZipEntry(opened.archive, opened.archive.entries[0], 5);
    ADD_FAILURE() << "read past the limit";
  } catch (const ZipFailure& failure) {
    EXPECT_EQ(failure.message, "has a part 'z.bin' of 6 bytes, more than this reader takes");
  }
  // The layout is the format's if another reader agrees.
  if (std::filesystem::exists(kPython)) {
    EXPECT_EQ(RunPython("import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).read(\"z.bin\"))",
                        folder / "z.zip"),
              "b'zip64!'\n");
  }
}

struct Damage {
  const char* what;
  std::size_t offset;
  int width;
  std::uint64_t value;
  const char* message;  // what the failure's message holds
};

void ExpectEachDamageFails(const std::string& archive, const std::vector<Damage>& damages) {
  TempFolder folder;
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::string bytes = archive;
    Put(bytes, damage.offset, damage.width, damage.value);
    WriteWholeFile(folder / "d.zip", bytes);
    EXPECT_NE(ZipFailureOfReadingAll(folder / "d.zip").find(damage.message), std::string::npos)
        << ZipFailureOfReadingAll(folder / "d.zip");
  }
}

TEST(ZipArchiveTest, DamagedArchivesFailAsZipFailures) {
  TempFolder folder;
  const std::string content(3000, 'a');
  WriteArchive(folder / "a.zip", {{"a.xml", content}}, 9);
  const std::string archive = ReadWholeFile(folder / "a.zip");
  const std::size_t end = archive.size() - 22;
  const std::size_t central = end - 46 - 5;
  const std::size_t compressed = central - 35;
  ExpectEachDamageFails(
      archive,
      {
          {"not a zip", end, 4, 0, "is not a zip archive"},
          {"split", end + 10, 2, 2, "split over several files"},
          {"directory offset past the end", end + 16, 4, 0x7FFFFFFF, "directory lies outside"},
          {"directory larger than the file", end + 12, 4, 0x10000, "directory lies outside"},
          {"more entries than the directory holds", end + 8, 4, 0x20002,
           "shorter than its entries"},
          {"directory entry signature", central, 4, 0, "directory holds a damaged entry"},
          {"name length past the directory", central + 28, 2, 100, "directory is cut short"},
          {"name too long", central + 28, 2, 5000, "longer than 4096 bytes"},
          {"local header past the end", central + 42, 4, 0x1000, "'a.xml' lies outside the file"},
          {"data past the end", central + 20, 4, compressed + 1, "'a.xml' lies outside the file"},
          {"data cut short", central + 20, 4, compressed - 1, "'a.xml' holds damaged deflated"},
          {"checksum", central + 16, 4, 0, "'a.xml' does not match its checksum"},
          {"size smaller than the data", central + 24, 4, 2999, "'a.xml' holds more data than"},
          {"size larger than the data", central + 24, 4, 3001, "'a.xml' holds less data than"},
          {"encrypted", central + 8, 2, 0x0801, "holds an encrypted entry 'a.xml'"},
          {"strongly encrypted", central + 8, 2, 0x0840, "holds an encrypted entry 'a.xml'"},
          {"patch data", central + 8, 2, 0x0820, "'a.xml' stored as patch data"},
          {"unknown method", central + 10, 2, 14, "'a.xml' compressed by method 14"},
          {"stored with two sizes", central + 10, 2, 0, "'a.xml' is stored with two different"},
          {"local signature", 0, 4, 0, "'a.xml' has no local header"},
          {"local name", 30, 1, 'b', "'a.xml' has another name"},
          {"local extra past the data", 28, 2, 0xFFFF, "'a.xml' lies outside the file"},
          {"invalid deflate block", 35, 1, 0xFF, "'a.xml' holds damaged deflated data"},
      });
  ExpectEachDamageFails(
      HandMadeZip64Archive(),
      {
          {"zip64 record past the file", 176 + 8, 8, 0x10000, "zip64 end record lies outside"},
          {"zip64 record signature", 120, 4, 0, "zip64 end record is missing"},
          {"zip64 directory offset", 120 + 48, 8, 1ull << 40, "directory lies outside"},
          {"zip64 directory size", 120 + 40, 8, 1ull << 62, "directory lies outside"},
          {"zip64 entry count", 120 + 24, 16, 1ull << 33, "more than 100000 entries"},
          {"zip64 extra past its field", 41 + 46 + 5 + 2, 2, 200, "has a damaged extra field"},
          {"zip64 extra short", 41 + 46 + 5 + 2, 2, 8, "has a damaged zip64 field"},
          {"zip64 offset past the file", 41 + 46 + 5 + 20, 8, 1ull << 40, "lies outside the file"},
      });
  // Cut at every length, the archive no longer ends in its end record.
  for (std::size_t length = 0; length < archive.size(); ++length) {
    WriteWholeFile(folder / "cut.zip", archive.substr(0, length));
    EXPECT_NE(ZipFailureOfReadingAll(folder / "cut.zip"), "") << length;
  }
}

// 1 GiB of zeros in a few MB, claimed as 1 KiB.
TEST(ZipArchiveTest, DeflateBombProducesNothingPastItsSize) {
  TempFolder folder;
  WriteArchive(folder / "bomb.zip", {{"bomb", std::string(1 << 20, '\0'), 1024}}, 1);
  std::string bytes = ReadWholeFile(folder / "bomb.zip");
  Put(bytes, bytes.size() - 22 - 46 - 4 + 24, 4, 1024);  // the directory's size of the entry
  WriteWholeFile(folder / "bomb.zip", bytes);
  OpenedArchive opened(folder / "bomb.zip");
  opened.Read();
  ZipEntryReader reader;
  OpenZipEntry(opened.archive, opened.archive.entries[0], reader);
  std::vector<char> buffer(1 << 16);
  std::size_t produced = 0;
  const auto readAll = [&] {
    for (std::size_t got; (got = ReadZipEntry(reader, buffer.data(), buffer.size())) > 0;) {
      produced += got;
    }
  };
  EXPECT_THROW(readAll(), ZipFailure);
  EXPECT_LE(produced, 1024u);
  CloseZipEntry(reader);
  EXPECT_EQ(ZipFailureOfReadingAll(folder / "bomb.zip"),
            "is damaged: entry 'bomb' holds more data than its size");
}

// The writer stops below the entry count that would mark a zip64 record; a failed write raises
// IoFailure, after which the writer still closes.
TEST(ZipArchiveTest, WriterStopsAtTheFormatsLimitsAndAtFailedWrites) {
  TempFolder folder;
  PlatformFile file;
  ASSERT_EQ(CreateFileForWriting((folder / "many.zip").c_str(), file), 0);
  ZipWriter zip;
  StartZip(zip, file, 1);
  for (int index = 0; index < 65534; ++index)
    BeginZipEntry(zip, std::to_string(index));
  EXPECT_THROW(BeginZipEntry(zip, "65534"), ZipFailure);
  FinishZip(zip);
  CloseZipWriter(zip);
  CloseFile(file);
  OpenedArchive opened(folder / "many.zip");
  opened.Read();
  EXPECT_EQ(opened.archive.entries.size(), 65534u);
  EXPECT_EQ(opened.archive.entries.back().name, "65533");

  ASSERT_TRUE(OpenFileForReading((folder / "many.zip").c_str(), file));
  StartZip(zip, file, 6);
  BeginZipEntry(zip, "a");
  AppendZipEntry(zip, "content");
  EXPECT_THROW(EndZipEntry(zip), IoFailure);
  CloseZipWriter(zip);
  CloseZipWriter(zip);
  CloseFile(file);
}

// An entry moved into a file that refuses a write is spoilt: the file lacks bytes, so every later
// write of the entry fails too, even into a file that would take it.
TEST(ZipArchiveTest, AnEntryWhoseFileRefusedAWriteFailsEveryLaterWrite) {
  TempFolder folder;
  WriteWholeFile(folder / "read-only.xlsx", "");
  PlatformFile refusing;
  ASSERT_TRUE(OpenFileForReading((folder / "read-only.xlsx").c_str(), refusing));
  PlatformFile taking;
  ASSERT_EQ(CreateFileForWriting((folder / "taking.xlsx").c_str(), taking), 0);
  ZipEntryInMemory entry;
  StartEntryInMemory(entry);
  AppendEntryInMemory(entry, std::string(1 << 20, 'x'));
  EXPECT_THROW(MoveEntryIntoFile(entry, refusing, "xl/worksheets/sheet1.xml"), IoFailure);
  entry.file = taking;
  EXPECT_THROW(AppendEntryInMemory(entry, std::string(1 << 20, 'x')), IoFailure);
  EXPECT_THROW(FinishEntryInMemory(entry), IoFailure);
  CloseEntryInMemory(entry);
  EXPECT_EQ(CloseFile(taking), 0);
  EXPECT_EQ(CloseFile(refusing), 0);
  EXPECT_EQ(ReadWholeFile(folder / "taking.xlsx"), "");
}

TEST(ZipArchiveTest, FileKindsAreToldByTheirFirstBytes) {
  const struct {
    std::string bytes;
    bool zip;
    bool compound;
  } cases[] = {
      {"", false, false},
      {"PK\x03", false, false},
      {"PK\x03\x04", true, false},
      {"PK\x05\x06" + std::string(18, '\0'), true, false},
      {"PK\x05\x06" + std::string(19, '\0'), false, false},
      {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 and more", false, true},
      {"\xD0\xCF\x11\xE0\xA1\xB1\x1A", false, false},
  };
  TempFolder folder;
  for (const auto& c : cases) {
    WriteWholeFile(folder / "f", c.bytes);
    PlatformFile file;
    ASSERT_TRUE(OpenFileForReading((folder / "f").c_str(), file));
    EXPECT_EQ(LooksLikeZip(file), c.zip) << c.bytes;
    EXPECT_EQ(IsCompoundFile(file), c.compound) << c.bytes;
    CloseFile(file);
  }
}

}  // namespace
