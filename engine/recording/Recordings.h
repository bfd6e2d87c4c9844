#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Names and lists the call recordings. Everything is derived from the folder
// itself: a file's name carries its start time and language pair, so no index
// is kept.
namespace oskel::Recordings {

struct File {
  std::filesystem::path url;
  std::chrono::system_clock::time_point date;  // creation date
  double duration = 0;                          // seconds, 0 when the header is unreadable
  std::int64_t bytes = 0;
  std::optional<std::string> languages;         // "en→es" from the name

  bool operator==(const File&) const = default;
};

// The user's music folder: $XDG_MUSIC_DIR when set, else the MUSIC entry of
// user-dirs.dirs (what `xdg-user-dir MUSIC` reports), else ~/Music.
std::filesystem::path musicFolder();

// musicFolder() / "Oskel Recordings". Not created here.
std::filesystem::path directory();

// "Oskel yyyy-MM-dd HH.mm.ss my→their.wav" in the user's time zone, inside
// `folder`. When that name is taken (a restart within the same second), " 2",
// " 3", ... is added before the extension so an earlier recording is never
// replaced.
std::filesystem::path newFileURL(const std::filesystem::path& folder, std::string_view myLanguage,
                                 std::string_view theirLanguage, std::chrono::system_clock::time_point at);
std::filesystem::path newFileURL(std::string_view myLanguage, std::string_view theirLanguage,
                                 std::chrono::system_clock::time_point at);

// The recordings in `folder` (default: directory()), newest first.
std::vector<File> list(const std::filesystem::path& folder);
std::vector<File> list();

// The first "xx→yy" pair (two or three lower-case letters each side) in a
// file name. A pair glued to further letters or a hyphen, such as the
// regional code in "pt-br→en", is not taken for a shorter one.
std::optional<std::string> languages(std::string_view name);

}  // namespace oskel::Recordings
