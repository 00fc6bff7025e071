// The console of a program's run: its messages to the standard streams or to captured strings.
#include "console.h"

#include <cerrno>
#include <cstdio>

#include "console_text.h"
#include "message_text.h"
#include "platform.h"

namespace {

// The code page in which a console shows the game's texts; null: kDefaultCodePage.
const CodePage* shownCodePage = nullptr;

const CodePage& ShownCodePage() {
  return shownCodePage != nullptr ? *shownCodePage : *FindCodePage(kDefaultCodePage);
}

std::FILE* FileOf(StandardStream stream) {
  return stream == StandardStream::Output ? stdout : stderr;
}

// Writes to a console that shows Unicode, after what the stream's buffer holds: 0 or the error
// number.
int WriteToConsole(StandardStream stream, std::string_view text) {
  std::fflush(FileOf(stream));
  return WriteConsoleText(stream, ConsoleTextOf(text, ShownCodePage()));
}

void WriteText(std::string* capture, StandardStream stream, std::string_view text) {
  if (capture != nullptr) {
    capture->append(text);
  } else if (IsUnicodeConsole(stream)) {
    static_cast<void>(WriteToConsole(stream, text));
  } else {
    std::fwrite(text.data(), 1, text.size(), FileOf(stream));
  }
}

}  // namespace

void PrepareConsoleText(const CodePage& page) {
  shownCodePage = &page;
  MarkGameTexts(IsUnicodeConsole(StandardStream::Output) &&
                IsUnicodeConsole(StandardStream::Errors));
}

void WriteOutputBytes(const Console& console, std::string_view bytes) {
  if (console.output != nullptr) {
    console.output->append(bytes);
  } else if (IsUnicodeConsole(StandardStream::Output)) {
    static_cast<void>(WriteToConsole(StandardStream::Output, bytes));
  } else {
    WriteStandardOutput(bytes);
  }
}

void WriteOutputText(const Console& console, std::string_view text) {
  WriteText(console.output, StandardStream::Output, text);
}

int WriteOutputTextFlushed(const Console& console, std::string_view text) {
  if (console.output != nullptr) {
    console.output->append(text);
    return 0;
  }
  if (IsUnicodeConsole(StandardStream::Output)) return WriteToConsole(StandardStream::Output, text);
  errno = 0;
  // An empty view may hold no data at all, which fwrite may not be given.
  const std::size_t written = text.empty() ? 0 : std::fwrite(text.data(), 1, text.size(), stdout);
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && written == text.size() && std::ferror(stdout) == 0) return 0;
  const int error = errno != 0 ? errno : EIO;
  std::clearerr(stdout);
  return error;
}

void WriteErrorText(const Console& console, std::string_view text) {
  WriteText(console.errors, StandardStream::Errors, text);
}
