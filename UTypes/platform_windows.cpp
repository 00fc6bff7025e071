// The platform layer on Windows: the wide calls, with file names in UTF-8 inside.
#include "platform.h"

#include <algorithm>
#include <limits>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>  // after windows.h, whose types it uses

#include "wide_text_windows.h"

const char kFolderSeparator = '\\';

namespace {

// The most one ReadFile or WriteFile call moves; its count is 32 bits.
constexpr std::size_t kLargestTransfer = std::numeric_limits<DWORD>::max();

// A handle is stored as its integer; -1 (INVALID_HANDLE_VALUE) stands for a closed file.
HANDLE HandleOf(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file.handle);
}

PlatformFile FileOf(HANDLE handle) {
  return PlatformFile{reinterpret_cast<std::intptr_t>(handle)};
}

bool IsOpen(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

int LastErrorNumber() {
  return ReportErrorNumber(static_cast<int>(GetLastError()));
}

// An ordinary file on a disk: not a device, pipe or console (other file types), not a folder.
bool IsOrdinaryFile(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileInformationByHandle(handle, &information) == 0) return false;
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// What an interruption removes (empty: nothing), under its lock: the console handler runs on a
// thread of its own.
std::wstring removalPath;
SRWLOCK removalLock = SRWLOCK_INIT;

// Runs when the console is interrupted; returning FALSE hands the event on to the default
// handler, which ends the process.
BOOL WINAPI RemoveOnConsoleEvent(DWORD /*event*/) {
  AcquireSRWLockExclusive(&removalLock);
  if (!removalPath.empty()) DeleteFileW(removalPath.c_str());
  ReleaseSRWLockExclusive(&removalLock);
  return FALSE;
}

void InstallInterruptionHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SetConsoleCtrlHandler(RemoveOnConsoleEvent, TRUE);
}

}  // namespace

// The platform's own error numbers are the report's numbers.
int ReportErrorNumber(int platformErrorNumber) {
  return platformErrorNumber;
}

int PlatformErrorNumber(int reportErrorNumber) {
  return reportErrorNumber;
}

bool OpenFileForReading(const char* path, PlatformFile& file) {
  // Others may keep the database open, the game included; opening a folder fails by itself
  // (it needs backup semantics), and a device is refused once open, before anything is read.
  const HANDLE handle =
      CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (!IsOpen(handle)) return false;
  if (!IsOrdinaryFile(handle)) {
    CloseHandle(handle);
    return false;
  }
  file = FileOf(handle);
  return true;
}

int CreateFileForWriting(const char* path, PlatformFile& file) {
  const HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!IsOpen(handle)) return LastErrorNumber();
  file = FileOf(handle);
  return 0;
}

bool IsSameFile(PlatformFile file, const char* path) {
  // Only the attributes are asked for, with every kind of sharing: this open disturbs nobody.
  const HANDLE named = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (!IsOpen(named)) return false;
  BY_HANDLE_FILE_INFORMATION opened{};
  BY_HANDLE_FILE_INFORMATION found{};
  const bool same = GetFileInformationByHandle(HandleOf(file), &opened) != 0 &&
                    GetFileInformationByHandle(named, &found) != 0 &&
                    opened.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                    opened.nFileIndexHigh == found.nFileIndexHigh &&
                    opened.nFileIndexLow == found.nFileIndexLow;
  CloseHandle(named);
  return same;
}

int ReadFileAt(PlatformFile file, std::int64_t offset, void* destination, std::size_t count,
               std::size_t& got) {
  got = 0;
  OVERLAPPED position{};
  const auto unsignedOffset = static_cast<std::uint64_t>(offset);
  position.Offset = static_cast<DWORD>(unsignedOffset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(unsignedOffset >> 32);
  const auto asked = static_cast<DWORD>(std::min(count, kLargestTransfer));
  DWORD read = 0;
  if (ReadFile(HandleOf(file), destination, asked, &read, &position) == 0) {
    // A synchronous read at an offset past the end reports the end as an error.
    const DWORD error = GetLastError();
    return error == ERROR_HANDLE_EOF ? 0 : ReportErrorNumber(static_cast<int>(error));
  }
  got = read;
  return 0;
}

int WriteFileFully(PlatformFile file, const void* source, std::size_t count) {
  const char* bytes = static_cast<const char*>(source);
  while (count > 0) {
    const auto asked = static_cast<DWORD>(std::min(count, kLargestTransfer));
    DWORD written = 0;
    if (WriteFile(HandleOf(file), bytes, asked, &written, nullptr) == 0) return LastErrorNumber();
    // A write that succeeds without moving a byte would repeat for ever.
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes += written;
    count -= written;
  }
  return 0;
}

int WriteFileAt(PlatformFile file, std::int64_t offset, const void* source, std::size_t count) {
  // A positioned write on a synchronous handle moves its file pointer: it is put back afterwards,
  // so that WriteFileFully goes on where it was.
  const HANDLE handle = HandleOf(file);
  LARGE_INTEGER saved{};
  const LARGE_INTEGER noMove{};
  if (SetFilePointerEx(handle, noMove, &saved, FILE_CURRENT) == 0) return LastErrorNumber();
  const char* bytes = static_cast<const char*>(source);
  int error = 0;
  while (count > 0 && error == 0) {
    OVERLAPPED position{};
    const auto unsignedOffset = static_cast<std::uint64_t>(offset);
    position.Offset = static_cast<DWORD>(unsignedOffset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(unsignedOffset >> 32);
    const auto asked = static_cast<DWORD>(std::min(count, kLargestTransfer));
    DWORD written = 0;
    if (WriteFile(handle, bytes, asked, &written, &position) == 0) {
      error = LastErrorNumber();
    } else if (written == 0) {
      error = ERROR_WRITE_FAULT;  // a write that moves nothing would repeat for ever
    } else {
      bytes += written;
      offset += written;
      count -= written;
    }
  }
  if (SetFilePointerEx(handle, saved, nullptr, FILE_BEGIN) == 0 && error == 0) {
    error = LastErrorNumber();
  }
  return error;
}

int FileSize(PlatformFile file, std::int64_t& size) {
  LARGE_INTEGER fileSize{};
  if (GetFileSizeEx(HandleOf(file), &fileSize) == 0) return LastErrorNumber();
  size = static_cast<std::int64_t>(fileSize.QuadPart);
  return 0;
}

int CloseFile(PlatformFile& file) {
  if (file.handle == -1) return 0;
  const HANDLE handle = HandleOf(file);
  file = PlatformFile{};
  return CloseHandle(handle) != 0 ? 0 : LastErrorNumber();
}

int NegativeSeekError() {
  return ERROR_NEGATIVE_SEEK;
}

int DuplicateFile(PlatformFile file, PlatformFile& copy) {
  const HANDLE process = GetCurrentProcess();
  HANDLE duplicate = nullptr;
  if (DuplicateHandle(process, HandleOf(file), process, &duplicate, 0, FALSE,
                      DUPLICATE_SAME_ACCESS) == 0) {
    return LastErrorNumber();
  }
  copy = FileOf(duplicate);
  return 0;
}

int CreateNewFile(const char* path, int /*permissions*/, PlatformFile& file) {
  // Shared for deleting, so that an interruption can remove it while it is open.
  const HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!IsOpen(handle)) return LastErrorNumber();
  file = FileOf(handle);
  return 0;
}

int SyncFile(PlatformFile file) {
  return FlushFileBuffers(HandleOf(file)) != 0 ? 0 : LastErrorNumber();
}

void StartWritingBack(PlatformFile) {}

int MoveFileOver(const char* from, const char* to) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), flags) != 0 ? 0
                                                                               : LastErrorNumber();
}

int RemoveFile(const char* path) {
  return DeleteFileW(WidePath(path).c_str()) != 0 ? 0 : LastErrorNumber();
}

PathKind KindOfPath(const char* path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Other;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::Other;
  return PathKind::OrdinaryFile;
}

int CopyPermissions(const char* /*model*/, PlatformFile /*file*/) {
  return 0;  // a new file takes its folder's permissions; there is no mode to copy
}

std::string FolderPart(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string_view::npos ? std::string()
                                             : std::string(path.substr(0, separator + 1));
}

bool CreateUnnamedFile(const std::string& /*folder*/, int /*permissions*/, PlatformFile& /*file*/) {
  return false;  // every file has a name
}

int NameUnnamedFile(PlatformFile /*file*/, const char* /*path*/) {
  return ERROR_NOT_SUPPORTED;
}

bool IsNameTaken(int errorNumber) {
  return errorNumber == ERROR_FILE_EXISTS || errorNumber == ERROR_ALREADY_EXISTS;
}

bool FilePermissions(const char* path, int& permissions) {
  if (GetFileAttributesW(WidePath(path).c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  permissions = 0666;
  return true;
}

bool MayReplaceFile(const char* path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

int SyncFolder(const std::string& /*folder*/) {
  return 0;  // MoveFileOver writes the move through
}

void RemoveOnInterruption(const char* path) {
  InstallInterruptionHandler();
  std::wstring widePath = path == nullptr ? std::wstring() : WidePath(path);
  AcquireSRWLockExclusive(&removalLock);
  removalPath.swap(widePath);
  ReleaseSRWLockExclusive(&removalLock);
}

// The console handler runs on a thread of its own, beside the run: nothing to hold back.
void DelayInterruptions() {}
void AllowInterruptions() {}

bool FolderExists(const char* path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const char* path) {
  return CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

std::string_view ModuleNameOf(const char* programPath) {
  // The first argument is what the caller typed ("grimdex", often without ".exe"); the
  // platform knows the executable's real file name.
  static std::string modulePath;
  wchar_t widePath[MAX_PATH * 4];
  const DWORD capacity = static_cast<DWORD>(sizeof widePath / sizeof widePath[0]);
  const DWORD length = GetModuleFileNameW(nullptr, widePath, capacity);
  if (length > 0 && length < capacity) {
    modulePath = Utf8Text(std::wstring_view(widePath, length));
    return FileNamePart(modulePath);
  }
  return programPath == nullptr ? std::string_view{} : FileNamePart(programPath);
}

ProgramArguments ReadProgramArguments(int argc, char** argv) {
  // The narrow arguments are in the ANSI code page, which cannot spell every name a user can
  // make; the wide command line can.
  ProgramArguments arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int index = 0; index < argc; ++index)
      arguments.texts.emplace_back(argv[index]);
  } else {
    for (int index = 0; index < count; ++index)
      arguments.texts.push_back(Utf8Text(wide[index]));
    LocalFree(wide);
  }
  for (const std::string& text : arguments.texts)
    arguments.pointers.push_back(text.c_str());
  return arguments;
}

ConsoleFacts ReadConsoleFacts() {
  ConsoleFacts facts;
  // The call returns how many processes are attached even when the list holds fewer.
  DWORD processes[2] = {};
  facts.attachedProcesses = GetConsoleProcessList(processes, 2);
  DWORD mode = 0;
  facts.outputIsConsole = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  return facts;
}

void WaitForKey() {
  // The console's own input, even where standard input is redirected.
  const HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (!IsOpen(input)) return;
  INPUT_RECORD record{};
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) != 0 && read == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
  }
  CloseHandle(input);
}

void WriteStandardOutput(std::string_view bytes) {
  // WriteFile writes the bytes as they are: CR LF stays CR LF, in a console or a redirection.
  const HANDLE standardOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!IsOpen(standardOutput)) return;
  static_cast<void>(WriteFileFully(FileOf(standardOutput), bytes.data(), bytes.size()));
}

namespace {

HANDLE HandleOf(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

bool IsUnicodeConsole(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

int WriteConsoleText(StandardStream stream, std::u16string_view text) {
  // A console takes a limited piece at a time; its counts are 32 bits.
  constexpr std::size_t kLargestPiece = 8192;
  const HANDLE console = HandleOf(stream);
  const std::wstring wide(text.begin(), text.end());
  std::size_t at = 0;
  while (at < wide.size()) {
    std::size_t count = std::min(wide.size() - at, kLargestPiece);
    // A surrogate pair stays in one piece.
    if (count < wide.size() - at && wide[at + count - 1] >= 0xD800 && wide[at + count - 1] < 0xDC00)
      --count;
    DWORD written = 0;
    if (WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(count), &written, nullptr) == 0)
      return LastErrorNumber();
    if (written == 0) return ERROR_WRITE_FAULT;  // a write that moves nothing would repeat for ever
    at += written;
  }
  return 0;
}

char ReadDecimalSeparator() {
  // The user's setting, read through the platform: the C++ locale of some runtimes throws
  // for any language setting other than "C". The length returned counts the closing NUL.
  char separator[4] = {};
  const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator,
                                    static_cast<int>(sizeof separator));
  return length == 2 ? separator[0] : '.';
}

// Large pages need a privilege that users do not hold: the system's own pages serve.
void AdviseLargePages(void*, std::size_t) {}
