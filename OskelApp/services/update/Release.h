#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace oskel::update {

// One release as the feed describes it; the JSON keys are the field names.
struct Release {
  std::string version;  // marketing version, such as 1.4.0
  std::int64_t build = 0;  // the only value compared
  std::string url;      // the package
  std::string sha256;   // hexadecimal, either case
  std::int64_t size = 0;  // bytes
  std::optional<std::string> published;
  std::optional<std::string> notes;
  std::optional<std::string> minimumSystemVersion;  // carried, not acted upon

  bool operator==(const Release&) const = default;
};

// Packages larger than this are refused as a broken feed.
inline constexpr std::int64_t maxPackageBytes = std::int64_t{4} << 30;

// Decodes a feed body; the error says which field is missing or wrong.
std::expected<Release, std::string> decodeRelease(std::string_view json);

// The version text becomes part of a file name: only digits, letters, '.',
// '+', '~' and '-', 1 to 64 characters.
bool isAcceptableVersion(std::string_view version);

}  // namespace oskel::update
