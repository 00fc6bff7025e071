// The window of a run started by a drop or a double-click: its lines, and the wait for a key
// that keeps the last of them in view.
#pragma once

#include <string_view>

#include "console.h"

// Appends `line` and CR LF to the console's output: the window's line end on every platform.
void PrintWindowLine(const Console& console, std::string_view line);

// Asks for a key after an empty line and waits for it, so that the window the run owns stays
// open, after success and after failure alike, until its user has read it.
void KeepWindowOpen();
