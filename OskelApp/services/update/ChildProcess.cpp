#include "ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

extern char** environ;

namespace oskel::update {
namespace {

constexpr std::size_t maxErrorText = 64 * 1024;

std::vector<char*> argv(const std::vector<std::string>& arguments) {
  std::vector<char*> result;
  for (const auto& a : arguments) result.push_back(const_cast<char*>(a.c_str()));
  result.push_back(nullptr);
  return result;
}

// Spawns with standard input and output on /dev/null and standard error on
// errorFd (or /dev/null when negative). Returns the process id or -errno.
pid_t spawn(const std::vector<std::string>& arguments, int errorFd) {
  if (arguments.empty()) return -EINVAL;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (errorFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  auto args = argv(arguments);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error ? -error : pid;
}

}  // namespace

ProcessOutcome runProcess(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return {-1, fmt::format("could not start {}: {}", arguments.at(0), std::strerror(errno))};
  const pid_t pid = spawn(arguments, pipeFds[1]);
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return {-1, fmt::format("could not start {}: {}", arguments.empty() ? "" : arguments[0], std::strerror(-pid))};
  }
  ProcessOutcome outcome;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (outcome.errorText.size() < maxErrorText) outcome.errorText.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status) && outcome.errorText.empty()) {
    outcome.errorText = fmt::format("{} was stopped by signal {}", arguments[0], WTERMSIG(status));
  }
  return outcome;
}

std::string startDetached(const std::vector<std::string>& arguments) {
  const pid_t pid = spawn(arguments, -1);
  if (pid < 0) return fmt::format("could not start {}: {}", arguments.empty() ? "" : arguments[0], std::strerror(-pid));
  return {};
}

}  // namespace oskel::update
