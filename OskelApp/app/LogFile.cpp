#include "LogFile.h"

#include "system/UserFolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace oskel::app {
namespace fs = std::filesystem;

fs::path logFilePath() {
  return xdgFolder("XDG_STATE_HOME", ".local/state") / "oskel" / "oskel.log";
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
