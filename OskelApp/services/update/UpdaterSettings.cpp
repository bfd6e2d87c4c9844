#include "UpdaterSettings.h"


#include <cstdlib>
#include <system_error>

#include "service/Url.h"
#include "system/UserFolders.h"

#ifndef OSKEL_VERSION
#define OSKEL_VERSION "0"
#endif
#ifndef OSKEL_BUILD
#define OSKEL_BUILD 0
#endif

namespace oskel::update {
namespace fs = std::filesystem;
UpdaterSettings UpdaterSettings::fromEnvironment() {
  UpdaterSettings settings;
  settings.feedURL = defaultFeedURL;
  if (const char* feed = std::getenv("OSKEL_UPDATE_FEED")) {
    const auto parts = Url::parse(feed);
    if (parts && (parts->scheme == "https" || parts->scheme == "http")) settings.feedURL = feed;
  }
  settings.dryRun = std::getenv("OSKEL_UPDATE_DRYRUN") != nullptr;
  settings.cacheFolder = xdgFolder("XDG_CACHE_HOME", ".cache") / "oskel";
  settings.runningVersion = OSKEL_VERSION;
  settings.runningBuild = OSKEL_BUILD;
  // Read now: once the package replaced the program, /proc/self/exe names a deleted file.
  std::error_code error;
  settings.relaunchProgram = fs::read_symlink("/proc/self/exe", error).string();
  return settings;
}

}  // namespace oskel::update
