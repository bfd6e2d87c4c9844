#include "UpdaterSettings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "service/Url.h"

#ifndef OSKEL_VERSION
#define OSKEL_VERSION "0"
#endif
#ifndef OSKEL_BUILD
#define OSKEL_BUILD 0
#endif

namespace oskel::update {
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

UpdaterSettings UpdaterSettings::fromEnvironment() {
  UpdaterSettings settings;
  settings.feedURL = defaultFeedURL;
  if (const char* feed = std::getenv("OSKEL_UPDATE_FEED")) {
    const auto parts = Url::parse(feed);
    if (parts && (parts->scheme == "https" || parts->scheme == "http")) settings.feedURL = feed;
  }
  settings.dryRun = std::getenv("OSKEL_UPDATE_DRYRUN") != nullptr;
  // Only an absolute XDG_CACHE_HOME counts, as the XDG base directory rules say.
  const char* cache = std::getenv("XDG_CACHE_HOME");
  settings.cacheFolder = (cache && *cache == '/' ? fs::path(cache) : home() / ".cache") / "oskel";
  settings.runningVersion = OSKEL_VERSION;
  settings.runningBuild = OSKEL_BUILD;
  // Read now: once the package replaced the program, /proc/self/exe names a deleted file.
  std::error_code error;
  settings.relaunchProgram = fs::read_symlink("/proc/self/exe", error).string();
  return settings;
}

}  // namespace oskel::update
