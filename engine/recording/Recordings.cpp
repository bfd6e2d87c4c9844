#include "recording/Recordings.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <system_error>

#include <fmt/format.h>

#include "recording/WAV.h"
#include "system/UserFolders.h"

namespace oskel::Recordings {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view arrow = "→";

// One value of user-dirs.dirs as the shell would read it: the quotes removed,
// backslash escapes resolved and a leading $HOME expanded. The file is written
// by xdg-user-dirs-update in exactly this form.
std::optional<fs::path> userDirValue(std::string_view raw, const fs::path& home) {
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
  std::string value;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
    value += raw[i];
  }
  for (std::string_view prefix : {"$HOME", "${HOME}"}) {
    if (value.starts_with(prefix) && (value.size() == prefix.size() || value[prefix.size()] == '/')) {
      std::string rest = value.substr(prefix.size());
      return rest.empty() ? home : fs::path(home.string() + rest);
    }
  }
  if (value.empty() || value.front() != '/') return std::nullopt;
  return fs::path(value);
}

std::optional<fs::path> musicFromUserDirs(const fs::path& home) {
  const fs::path config = xdgFolder("XDG_CONFIG_HOME", ".config");
  std::ifstream file(config / "user-dirs.dirs");
  std::optional<fs::path> music;
  std::string line;
  constexpr std::string_view key = "XDG_MUSIC_DIR=";
  while (std::getline(file, line)) {
    std::string_view text = line;
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    if (!text.starts_with(key)) continue;
    text.remove_prefix(key.size());
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    music = userDirValue(text, home);  // the last assignment wins, as in the shell
  }
  return music;
}

fs::path withoutTrailingSlash(const fs::path& path) {
  fs::path normal = path.lexically_normal();
  return normal.has_filename() || !normal.has_relative_path() ? normal : normal.parent_path();
}

bool isTaken(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

// Language codes come from the settings; a path separator must never turn
// them into a folder.
std::string fileSafe(std::string_view code) {
  std::string safe(code);
  std::replace(safe.begin(), safe.end(), '/', '_');
  std::replace(safe.begin(), safe.end(), '\0', '_');
  return safe;
}

bool isCodeCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'; }

std::chrono::system_clock::time_point creationDate(const fs::path& path) {
  struct statx info{};
  if (statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BTIME | STATX_MTIME, &info) != 0) return {};
  // Not every file system keeps a birth time; the modification time is the
  // closest stand-in for a file that is only ever appended to.
  const statx_timestamp& stamp = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
}

double durationOf(const fs::path& path) {
  auto info = WAV::info(path);
  if (!info || !(info->sampleRate > 0)) return 0;
  return static_cast<double>(info->frames) / info->sampleRate;
}

}  // namespace

fs::path musicFolder() {
  if (const char* music = std::getenv("XDG_MUSIC_DIR"); music && *music) return music;
  const fs::path home = homeFolder();
  // A user directory set to the home folder itself means "disabled".
  if (auto music = musicFromUserDirs(home); music && withoutTrailingSlash(*music) != withoutTrailingSlash(home)) {
    return *music;
  }
  return home / "Music";
}

fs::path directory() { return musicFolder() / "Oskel Recordings"; }

fs::path newFileURL(const fs::path& folder, std::string_view myLanguage, std::string_view theirLanguage,
                    std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::floor<std::chrono::seconds>(at));
  std::tm local{};
  localtime_r(&seconds, &local);
  const std::string stem = fmt::format("Oskel {:04}-{:02}-{:02} {:02}.{:02}.{:02} {}{}{}", local.tm_year + 1900,
                                       local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                       fileSafe(myLanguage), arrow, fileSafe(theirLanguage));
  fs::path candidate = folder / (stem + ".wav");
  for (int n = 2; isTaken(candidate); ++n) candidate = folder / fmt::format("{} {}.wav", stem, n);
  return candidate;
}

fs::path newFileURL(std::string_view myLanguage, std::string_view theirLanguage,
                    std::chrono::system_clock::time_point at) {
  return newFileURL(directory(), myLanguage, theirLanguage, at);
}

std::vector<File> list(const fs::path& folder) {
  std::vector<File> files;
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  if (error) return files;
  for (const auto& entry : entries) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".wav" || !entry.is_regular_file(error)) continue;
    File file;
    file.url = entry.path();
    file.date = creationDate(file.url);
    const auto size = entry.file_size(error);
    file.bytes = error ? 0 : static_cast<std::int64_t>(size);
    file.duration = durationOf(file.url);
    file.languages = languages(file.url.filename().string());
    files.push_back(std::move(file));
  }
  std::stable_sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.date > b.date; });
  return files;
}

std::vector<File> list() { return list(directory()); }

// The pattern "[a-z]{2,3}→[a-z]{2,3}", matched at the first arrow whose
// letter runs on both sides have that length and stand on their own.
std::optional<std::string> languages(std::string_view name) {
  const auto isLower = [](char c) { return c >= 'a' && c <= 'z'; };
  for (size_t at = name.find(arrow); at != std::string_view::npos; at = name.find(arrow, at + arrow.size())) {
    size_t begin = at;
    while (begin > 0 && isLower(name[begin - 1])) --begin;
    size_t end = at + arrow.size();
    while (end < name.size() && isLower(name[end])) ++end;
    const size_t before = at - begin;
    const size_t after = end - at - arrow.size();
    if (before < 2 || before > 3 || after < 2 || after > 3) continue;
    if ((begin > 0 && isCodeCharacter(name[begin - 1])) || (end < name.size() && isCodeCharacter(name[end]))) continue;
    return std::string(name.substr(begin, end - begin));
  }
  return std::nullopt;
}

}  // namespace oskel::Recordings
