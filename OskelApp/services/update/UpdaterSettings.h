#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace oskel::update {

// What the updater is configured with at creation.
struct UpdaterSettings {
  std::string feedURL;
  bool dryRun = false;
  std::filesystem::path cacheFolder;  // packages are saved here, nowhere else
  std::string runningVersion;
  std::int64_t runningBuild = 0;
  // The program started after installing, with "--wait-for-pid" and this process's id.
  std::string relaunchProgram;
  // A download that receives nothing for this long is given up.
  std::chrono::seconds stallLimit{30};

  // From the process environment: OSKEL_UPDATE_FEED (when a valid http(s)
  // URL) else the maker's feed; OSKEL_UPDATE_DRYRUN set means a dry run;
  // $XDG_CACHE_HOME/oskel (default ~/.cache/oskel); this build's version and
  // build number; this program for the relaunch.
  static UpdaterSettings fromEnvironment();
};

// The maker's release feed.
inline constexpr const char* defaultFeedURL = "https://oskel.brindlework.com/releases/latest.json";

}  // namespace oskel::update
