// Whether a run owns its console (started by a drop or a double-click) or shares a shell's.
#pragma once

#include <cstdint>

// What the platform says of the run's console at start-up.
struct ConsoleFacts {
  // The processes attached to the run's console, the run included (0: no console, or a platform
  // that cannot count them).
  std::uint32_t attachedProcesses = 0;
  // Whether standard output is that console, not a file or a pipe.
  bool outputIsConsole = false;
};

// True when the run has a console of its own, made for it alone, and writes to it: the only
// process attached and standard output not redirected. A shell, a script or a redirection
// shares the console or replaces it, and the run then behaves as it does on the command line.
bool OwnsConsole(const ConsoleFacts& facts);
