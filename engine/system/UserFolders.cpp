#include "system/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace oskel {

std::filesystem::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return "/";
}

std::filesystem::path xdgFolder(const char* variable, const std::filesystem::path& fallback) {
  if (const char* value = std::getenv(variable); value && *value == '/') return value;
  return homeFolder() / fallback;
}

}  // namespace oskel
