// Whether a run owns its console: decided from the console's processes, never from arguments.
#include "console_owner.h"

bool OwnsConsole(const ConsoleFacts& facts) {
  // A shell that starts a program stays attached to the console it shares, so a count of one
  // means the platform made the console for this run (a drop, a double-click, a shortcut).
  return facts.attachedProcesses == 1 && facts.outputIsConsole;
}
