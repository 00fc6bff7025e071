// Tests of the decision whether a run owns its console, from what the platform says of it.
#include "console_owner.h"

#include <gtest/gtest.h>

namespace {

TEST(ConsoleOwnerTest, OwnsOnlyAConsoleMadeForItAloneThatItWritesTo) {
  const struct {
    ConsoleFacts facts;
    bool owns;
  } cases[] = {
      {{1, true}, true},    // dropped on, double-clicked: the platform made the console for it
      {{2, true}, false},   // started from a shell, which shares the console
      {{3, true}, false},   // a script's interpreter and its shell share it too
      {{1, false}, false},  // its own console, but standard output redirected
      {{2, false}, false},  // a shell's redirection
      {{0, true}, false},   // no console to count, or a platform that cannot count
      {{0, false}, false},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(OwnsConsole(testCase.facts), testCase.owns)
        << testCase.facts.attachedProcesses << " processes, output to the console "
        << testCase.facts.outputIsConsole;
  }
}

}  // namespace
