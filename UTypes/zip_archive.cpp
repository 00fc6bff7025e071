// The zip container of workbooks: deflated entries written one after another, and read back.
#include "zip_archive.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "quick_deflate.h"
#include "run_failure.h"
#include "zip_crc.h"

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kLongestComment = 0xFFFF;

constexpr std::uint16_t kVersion20 = 20;  // deflate; as "made by", MS-DOS attributes
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kPatchDataFlag = 0x0020;
constexpr std::uint16_t kStrongEncryptionFlag = 0x0040;
constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr std::uint16_t kDosTime = 0;             // 00:00:00
constexpr std::uint16_t kDosDate = (1 << 5) | 1;  // 1980-01-01
constexpr std::uint16_t kZip64ExtraField = 0x0001;
constexpr int kRawDeflateWindowBits = -15;  // no zlib header or trailer
constexpr int kDeflateMemoryLevel = 8;

// 0xFFFFFFFF and 0xFFFF in a field say that a zip64 record holds the value: a writer without
// zip64 stays below them.
constexpr std::uint64_t kZip64Marker32 = 0xFFFFFFFF;
constexpr std::uint64_t kZip64Marker16 = 0xFFFF;
constexpr std::uint64_t kLargestWritten = kZip64Marker32 - 1;
constexpr std::size_t kMostWrittenEntries = kZip64Marker16 - 1;

// The most bytes handed to zlib at once: its counts are 32 bits.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

constexpr const char* kTooLarge = "is too large for a workbook";

[[noreturn]] void RaiseZipFailure(std::string message) {
  throw ZipFailure{std::move(message)};
}

// An entry's name as a message shows it: quoted, control bytes as '?'.
std::string QuotedName(std::string_view name) {
  std::string quoted = "'";
  for (const char byte : name) {
    const auto code = static_cast<unsigned char>(byte);
    quoted += code < 0x20 || code == 0x7F ? '?' : byte;
  }
  return quoted + "'";
}

[[noreturn]] void RaiseDamagedEntry(std::string_view name, std::string_view what) {
  RaiseZipFailure("is damaged: entry " + QuotedName(name) + " " + std::string(what));
}

[[noreturn]] void RaiseDamaged(std::string_view what) {
  RaiseZipFailure("is damaged: " + std::string(what));
}

void AppendLittleEndian(std::string& bytes, std::uint64_t value, int width) {
  for (int index = 0; index < width; ++index) {
    bytes += static_cast<char>((value >> (8 * index)) & 0xFF);
  }
}

std::uint64_t LittleEndianAt(const unsigned char* bytes, int width) {
  std::uint64_t value = 0;
  for (int index = width - 1; index >= 0; --index)
    value = (value << 8) | bytes[index];
  return value;
}

std::uint16_t Read16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(LittleEndianAt(bytes, 2));
}

std::uint32_t Read32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(LittleEndianAt(bytes, 4));
}

std::uint64_t Read64(const unsigned char* bytes) {
  return LittleEndianAt(bytes, 8);
}

// Whether `count` bytes at `offset` end at or before `limit`, without overflowing.
bool FitsBefore(std::uint64_t offset, std::uint64_t count, std::uint64_t limit) {
  return offset <= limit && count <= limit - offset;
}

// ---- Writing

// The bytes written into a file before the disk is asked to start writing them.
constexpr std::uint64_t kWriteBackBytes = std::uint64_t{8} << 20;

// Counts `written` bytes more into the file, and every kWriteBackBytes has the disk start
// writing them: the disk keeps writing while the file is made, so that syncing it at its end
// waits for its last bytes only.
void KeepWritingBack(PlatformFile file, std::uint64_t& sinceWriteBack, std::size_t written) {
  sinceWriteBack += written;
  if (sinceWriteBack < kWriteBackBytes) return;
  StartWritingBack(file);
  sinceWriteBack = 0;
}

std::uint64_t WritePosition(const ZipWriter& zip) {
  return zip.offset + zip.outputUsed;
}

void FlushOutput(ZipWriter& zip) {
  if (zip.outputUsed == 0) return;
  const int error = WriteFileFully(zip.file, zip.output.data(), zip.outputUsed);
  if (error != 0) RaiseIoFailure(error);
  KeepWritingBack(zip.file, zip.writtenSinceWriteBack, zip.outputUsed);
  zip.offset += zip.outputUsed;
  zip.outputUsed = 0;
}

void QueueBytes(ZipWriter& zip, std::string_view bytes) {
  // Bytes that would fill the buffer, as an entry deflated into memory gives them, go to the file
  // as they are rather than copied through it.
  if (bytes.size() >= zip.output.size()) {
    FlushOutput(zip);
    const int error = WriteFileFully(zip.file, bytes.data(), bytes.size());
    if (error != 0) RaiseIoFailure(error);
    KeepWritingBack(zip.file, zip.writtenSinceWriteBack, bytes.size());
    zip.offset += bytes.size();
    return;
  }
  while (!bytes.empty()) {
    if (zip.outputUsed == zip.output.size()) FlushOutput(zip);
    const std::size_t piece = std::min(bytes.size(), zip.output.size() - zip.outputUsed);
    std::memcpy(zip.output.data() + zip.outputUsed, bytes.data(), piece);
    zip.outputUsed += piece;
    bytes.remove_prefix(piece);
  }
}

// The fields from "version needed" to the name length that the local and central headers share.
void AppendCommonFields(std::string& bytes, const ZipWrittenEntry& entry) {
  AppendLittleEndian(bytes, kVersion20, 2);
  AppendLittleEndian(bytes, kUtf8NameFlag, 2);
  AppendLittleEndian(bytes, kMethodDeflated, 2);
  AppendLittleEndian(bytes, kDosTime, 2);
  AppendLittleEndian(bytes, kDosDate, 2);
  AppendLittleEndian(bytes, entry.crc, 4);
  AppendLittleEndian(bytes, entry.compressedSize, 4);
  AppendLittleEndian(bytes, entry.size, 4);
  AppendLittleEndian(bytes, entry.name.size(), 2);
}

std::string LocalHeader(const ZipWrittenEntry& entry) {
  std::string bytes;
  AppendLittleEndian(bytes, kLocalHeaderSignature, 4);
  AppendCommonFields(bytes, entry);
  AppendLittleEndian(bytes, 0, 2);  // extra field length
  return bytes + entry.name;
}

std::string CentralHeader(const ZipWrittenEntry& entry) {
  std::string bytes;
  AppendLittleEndian(bytes, kCentralHeaderSignature, 4);
  AppendLittleEndian(bytes, kVersion20, 2);  // made by
  AppendCommonFields(bytes, entry);
  AppendLittleEndian(bytes, 0, 2);  // extra field length
  AppendLittleEndian(bytes, 0, 2);  // comment length
  AppendLittleEndian(bytes, 0, 2);  // disk number start
  AppendLittleEndian(bytes, 0, 2);  // internal attributes
  AppendLittleEndian(bytes, 0, 4);  // external attributes
  AppendLittleEndian(bytes, entry.localHeaderOffset, 4);
  return bytes + entry.name;
}

std::string EndRecord(std::size_t entryCount, std::uint64_t directorySize,
                      std::uint64_t directoryOffset) {
  std::string bytes;
  AppendLittleEndian(bytes, kEndRecordSignature, 4);
  AppendLittleEndian(bytes, 0, 2);  // this disk
  AppendLittleEndian(bytes, 0, 2);  // the disk of the directory
  AppendLittleEndian(bytes, entryCount, 2);
  AppendLittleEndian(bytes, entryCount, 2);
  AppendLittleEndian(bytes, directorySize, 4);
  AppendLittleEndian(bytes, directoryOffset, 4);
  AppendLittleEndian(bytes, 0, 2);  // comment length
  return bytes;
}

// Writes the entry's checksum and sizes into its local header, which is in the file.
void PatchLocalHeader(const ZipWriter& zip, const ZipWrittenEntry& entry) {
  std::string fields;
  AppendLittleEndian(fields, entry.crc, 4);
  AppendLittleEndian(fields, entry.compressedSize, 4);
  AppendLittleEndian(fields, entry.size, 4);
  constexpr std::int64_t kCrcFieldOffset = 14;
  const int error = WriteFileAt(zip.file, std::int64_t{entry.localHeaderOffset} + kCrcFieldOffset,
                                fields.data(), fields.size());
  if (error != 0) RaiseIoFailure(error);
}

// A deflate stream at `level`, reset for a new entry, made anew when the level changes.
void PrepareDeflate(ZipWriter& zip, int level) {
  if (zip.streamReady && zip.streamLevel == level) {
    deflateReset(&zip.stream);
    return;
  }
  if (zip.streamReady) deflateEnd(&zip.stream);
  zip.streamReady = false;
  zip.stream = z_stream{};
  const int result = deflateInit2(&zip.stream, level, Z_DEFLATED, kRawDeflateWindowBits,
                                  kDeflateMemoryLevel, Z_DEFAULT_STRATEGY);
  if (result == Z_MEM_ERROR) throw std::bad_alloc();
  if (result != Z_OK) RaiseZipFailure("cannot be deflated at level " + std::to_string(level));
  zip.streamReady = true;
  zip.streamLevel = level;
}

// Deflates the stream's input with `flush`, writing out each buffer that fills, until the input
// is taken (Z_NO_FLUSH) or the deflated data is complete (Z_FINISH).
void RunDeflate(ZipWriter& zip, int flush) {
  for (;;) {
    if (zip.outputUsed == zip.output.size()) FlushOutput(zip);
    const std::size_t room = zip.output.size() - zip.outputUsed;
    zip.stream.next_out = zip.output.data() + zip.outputUsed;
    zip.stream.avail_out = static_cast<uInt>(room);
    const int result = deflate(&zip.stream, flush);
    const std::size_t made = room - zip.stream.avail_out;
    zip.outputUsed += made;
    zip.entryCompressedSize += made;
    if (zip.entryCompressedSize > kLargestWritten) RaiseZipFailure(kTooLarge);
    if (result == Z_STREAM_END) return;
    if (result != Z_OK && result != Z_BUF_ERROR) RaiseZipFailure("cannot be deflated");
    // Room left over means deflate has taken all input and holds nothing back.
    if (flush == Z_NO_FLUSH && zip.stream.avail_out != 0) return;
  }
}

}  // namespace

void StartZip(ZipWriter& zip, PlatformFile file, int deflateLevel) {
  zip.file = file;
  zip.offset = 0;
  zip.entries.clear();
  zip.deflateLevel = deflateLevel;
  zip.entryOpen = false;
  zip.output.assign(kZipBufferSize, 0);
  zip.outputUsed = 0;
}

void BeginZipEntry(ZipWriter& zip, std::string_view name, int deflateLevel) {
  EndZipEntry(zip);
  const std::uint64_t headerOffset = WritePosition(zip);
  if (zip.entries.size() >= kMostWrittenEntries || name.size() > kZipLongestName ||
      headerOffset > kLargestWritten) {
    RaiseZipFailure(kTooLarge);
  }
  PrepareDeflate(zip, deflateLevel < 0 ? zip.deflateLevel : deflateLevel);
  ZipWrittenEntry entry;
  entry.name = name;
  entry.localHeaderOffset = static_cast<std::uint32_t>(headerOffset);
  QueueBytes(zip, LocalHeader(entry));
  zip.entries.push_back(std::move(entry));
  zip.entryOpen = true;
  zip.entrySize = 0;
  zip.entryCompressedSize = 0;
  zip.entryCrc = 0;
}

void AppendZipEntry(ZipWriter& zip, std::string_view bytes) {
  zip.entrySize += bytes.size();
  if (zip.entrySize > kLargestWritten) RaiseZipFailure(kTooLarge);
  while (!bytes.empty()) {
    const std::size_t piece = std::min(bytes.size(), kLargestPiece);
    // zlib's input pointer is not const, but deflate only reads through it.
    auto* input = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zip.entryCrc = UpdateCrc(zip.entryCrc, input, piece);
    zip.stream.next_in = input;
    zip.stream.avail_in = static_cast<uInt>(piece);
    RunDeflate(zip, Z_NO_FLUSH);
    bytes.remove_prefix(piece);
  }
}

void EndZipEntry(ZipWriter& zip) {
  if (!zip.entryOpen) return;
  zip.entryOpen = false;
  zip.stream.next_in = nullptr;
  zip.stream.avail_in = 0;
  RunDeflate(zip, Z_FINISH);
  ZipWrittenEntry& entry = zip.entries.back();
  entry.crc = zip.entryCrc;
  entry.compressedSize = static_cast<std::uint32_t>(zip.entryCompressedSize);
  entry.size = static_cast<std::uint32_t>(zip.entrySize);
  // The header must be in the file before its fields are patched there.
  FlushOutput(zip);
  PatchLocalHeader(zip, entry);
}

void FinishZip(ZipWriter& zip) {
  EndZipEntry(zip);
  const std::uint64_t directoryOffset = WritePosition(zip);
  std::uint64_t directorySize = 0;
  for (const ZipWrittenEntry& entry : zip.entries) {
    directorySize += kCentralHeaderSize + entry.name.size();
  }
  if (!FitsBefore(directoryOffset, directorySize, kLargestWritten)) RaiseZipFailure(kTooLarge);
  for (const ZipWrittenEntry& entry : zip.entries)
    QueueBytes(zip, CentralHeader(entry));
  QueueBytes(zip, EndRecord(zip.entries.size(), directorySize, directoryOffset));
  FlushOutput(zip);
}

void CloseZipWriter(ZipWriter& zip) {
  if (zip.streamReady) deflateEnd(&zip.stream);
  zip.stream = z_stream{};
  zip.streamReady = false;
  zip.entryOpen = false;
  std::vector<unsigned char>().swap(zip.output);
  zip.outputUsed = 0;
}

// ---- Entries deflated into memory

namespace {

// The input taken by the quick encoder at a time: its matches lie within one such piece.
constexpr std::size_t kQuickPiece = kZipBufferSize;

// The deflated bytes are written in place into chunks of this size, each taken once and
// filled in turn: the encoder's output is never copied, and its pages are touched only as it
// writes them.
constexpr std::size_t kDeflatedChunk = std::size_t{4} << 20;

// Room for `count` bytes at the end of the entry's deflated bytes: in its last chunk, or in a new
// one where that has too little left.
char* DeflatedSpace(ZipEntryInMemory& entry, std::size_t count) {
  if (entry.pieces.empty() || entry.pieces.back().capacity - entry.pieces.back().size < count) {
    RowBuilder& chunk = entry.pieces.emplace_back();
    RowSpace(chunk, std::max(count, kDeflatedChunk));
    AdviseLargePages(chunk.bytes.get(), chunk.capacity);
  }
  return RowSpace(entry.pieces.back(), count);
}

// Counts the bytes written from the last chunk's end up to `end` into the entry.
void CountDeflated(ZipEntryInMemory& entry, const char* end) {
  RowBuilder& chunk = entry.pieces.back();
  const char* const start = chunk.bytes.get() + chunk.size;
  entry.compressedSize += static_cast<std::size_t>(end - start);
  chunk.size += static_cast<std::size_t>(end - start);
  if (entry.compressedSize > kLargestWritten) RaiseZipFailure(kTooLarge);
}

// Counts `count` more bytes into the entry, before they are deflated.
void CountEntryBytes(ZipEntryInMemory& entry, std::size_t count) {
  entry.size += count;
  if (entry.size > kLargestWritten) RaiseZipFailure(kTooLarge);
}

bool IsInFile(const ZipEntryInMemory& entry) {
  return entry.file.handle != -1;
}

// Writes bytes into the entry's file. After a failed write the file lacks bytes: every later
// write fails alike, however the file would take it.
void WriteIntoEntryFile(ZipEntryInMemory& entry, const char* bytes, std::size_t count) {
  if (entry.fileError == 0) entry.fileError = WriteFileFully(entry.file, bytes, count);
  if (entry.fileError != 0) RaiseIoFailure(entry.fileError);
  KeepWritingBack(entry.file, entry.writtenSinceWriteBack, count);
}

// Writes the deflated bytes held into the entry's file, keeping the last chunk, emptied, for the
// next pieces.
void WriteHeldBytes(ZipEntryInMemory& entry) {
  for (RowBuilder& chunk : entry.pieces) {
    WriteIntoEntryFile(entry, chunk.bytes.get(), chunk.size);
    chunk.size = 0;
  }
  if (entry.pieces.size() > 1) entry.pieces.erase(entry.pieces.begin(), entry.pieces.end() - 1);
}

}  // namespace

void StartEntryInMemory(ZipEntryInMemory& entry) {
  CloseEntryInMemory(entry);
  StartQuickDeflate(entry.deflater);
  entry.open = true;
}

void AppendEntryInMemory(ZipEntryInMemory& entry, std::string_view bytes) {
  CountEntryBytes(entry, bytes.size());
  while (!bytes.empty()) {
    const std::string_view piece = bytes.substr(0, kQuickPiece);
    entry.crc = UpdateCrc(entry.crc, reinterpret_cast<const Bytef*>(piece.data()), piece.size());
    char* const out = DeflatedSpace(entry, MostQuickDeflated(piece.size()));
    CountDeflated(entry, QuickDeflatePiece(entry.deflater, piece, out));
    if (IsInFile(entry)) WriteHeldBytes(entry);
    bytes.remove_prefix(piece.size());
  }
}

void DeflatePieceApart(QuickDeflater& deflater, std::string_view bytes, DeflatedPiece& piece) {
  if (deflater.lastPositions.empty()) StartQuickDeflate(deflater);
  piece.bytes.size = 0;
  piece.crc = UpdateCrc(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
  piece.size = bytes.size();
  // Split where AppendEntryInMemory splits, so that the blocks are the same.
  while (!bytes.empty()) {
    const std::string_view part = bytes.substr(0, kQuickPiece);
    char* const out = RowSpace(piece.bytes, MostQuickDeflated(part.size()));
    piece.bytes.size += static_cast<std::size_t>(QuickDeflatePiece(deflater, part, out) - out);
    bytes.remove_prefix(part.size());
  }
}

void AppendDeflatedPiece(ZipEntryInMemory& entry, const DeflatedPiece& piece) {
  CountEntryBytes(entry, piece.size);
  entry.crc = JoinedCrc(entry.crc, piece.crc, piece.size);
  char* const out = DeflatedSpace(entry, piece.bytes.size);
  if (piece.bytes.size > 0) std::memcpy(out, piece.bytes.bytes.get(), piece.bytes.size);
  CountDeflated(entry, out + piece.bytes.size);
  if (IsInFile(entry)) WriteHeldBytes(entry);
}

void FinishEntryInMemory(ZipEntryInMemory& entry) {
  char* const out = DeflatedSpace(entry, kMostQuickDeflateEnd);
  CountDeflated(entry, FinishQuickDeflate(out));
  if (IsInFile(entry)) WriteHeldBytes(entry);
  entry.open = false;
}

void MoveEntryIntoFile(ZipEntryInMemory& entry, PlatformFile file, std::string_view name) {
  if (name.size() > kZipLongestName) RaiseZipFailure(kTooLarge);
  ZipWrittenEntry header;
  header.name = name;
  entry.file = file;
  entry.name = name;
  const std::string bytes = LocalHeader(header);
  WriteIntoEntryFile(entry, bytes.data(), bytes.size());
  WriteHeldBytes(entry);
}

void WriteEntryInMemory(ZipWriter& zip, std::string_view name, ZipEntryInMemory& entry) {
  if (entry.open) FinishEntryInMemory(entry);
  EndZipEntry(zip);
  const std::uint64_t headerOffset = WritePosition(zip);
  if (zip.entries.size() >= kMostWrittenEntries || name.size() > kZipLongestName ||
      headerOffset > kLargestWritten) {
    RaiseZipFailure(kTooLarge);
  }
  ZipWrittenEntry written;
  written.name = name;
  written.crc = entry.crc;
  written.compressedSize = static_cast<std::uint32_t>(entry.compressedSize);
  written.size = static_cast<std::uint32_t>(entry.size);
  written.localHeaderOffset = static_cast<std::uint32_t>(headerOffset);
  if (IsInFile(entry)) {
    // The archive's first entry, whose header and data are in the file from its start.
    written.name = entry.name;
    zip.offset = kLocalHeaderSize + written.name.size() + entry.compressedSize;
    PatchLocalHeader(zip, written);
  } else {
    QueueBytes(zip, LocalHeader(written));
    for (RowBuilder& piece : entry.pieces) {
      QueueBytes(zip, RowText(piece));
      piece = RowBuilder{};
    }
  }
  zip.entries.push_back(std::move(written));
  CloseEntryInMemory(entry);
}

void CloseEntryInMemory(ZipEntryInMemory& entry) {
  entry.deflater = QuickDeflater{};
  entry.open = false;
  std::vector<RowBuilder>().swap(entry.pieces);
  entry.crc = 0;
  entry.size = 0;
  entry.compressedSize = 0;
  entry.file = PlatformFile{};
  entry.name.clear();
  entry.fileError = 0;
}

// ---- Reading

namespace {

// Reads exactly `count` bytes at `offset`; the file ending first is a read beyond its end.
void ReadExactlyAt(PlatformFile file, std::uint64_t offset, void* destination, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(destination);
  while (count > 0) {
    std::size_t got = 0;
    const int error = ReadFileAt(file, static_cast<std::int64_t>(offset), bytes, count, got);
    if (error != 0) RaiseIoFailure(error);
    if (got == 0) RaiseIoFailure(kErrorReadBeyondEnd);
    bytes += got;
    offset += got;
    count -= got;
  }
}

// Where the central directory lies, from the end record or its zip64 record.
struct DirectoryPlace {
  std::uint64_t entryCount = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  std::uint64_t limit = 0;  // where the end records begin: the directory ends before it
};

// The offset of the end record in `tail`, the last bytes of the file: the last signature whose
// record and comment end exactly at the end of the file. ZipFailure when there is none.
std::size_t FindEndRecord(const std::vector<unsigned char>& tail) {
  for (std::size_t start = tail.size() - kEndRecordSize + 1; start-- > 0;) {
    const unsigned char* record = tail.data() + start;
    if (Read32(record) == kEndRecordSignature &&
        start + kEndRecordSize + Read16(record + 20) == tail.size()) {
      return start;
    }
  }
  RaiseZipFailure("is not a zip archive");
}

void RefuseSeveralDisks(bool several) {
  if (several) RaiseZipFailure("is a zip archive split over several files");
}

// Takes the directory's place from the zip64 record that the locator at `locatorOffset` points
// to.
void ReadZip64EndRecord(PlatformFile file, const unsigned char* locator,
                        std::uint64_t locatorOffset, DirectoryPlace& place) {
  RefuseSeveralDisks(Read32(locator + 4) != 0 || Read32(locator + 16) > 1);
  const std::uint64_t recordOffset = Read64(locator + 8);
  if (!FitsBefore(recordOffset, kZip64EndRecordSize, locatorOffset)) {
    RaiseDamaged("its zip64 end record lies outside the file");
  }
  unsigned char record[kZip64EndRecordSize];
  ReadExactlyAt(file, recordOffset, record, sizeof record);
  if (Read32(record) != kZip64EndRecordSignature) RaiseDamaged("its zip64 end record is missing");
  RefuseSeveralDisks(Read32(record + 16) != 0 || Read32(record + 20) != 0 ||
                     Read64(record + 24) != Read64(record + 32));
  place.entryCount = Read64(record + 32);
  place.size = Read64(record + 40);
  place.offset = Read64(record + 48);
  place.limit = recordOffset;
}

DirectoryPlace LocateDirectory(PlatformFile file, std::uint64_t fileSize) {
  if (fileSize < kEndRecordSize) RaiseZipFailure("is not a zip archive");
  // The end record, its longest comment and the zip64 locator before it.
  const std::uint64_t tailSize =
      std::min<std::uint64_t>(fileSize, kZip64LocatorSize + kEndRecordSize + kLongestComment);
  std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
  const std::uint64_t tailOffset = fileSize - tailSize;
  ReadExactlyAt(file, tailOffset, tail.data(), tail.size());
  const std::size_t start = FindEndRecord(tail);
  const unsigned char* record = tail.data() + start;
  RefuseSeveralDisks(Read16(record + 4) != 0 || Read16(record + 6) != 0 ||
                     Read16(record + 8) != Read16(record + 10));
  DirectoryPlace place;
  place.entryCount = Read16(record + 10);
  place.size = Read32(record + 12);
  place.offset = Read32(record + 16);
  place.limit = tailOffset + start;
  if (start >= kZip64LocatorSize && Read32(record - kZip64LocatorSize) == kZip64LocatorSignature) {
    const std::uint64_t locatorOffset = place.limit - kZip64LocatorSize;
    ReadZip64EndRecord(file, record - kZip64LocatorSize, locatorOffset, place);
  }
  if (place.entryCount > kZipMostEntries) {
    RaiseDamaged("its directory holds more than " + std::to_string(kZipMostEntries) + " entries");
  }
  if (!FitsBefore(place.offset, place.size, place.limit)) {
    RaiseDamaged("its directory lies outside the file");
  }
  if (place.entryCount * kCentralHeaderSize > place.size) {
    RaiseDamaged("its directory is shorter than its entries");
  }
  return place;
}

// Takes the entry's sizes and offset that are marked as held by the zip64 field of `extra`.
void ReadZip64Fields(const unsigned char* extra, std::size_t length, ZipEntry& entry) {
  std::uint64_t* const fields[] = {&entry.size, &entry.compressedSize, &entry.localHeaderOffset};
  while (length >= 4) {
    const std::uint16_t id = Read16(extra);
    const std::size_t blockSize = Read16(extra + 2);
    if (blockSize > length - 4) RaiseDamagedEntry(entry.name, "has a damaged extra field");
    if (id == kZip64ExtraField) {
      std::size_t used = 0;
      for (std::uint64_t* field : fields) {
        if (*field != kZip64Marker32) continue;
        if (blockSize - used < 8) RaiseDamagedEntry(entry.name, "has a damaged zip64 field");
        *field = Read64(extra + 4 + used);
        used += 8;
      }
    }
    extra += 4 + blockSize;
    length -= 4 + blockSize;
  }
}

// Reads the directory's entry at `position`, moving it past the entry. `scratch` holds its name
// and extra field.
ZipEntry ReadDirectoryEntry(PlatformFile file, std::uint64_t& position, const DirectoryPlace& place,
                            std::vector<unsigned char>& scratch) {
  const std::uint64_t directoryEnd = place.offset + place.size;
  unsigned char header[kCentralHeaderSize];
  if (!FitsBefore(position, sizeof header, directoryEnd))
    RaiseDamaged("its directory is cut short");
  ReadExactlyAt(file, position, header, sizeof header);
  if (Read32(header) != kCentralHeaderSignature)
    RaiseDamaged("its directory holds a damaged entry");
  const std::size_t nameLength = Read16(header + 28);
  const std::size_t extraLength = Read16(header + 30);
  const std::size_t recordSize = sizeof header + nameLength + extraLength + Read16(header + 32);
  if (nameLength > kZipLongestName) {
    RaiseDamaged("its directory holds a name longer than " + std::to_string(kZipLongestName) +
                 " bytes");
  }
  if (!FitsBefore(position, recordSize, directoryEnd)) RaiseDamaged("its directory is cut short");
  scratch.resize(nameLength + extraLength);
  ReadExactlyAt(file, position + sizeof header, scratch.data(), scratch.size());
  ZipEntry entry;
  entry.name.assign(reinterpret_cast<const char*>(scratch.data()), nameLength);
  entry.flags = Read16(header + 8);
  entry.method = Read16(header + 10);
  entry.crc = Read32(header + 16);
  entry.compressedSize = Read32(header + 20);
  entry.size = Read32(header + 24);
  entry.localHeaderOffset = Read32(header + 42);
  ReadZip64Fields(scratch.data() + nameLength, extraLength, entry);
  // The entry's data lies between its local header and the directory.
  if (!FitsBefore(entry.localHeaderOffset, kLocalHeaderSize, place.offset) ||
      entry.compressedSize > place.offset - entry.localHeaderOffset - kLocalHeaderSize) {
    RaiseDamagedEntry(entry.name, "lies outside the file");
  }
  position += recordSize;
  return entry;
}

bool EqualIgnoringAsciiCase(std::string_view left, std::string_view right) {
  const auto lower = [](char byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; };
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

void RefuseUnreadableEntry(const ZipEntry& entry) {
  if ((entry.flags & (kEncryptedFlag | kStrongEncryptionFlag)) != 0) {
    RaiseZipFailure("holds an encrypted entry " + QuotedName(entry.name));
  }
  if ((entry.flags & kPatchDataFlag) != 0) {
    RaiseZipFailure("holds an entry " + QuotedName(entry.name) +
                    " stored as patch data, which this reader cannot unpack");
  }
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    RaiseZipFailure("holds an entry " + QuotedName(entry.name) + " compressed by method " +
                    std::to_string(entry.method) + ", which this reader cannot unpack");
  }
  if (entry.method == kMethodStored && entry.compressedSize != entry.size) {
    RaiseDamagedEntry(entry.name, "is stored with two different sizes");
  }
}

// The offset of the entry's data, after its local header, which is checked against the entry.
std::uint64_t ReadLocalHeader(const ZipArchive& archive, const ZipEntry& entry) {
  unsigned char header[kLocalHeaderSize];
  if (!FitsBefore(entry.localHeaderOffset, sizeof header, archive.directoryOffset)) {
    RaiseDamagedEntry(entry.name, "lies outside the file");
  }
  ReadExactlyAt(archive.file, entry.localHeaderOffset, header, sizeof header);
  if (Read32(header) != kLocalHeaderSignature) RaiseDamagedEntry(entry.name, "has no local header");
  const std::size_t nameLength = Read16(header + 26);
  const std::uint64_t nameOffset = entry.localHeaderOffset + sizeof header;
  const std::uint64_t dataOffset = nameOffset + nameLength + Read16(header + 28);
  if (!FitsBefore(dataOffset, entry.compressedSize, archive.directoryOffset)) {
    RaiseDamagedEntry(entry.name, "lies outside the file");
  }
  std::string localName(nameLength, '\0');
  ReadExactlyAt(archive.file, nameOffset, localName.data(), nameLength);
  if (localName != entry.name)
    RaiseDamagedEntry(entry.name, "has another name in its local header");
  return dataOffset;
}

// Hands the next deflated bytes of the file to zlib once it has taken all it had.
void RefillInput(ZipEntryReader& reader) {
  if (reader.stream.avail_in > 0 || reader.inputLeft == 0) return;
  const auto piece =
      static_cast<std::size_t>(std::min<std::uint64_t>(reader.inputLeft, reader.input.size()));
  ReadExactlyAt(reader.file, static_cast<std::uint64_t>(reader.nextInput), reader.input.data(),
                piece);
  reader.nextInput += static_cast<std::int64_t>(piece);
  reader.inputLeft -= piece;
  reader.stream.next_in = reader.input.data();
  reader.stream.avail_in = static_cast<uInt>(piece);
}

// One step of inflate into `room` bytes at `destination`; returns the bytes it made.
std::size_t InflateStep(ZipEntryReader& reader, unsigned char* destination, std::size_t room) {
  RefillInput(reader);
  reader.stream.next_out = destination;
  reader.stream.avail_out = static_cast<uInt>(room);
  const int result = inflate(&reader.stream, Z_NO_FLUSH);
  if (result == Z_STREAM_END) {
    reader.streamEnded = true;
  } else if (result == Z_MEM_ERROR) {
    throw std::bad_alloc();
  } else if (result != Z_OK) {
    // Z_BUF_ERROR here: the input ended before the deflated data did.
    RaiseDamagedEntry(reader.name, "holds damaged deflated data");
  }
  return room - reader.stream.avail_out;
}

std::size_t ReadDeflated(ZipEntryReader& reader, unsigned char* destination, std::size_t room) {
  std::size_t made = 0;
  while (made == 0) {
    if (reader.streamEnded) RaiseDamagedEntry(reader.name, "holds less data than its size");
    made = InflateStep(reader, destination, room);
  }
  return made;
}

std::size_t ReadStored(ZipEntryReader& reader, unsigned char* destination, std::size_t room) {
  ReadExactlyAt(reader.file, static_cast<std::uint64_t>(reader.nextInput), destination, room);
  reader.nextInput += static_cast<std::int64_t>(room);
  reader.inputLeft -= room;
  return room;
}

// At the entry's size: the deflated data must end there, with all of its compressed bytes taken,
// and the content must match its checksum. Inflates at most one byte past the size.
void CheckEntryEnd(ZipEntryReader& reader) {
  unsigned char beyond = 0;
  while (reader.method == kMethodDeflated && !reader.streamEnded) {
    if (InflateStep(reader, &beyond, 1) != 0) {
      RaiseDamagedEntry(reader.name, "holds more data than its size");
    }
  }
  if (reader.inputLeft != 0 || reader.stream.avail_in != 0) {
    RaiseDamagedEntry(reader.name, "holds more compressed data than it uses");
  }
  if (reader.crc != reader.expectedCrc) {
    RaiseDamagedEntry(reader.name, "does not match its checksum");
  }
  reader.finished = true;
}

}  // namespace

void ReadZipDirectory(PlatformFile file, ZipArchive& archive) {
  archive.file = file;
  archive.entries.clear();
  const int error = FileSize(file, archive.fileSize);
  if (error != 0) RaiseIoFailure(error);
  const DirectoryPlace place = LocateDirectory(file, static_cast<std::uint64_t>(archive.fileSize));
  archive.directoryOffset = place.offset;
  archive.entries.reserve(static_cast<std::size_t>(place.entryCount));
  std::vector<unsigned char> scratch;
  std::uint64_t position = place.offset;
  for (std::uint64_t index = 0; index < place.entryCount; ++index) {
    archive.entries.push_back(ReadDirectoryEntry(file, position, place, scratch));
  }
}

const ZipEntry* FindZipEntry(const ZipArchive& archive, std::string_view name) {
  if (!name.empty() && name.front() == '/') name.remove_prefix(1);
  for (const ZipEntry& entry : archive.entries) {
    if (EqualIgnoringAsciiCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

void OpenZipEntry(const ZipArchive& archive, const ZipEntry& entry, ZipEntryReader& reader) {
  CloseZipEntry(reader);
  RefuseUnreadableEntry(entry);
  const std::uint64_t dataOffset = ReadLocalHeader(archive, entry);
  reader.file = archive.file;
  reader.name = entry.name;
  reader.method = entry.method;
  reader.expectedCrc = entry.crc;
  reader.size = entry.size;
  reader.nextInput = static_cast<std::int64_t>(dataOffset);
  reader.inputLeft = entry.compressedSize;
  reader.produced = 0;
  reader.crc = 0;
  reader.finished = false;
  reader.streamEnded = false;
  if (entry.method != kMethodDeflated) return;
  reader.input.resize(kZipBufferSize);
  const int result = inflateInit2(&reader.stream, kRawDeflateWindowBits);
  if (result == Z_MEM_ERROR) throw std::bad_alloc();
  if (result != Z_OK) RaiseDamagedEntry(entry.name, "cannot be inflated");
  reader.streamReady = true;
}

std::size_t ReadZipEntry(ZipEntryReader& reader, char* destination, std::size_t capacity) {
  if (reader.finished || capacity == 0) return 0;
  const std::uint64_t left = reader.size - reader.produced;
  const auto room =
      static_cast<std::size_t>(std::min<std::uint64_t>({capacity, left, kLargestPiece}));
  auto* bytes = reinterpret_cast<unsigned char*>(destination);
  std::size_t made = 0;
  if (room > 0) {
    made = reader.method == kMethodDeflated ? ReadDeflated(reader, bytes, room)
                                            : ReadStored(reader, bytes, room);
    reader.crc = UpdateCrc(reader.crc, bytes, made);
    reader.produced += made;
  }
  if (reader.produced == reader.size) CheckEntryEnd(reader);
  return made;
}

void CloseZipEntry(ZipEntryReader& reader) {
  if (reader.streamReady) inflateEnd(&reader.stream);
  // A stored entry opened next must find no input left over from this one.
  reader.stream = z_stream{};
  reader.streamReady = false;
  std::vector<unsigned char>().swap(reader.input);
}

std::string ReadWholeZipEntry(const ZipArchive& archive, const ZipEntry& entry,
                              std::size_t mostBytes) {
  if (entry.size > mostBytes) {
    RaiseZipFailure("has a part " + QuotedName(entry.name) + " of " + std::to_string(entry.size) +
                    " bytes, more than this reader takes");
  }
  std::string content(static_cast<std::size_t>(entry.size), '\0');
  ZipEntryReader reader;
  try {
    OpenZipEntry(archive, entry, reader);
    std::size_t filled = 0;
    char ending = 0;  // the last call, which checks the end, finds no room left
    while (filled < content.size()) {
      filled += ReadZipEntry(reader, content.data() + filled, content.size() - filled);
    }
    ReadZipEntry(reader, &ending, 1);
  } catch (...) {
    CloseZipEntry(reader);
    throw;
  }
  CloseZipEntry(reader);
  return content;
}

namespace {

// Up to `count` bytes at the start of the file; fewer when it is shorter.
std::size_t ReadFileStart(PlatformFile file, unsigned char* destination, std::size_t count) {
  std::int64_t size = 0;
  const int error = FileSize(file, size);
  if (error != 0) RaiseIoFailure(error);
  const auto available =
      static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(size)));
  ReadExactlyAt(file, 0, destination, available);
  return available;
}

}  // namespace

bool LooksLikeZip(PlatformFile file) {
  unsigned char start[kEndRecordSize + 1] = {};
  const std::size_t got = ReadFileStart(file, start, sizeof start);
  if (got >= 4 && Read32(start) == kLocalHeaderSignature) return true;
  // An archive without entries is its end record alone.
  return got == kEndRecordSize && Read32(start) == kEndRecordSignature;
}

bool IsCompoundFile(PlatformFile file) {
  constexpr unsigned char kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  unsigned char start[sizeof kSignature] = {};
  return ReadFileStart(file, start, sizeof start) == sizeof start &&
         std::equal(start, start + sizeof start, kSignature);
}
