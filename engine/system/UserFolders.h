#pragma once

#include <filesystem>

namespace oskel {

// The user's home folder: $HOME, else the password database, else "/".
std::filesystem::path homeFolder();

// An XDG base folder: the variable's value when it is an absolute path (the
// base directory rules say a relative one is ignored), else `fallback` under
// the home folder, e.g. xdgFolder("XDG_CACHE_HOME", ".cache").
std::filesystem::path xdgFolder(const char* variable, const std::filesystem::path& fallback);

}  // namespace oskel
