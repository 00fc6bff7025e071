// Runs a built program as a child process and captures its standard output and exit status.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally (a signal)
  int signal = 0;
  std::string output;  // standard output, byte for byte
};

// Runs `program` with `arguments` in the working folder `folder` (empty: this one).
inline ProgramResult RunProgram(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& folder = {}) {
  ProgramResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "pipe";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  std::vector<char*> argv;
  std::string programCopy = program;
  argv.push_back(programCopy.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned != 0) {
    close(pipeEnds[0]);
    ADD_FAILURE() << "cannot start " << program;
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
