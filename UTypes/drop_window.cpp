// The window of a dropped run: CR LF lines and the closing wait.
#include "drop_window.h"

#include <string>

#include "platform.h"

void PrintWindowLine(const Console& console, std::string_view line) {
  std::string bytes(line);
  bytes += "\r\n";
  WriteOutputBytes(console, bytes);
}

void KeepWindowOpen() {
  PrintWindowLine({}, "");
  PrintWindowLine({}, "Press any key to close this window.");
  WaitForKey();
}
