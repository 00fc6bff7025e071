// The console of a program's run: where its messages go and the exit status it ends with.
#pragma once

#include <string>
#include <string_view>

#include "code_page.h"

// The exit statuses the unpackers and the packers share, one meaning each.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the run failed; its console says why
inline constexpr int kExitUsage = 2;    // a wrong command line (the packers)

// Where a run's messages go: standard output and standard error, or strings when a test
// captures them (a null string: the standard stream).
struct Console {
  std::string* output = nullptr;
  std::string* errors = nullptr;
};

// Readies the run's messages for its console once the code page of the game's texts is known
// (again whenever the run learns another): where standard output and standard error are both
// consoles that show Unicode (Windows, neither redirected), game texts are marked from now on
// (MarkGameTexts) and every message is written as its letters (ConsoleTextOf in `page`). A
// redirected stream is written the bytes it always was; a console beside it shows the bytes of
// game texts as letters of `page` too, where they are not well-formed UTF-8.
void PrepareConsoleText(const CodePage& page);

// Each write below goes to a console that shows Unicode (IsUnicodeConsole) as ConsoleTextOf the
// text, in the code page of PrepareConsoleText (kDefaultCodePage before it), and to a captured
// string or any other stream as the bytes it is.

// Appends `bytes` to the console's output as they are: CR LF stays CR LF on every platform.
void WriteOutputBytes(const Console& console, std::string_view bytes);

// Appends `text` to the console's output with the platform's line ends for its LF.
void WriteOutputText(const Console& console, std::string_view text);

// Appends `text` to the console's output as WriteOutputText does, and flushes it: 0, or the
// error number of a write that failed (a full disk, a closed standard output).
int WriteOutputTextFlushed(const Console& console, std::string_view text);

// Appends `text` to the console's errors with the platform's line ends for its LF.
void WriteErrorText(const Console& console, std::string_view text);
