#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "SettingsStore.h"

// The download identifier an installation was made from: the installer leaves
// it in an installation-wide file, and the application remembers it.
namespace oskel::InstallSource {

// Where the package leaves the file: {"download_id": "..."}.
inline constexpr const char* defaultPath = "/var/lib/oskel/install-source.json";

// 6 to 32 lower-case ASCII letters or digits.
bool isValid(std::string_view text);

// The file's valid identifier; none for a missing or unreadable file, text
// that is not a JSON object, a missing key or an invalid value.
std::optional<std::string> read(const std::string& path);

}  // namespace oskel::InstallSource

namespace oskel::Attribution {

inline constexpr const char* settingsKey = "attributionDownloadId";

// The remembered identifier when valid; otherwise the install source's, which
// is then remembered (so it survives the file's removal); otherwise none.
std::optional<std::string> downloadId(SettingsStore& settings,
                                      const std::string& installSourcePath = InstallSource::defaultPath);

}  // namespace oskel::Attribution
