// Tests of the platform layer's files that replace others: unnamed files and interruptions.
#include "platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_files.h"

namespace {

// The test's own end in a child that an interruption did not end.
constexpr int kNotInterrupted = 7;

// In a child of the death test: a new file at `path`, given to RemoveOnInterruption (or not),
// then the signal raised; ends with kNotInterrupted if the signal leaves it running.
void RaiseWhileWriting(const std::string& path, bool removeIt, int signal, bool delayed) {
  PlatformFile file;
  if (CreateNewFile(path.c_str(), 0600, file) != 0) std::_Exit(1);
  if (delayed) {
    DelayInterruptions();
    raise(signal);  // held back until the file is handed over
  }
  RemoveOnInterruption(removeIt ? path.c_str() : nullptr);
  if (delayed) AllowInterruptions();
  raise(signal);
  std::_Exit(kNotInterrupted);
}

TEST(PlatformTest, InterruptionRemovesTheFileItWasGivenAndEndsTheRunAsTheSignalDoes) {
  const struct {
    int signal;
    bool removeIt;
    bool delayed;
  } cases[] = {
      {SIGINT, true, false}, {SIGTERM, true, false},  {SIGHUP, true, false},
      {SIGTERM, true, true}, {SIGTERM, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("signal " + std::to_string(c.signal) + (c.removeIt ? "" : ", nothing given") +
                 (c.delayed ? ", raised while delayed" : ""));
    TempFolder folder;
    const std::string path = folder / "file";
    EXPECT_EXIT(RaiseWhileWriting(path, c.removeIt, c.signal, c.delayed),
                testing::KilledBySignal(c.signal), "");
    EXPECT_EQ(std::filesystem::exists(path), !c.removeIt);
  }
}

// A run started to ignore hang-ups (nohup) goes on ignoring them, and keeps its file.
TEST(PlatformTest, IgnoredHangUpStaysIgnored) {
  TempFolder folder;
  const std::string path = folder / "file";
  EXPECT_EXIT(
      {
        std::signal(SIGHUP, SIG_IGN);
        RaiseWhileWriting(path, true, SIGHUP, false);
      },
      testing::ExitedWithCode(kNotInterrupted), "");
  EXPECT_TRUE(std::filesystem::exists(path));
}

// An unnamed file is nowhere in its folder until it is named, and a taken name is told apart
// from other failures, so that another random name is tried.
TEST(PlatformTest, UnnamedFileAppearsOnlyUnderTheNameItIsGiven) {
  TempFolder folder;
  PlatformFile file;
  if (!CreateUnnamedFile(FolderPart(folder / "x"), 0600, file)) {
    GTEST_SKIP() << "the file system of " << folder.path << " has no unnamed files";
  }
  ASSERT_EQ(WriteFileFully(file, "bytes", 5), 0);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path));
  WriteWholeFile(folder / "taken", "other");
  EXPECT_TRUE(IsNameTaken(NameUnnamedFile(file, (folder / "taken").c_str())));
  EXPECT_EQ(NameUnnamedFile(file, (folder / "named").c_str()), 0);
  EXPECT_EQ(CloseFile(file), 0);
  EXPECT_EQ(ReadWholeFile(folder / "named"), "bytes");
  EXPECT_EQ(ReadWholeFile(folder / "taken"), "other");
  EXPECT_EQ(std::filesystem::status(folder / "named").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
