#include "LogFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace oskel::app {
namespace fs = std::filesystem;

namespace {

fs::path home() {
  if (const char* value = std::getenv("HOME"); value && *value) return value;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return "/";
}

}  // namespace

fs::path logFilePath() {
  // A relative XDG path is invalid and must be ignored.
  const char* state = std::getenv("XDG_STATE_HOME");
  const fs::path base = state && *state == '/' ? fs::path(state) : home() / ".local" / "state";
  return base / "oskel" / "oskel.log";
}

bool appendStandardErrorTo(const fs::path& file) {
  std::error_code ignored;
  fs::create_directories(file.parent_path(), ignored);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool moved = ::dup2(fd, STDERR_FILENO) >= 0;
  ::close(fd);
  return moved;
}

std::optional<fs::path> redirectLogUnlessTerminal() {
  if (::isatty(STDERR_FILENO)) return std::nullopt;
  const fs::path file = logFilePath();
  if (!appendStandardErrorTo(file)) return std::nullopt;
  return file;
}

}  // namespace oskel::app
