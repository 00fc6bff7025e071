// Runs a built program as a child process and captures its standard output and exit status.
// In a build whose programs run under an emulator (the 32-bit build under qemu-i386),
// UNPACKER_PROGRAM_LAUNCHER names it, and every built program is started through it: a kernel
// without binfmt_misc would not run them itself, and one without 32-bit support could not.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

#ifdef UNPACKER_PROGRAM_LAUNCHER
// The emulator and its options, before a built program's path.
inline const std::vector<std::string> kProgramLauncher = {UNPACKER_PROGRAM_LAUNCHER};
constexpr bool kProgramsRunUnderEmulator = true;
#else
inline const std::vector<std::string> kProgramLauncher;
constexpr bool kProgramsRunUnderEmulator = false;
#endif

// Whether the programs were built with AddressSanitizer, like the tests.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kProgramsRunUnderSanitizers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kProgramsRunUnderSanitizers = true;
#else
constexpr bool kProgramsRunUnderSanitizers = false;
#endif
#else
constexpr bool kProgramsRunUnderSanitizers = false;
#endif

// Whether a limit on a run's address space (ulimit -v) means what it says: not under the
// sanitizers, which reserve terabytes of it, nor under an emulator, which reserves its own.
constexpr bool kMemoryLimitsHold = !kProgramsRunUnderSanitizers && !kProgramsRunUnderEmulator;

// The command line that runs the built `program` with `arguments`: through the launcher if any.
inline std::vector<std::string> ProgramCommand(const std::string& program,
                                               const std::vector<std::string>& arguments) {
  std::vector<std::string> command = kProgramLauncher;
  command.push_back(program);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

// Starts `command` (its first word a path, or a name looked up in PATH) with the file actions;
// returns the child's id, or -1 after reporting a failure.
inline pid_t StartCommand(const std::vector<std::string>& command,
                          const posix_spawn_file_actions_t* actions) {
  std::vector<std::string> copies = command;
  std::vector<char*> argv;
  for (std::string& word : copies)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  if (command.empty() ||
      posix_spawnp(&child, argv[0], actions, nullptr, argv.data(), environ) != 0) {
    ADD_FAILURE() << "cannot start " << (command.empty() ? std::string() : command.front());
    return -1;
  }
  return child;
}

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally (a signal)
  int signal = 0;
  std::string output;  // standard output, byte for byte
};

// Runs `command` as it stands, a program of this machine (setpriv, say), in the working folder
// `folder` (empty: this one); `output` is its standard output, with its standard error joined
// to it when `withErrors` is set.
inline ProgramResult RunCommand(const std::vector<std::string>& command,
                                const std::string& folder = {}, bool withErrors = false) {
  ProgramResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "pipe";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  if (withErrors) posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  const pid_t child = StartCommand(command, &actions);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (child < 0) {
    close(pipeEnds[0]);
    return result;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// Runs the built `program` with `arguments` in the working folder `folder` (empty: this one).
inline ProgramResult RunProgram(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& folder = {}, bool withErrors = false) {
  return RunCommand(ProgramCommand(program, arguments), folder, withErrors);
}

// Runs the built `program` with its address space limited to `kibibytes` (ulimit -v), its
// standard error joined to its standard output, in the working folder `folder`.
inline ProgramResult RunProgramInMemory(std::size_t kibibytes, const std::string& program,
                                        const std::vector<std::string>& arguments,
                                        const std::string& folder = {}) {
  std::vector<std::string> command = {
      "/bin/sh", "-c", "ulimit -v " + std::to_string(kibibytes) + " && exec \"$@\"", "sh"};
  for (const std::string& word : ProgramCommand(program, arguments))
    command.push_back(word);
  return RunCommand(command, folder, true);
}

// Runs the built `program` with its standard output redirected as the shell's `redirection`
// says (">/dev/full", ">&-" to close it); `output` is its standard error.
inline ProgramResult RunProgramWithOutputTo(const std::string& redirection,
                                            const std::string& program,
                                            const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {"/bin/sh", "-c", "exec \"$@\" 2>&1 " + redirection, "sh"};
  for (const std::string& word : ProgramCommand(program, arguments))
    command.push_back(word);
  return RunCommand(command);
}

// The user and group that own nothing: permissions bite for them even when the tests run as root.
inline constexpr uid_t kUnprivilegedUser = 65534;

// Runs the built `program` with `arguments` in `folder` as a user without any rights: as root
// through setpriv as kUnprivilegedUser, otherwise as this user, whom permissions already bind.
// The user must be able to reach the program (a copy in a folder open to all, say).
inline ProgramResult RunProgramUnprivileged(const std::string& program,
                                            const std::vector<std::string>& arguments,
                                            const std::string& folder, bool withErrors = false) {
  if (geteuid() != 0) return RunProgram(program, arguments, folder, withErrors);
  const std::string setpriv =
      access("/usr/bin/setpriv", X_OK) == 0 ? "/usr/bin/setpriv" : "/bin/setpriv";
  EXPECT_EQ(access(setpriv.c_str(), X_OK), 0) << "setpriv (util-linux) is needed as root";
  const std::string id = std::to_string(kUnprivilegedUser);
  std::vector<std::string> command = {setpriv, "--reuid=" + id, "--regid=" + id, "--clear-groups",
                                      "--"};
  for (const std::string& word : ProgramCommand(program, arguments))
    command.push_back(word);
  return RunCommand(command, folder, withErrors);
}
