// The platform layer on POSIX systems.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

const char kFolderSeparator = '/';

namespace {

// Marks an errno that has no message of the report's own: set, the number never equals one of
// the message table (EIO is 5, the number of denied access; ENETDOWN is 100).
constexpr int kUnnamedErrnoBit = 1 << 24;

int Descriptor(PlatformFile file) {
  return static_cast<int>(file.handle);
}

// The link under /proc through which an open descriptor is reached by a path.
std::string DescriptorPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// A folder as the system calls take it: the working folder for an empty part.
const char* FolderOrWorkingFolder(const std::string& folder) {
  return folder.empty() ? "." : folder.c_str();
}

// The signals that interrupt a run from outside: Ctrl-C, kill and a closed terminal.
constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

// What an interruption removes: removalPath, while removalArmed is set. A path that a file
// could be created under fits; handing one over allocates nothing.
char removalPath[PATH_MAX];
volatile std::sig_atomic_t removalArmed = 0;

sigset_t InterruptionSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : kInterruptions)
    sigaddset(&signals, signal);
  return signals;
}

// Async-signal-safe: removes the prepared path, then raises the signal again under its default
// action, which ends the run as the signal would have once the handler returns.
void RemoveAndRaise(int signal) {
  if (removalArmed != 0) unlink(removalPath);
  std::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallInterruptionHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal : kInterruptions) {
    struct sigaction previous {};
    // A signal the run was started to ignore (nohup) stays ignored.
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveAndRaise;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int ReportErrorNumber(int platformErrorNumber) {
  switch (platformErrorNumber) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    default:
      return kUnnamedErrnoBit | platformErrorNumber;
  }
}

int PlatformErrorNumber(int reportErrorNumber) {
  return reportErrorNumber & ~kUnnamedErrnoBit;
}

bool OpenFileForReading(const char* path, PlatformFile& file) {
  // Non-blocking, so that a fifo with no writer does not stall the run before it is refused.
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return false;
  }
  file.handle = descriptor;
  return true;
}

int CreateFileForWriting(const char* path, PlatformFile& file) {
  // Non-blocking, so that a fifo with no reader fails (ENXIO) instead of waiting for one; the
  // writes then block as usual.
  const int descriptor = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (descriptor < 0) return ReportErrorNumber(errno);
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(descriptor);
    return ReportErrorNumber(error);
  }
  file.handle = descriptor;
  return 0;
}

bool IsSameFile(PlatformFile file, const char* path) {
  struct stat opened {};
  struct stat named {};
  if (fstat(Descriptor(file), &opened) != 0 || stat(path, &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

int ReadFileAt(PlatformFile file, std::int64_t offset, void* destination, std::size_t count,
               std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t result = pread(Descriptor(file), destination, count, static_cast<off_t>(offset));
    if (result >= 0) {
      got = static_cast<std::size_t>(result);
      return 0;
    }
    if (errno != EINTR) return ReportErrorNumber(errno);
  }
}

int WriteFileFully(PlatformFile file, const void* source, std::size_t count) {
  const char* bytes = static_cast<const char*>(source);
  while (count > 0) {
    const ssize_t result = write(Descriptor(file), bytes, count);
    if (result < 0) {
      if (errno == EINTR) continue;
      return ReportErrorNumber(errno);
    }
    bytes += result;
    count -= static_cast<std::size_t>(result);
  }
  return 0;
}

int WriteFileAt(PlatformFile file, std::int64_t offset, const void* source, std::size_t count) {
  // pwrite leaves the descriptor's offset alone.
  const char* bytes = static_cast<const char*>(source);
  while (count > 0) {
    const ssize_t result = pwrite(Descriptor(file), bytes, count, static_cast<off_t>(offset));
    if (result < 0) {
      if (errno == EINTR) continue;
      return ReportErrorNumber(errno);
    }
    bytes += result;
    offset += result;
    count -= static_cast<std::size_t>(result);
  }
  return 0;
}

int FileSize(PlatformFile file, std::int64_t& size) {
  struct stat status {};
  if (fstat(Descriptor(file), &status) != 0) return ReportErrorNumber(errno);
  size = static_cast<std::int64_t>(status.st_size);
  return 0;
}

int CloseFile(PlatformFile& file) {
  if (file.handle < 0) return 0;
  const int result = close(Descriptor(file));
  file.handle = -1;
  return result == 0 ? 0 : ReportErrorNumber(errno);
}

int NegativeSeekError() {
  return ReportErrorNumber(EINVAL);
}

int DuplicateFile(PlatformFile file, PlatformFile& copy) {
  const int descriptor = fcntl(Descriptor(file), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return ReportErrorNumber(errno);
  copy.handle = descriptor;
  return 0;
}

int CreateNewFile(const char* path, int permissions, PlatformFile& file) {
  const int descriptor =
      open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(permissions));
  if (descriptor < 0) return ReportErrorNumber(errno);
  file.handle = descriptor;
  return 0;
}

int SyncFile(PlatformFile file) {
  return fsync(Descriptor(file)) == 0 ? 0 : ReportErrorNumber(errno);
}

void StartWritingBack(PlatformFile file) {
#ifdef __linux__
  static_cast<void>(sync_file_range(Descriptor(file), 0, 0, SYNC_FILE_RANGE_WRITE));
#else
  static_cast<void>(file);
#endif
}

int MoveFileOver(const char* from, const char* to) {
  return std::rename(from, to) == 0 ? 0 : ReportErrorNumber(errno);
}

int RemoveFile(const char* path) {
  return unlink(path) == 0 ? 0 : ReportErrorNumber(errno);
}

PathKind KindOfPath(const char* path) {
  struct stat status {};
  if (lstat(path, &status) != 0) return PathKind::Missing;
  if (S_ISREG(status.st_mode)) return PathKind::OrdinaryFile;
  if (S_ISDIR(status.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

int CopyPermissions(const char* model, PlatformFile file) {
  struct stat wanted {};
  struct stat has {};
  if (stat(model, &wanted) != 0 || fstat(Descriptor(file), &has) != 0) {
    return ReportErrorNumber(errno);
  }
  // A file system without permissions (FAT) refuses fchmod: only a change is asked of it.
  if ((has.st_mode & 07777) == (wanted.st_mode & 07777)) return 0;
  return fchmod(Descriptor(file), wanted.st_mode & 07777) == 0 ? 0 : ReportErrorNumber(errno);
}

bool CreateUnnamedFile(const std::string& folder, int permissions, PlatformFile& file) {
#ifdef O_TMPFILE
  const int descriptor = open(FolderOrWorkingFolder(folder), O_TMPFILE | O_RDWR | O_CLOEXEC,
                              static_cast<mode_t>(permissions));
  if (descriptor < 0) return false;  // a file system or kernel without unnamed files
  // Without /proc the file could not be named once written.
  if (access(DescriptorPath(descriptor).c_str(), F_OK) != 0) {
    close(descriptor);
    return false;
  }
  file.handle = descriptor;
  return true;
#else
  static_cast<void>(folder);
  static_cast<void>(permissions);
  static_cast<void>(file);
  return false;
#endif
}

int NameUnnamedFile(PlatformFile file, const char* path) {
  if (linkat(AT_FDCWD, DescriptorPath(Descriptor(file)).c_str(), AT_FDCWD, path,
             AT_SYMLINK_FOLLOW) == 0) {
    return 0;
  }
  const int error = errno;
#ifdef AT_EMPTY_PATH
  // The file itself, where the user may link it so (a privileged one).
  if (error != EEXIST && linkat(Descriptor(file), "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return 0;
#endif
  return ReportErrorNumber(error);
}

bool IsNameTaken(int errorNumber) {
  return errorNumber == ReportErrorNumber(EEXIST);
}

bool FilePermissions(const char* path, int& permissions) {
  struct stat status {};
  if (stat(path, &status) != 0) return false;
  permissions = static_cast<int>(status.st_mode & 0777);
  return true;
}

bool MayReplaceFile(const char* path) {
  if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return false;
  struct stat file {};
  struct stat folder {};
  const std::string folderPart = FolderPart(path);
  if (lstat(path, &file) != 0 || stat(FolderOrWorkingFolder(folderPart), &folder) != 0) {
    return false;
  }
  // In a sticky folder only the owner of the file or of the folder may rename over it (or root).
  const uid_t user = geteuid();
  return (folder.st_mode & S_ISVTX) == 0 || user == 0 || file.st_uid == user ||
         folder.st_uid == user;
}

std::string FolderPart(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

int SyncFolder(const std::string& folder) {
  const int descriptor = open(FolderOrWorkingFolder(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return ReportErrorNumber(errno);
  const int error = fsync(descriptor) == 0 ? 0 : ReportErrorNumber(errno);
  close(descriptor);
  return error;
}

void RemoveOnInterruption(const char* path) {
  InstallInterruptionHandlers();
  // The handler reads the path only while removalArmed is set, and a handler that interrupts
  // this function finds it cleared.
  removalArmed = 0;
  if (path == nullptr || std::strlen(path) >= sizeof removalPath) return;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::strcpy(removalPath, path);
  std::atomic_signal_fence(std::memory_order_seq_cst);  // the path is whole before it is armed
  removalArmed = 1;
}

void DelayInterruptions() {
  const sigset_t signals = InterruptionSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void AllowInterruptions() {
  const sigset_t signals = InterruptionSignals();
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

bool FolderExists(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateFolder(const char* path) {
  return mkdir(path, 0777) == 0;
}

std::string_view ModuleNameOf(const char* programPath) {
  if (programPath == nullptr) return {};
  const std::string_view path(programPath);
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

ProgramArguments ReadProgramArguments(int argc, char** argv) {
  ProgramArguments arguments;
  for (int index = 0; index < argc; ++index)
    arguments.texts.emplace_back(argv[index]);
  for (const std::string& text : arguments.texts)
    arguments.pointers.push_back(text.c_str());
  return arguments;
}

ConsoleFacts ReadConsoleFacts() {
  return {};
}

void WaitForKey() {}

void WriteStandardOutput(std::string_view bytes) {
  PlatformFile standardOutput{STDOUT_FILENO};
  static_cast<void>(WriteFileFully(standardOutput, bytes.data(), bytes.size()));
}

bool IsUnicodeConsole(StandardStream /*stream*/) {
  return false;  // a terminal takes the bytes as they are
}

int WriteConsoleText(StandardStream /*stream*/, std::u16string_view /*text*/) {
  return ReportErrorNumber(EBADF);  // no stream is such a console
}

char ReadDecimalSeparator() {
  std::setlocale(LC_ALL, "");
  const std::lconv* conventions = std::localeconv();
  if (conventions == nullptr || conventions->decimal_point == nullptr) return '.';
  const char* point = conventions->decimal_point;
  return std::strlen(point) == 1 ? point[0] : '.';
}

void AdviseLargePages(void* start, std::size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  const auto first = reinterpret_cast<std::uintptr_t>(start);
  const std::uintptr_t begin = (first + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (first + size) & ~(kLargePage - 1);
  // Advice the system does not take changes nothing, so its failure is not reported.
  if (end > begin) {
    static_cast<void>(madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE));
  }
#else
  static_cast<void>(start);
  static_cast<void>(size);
#endif
}
