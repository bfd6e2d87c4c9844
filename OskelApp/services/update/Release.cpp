#include "Release.h"

#include <boost/json.hpp>
#include <fmt/format.h>

#include "service/Url.h"

namespace oskel::update {
namespace json = boost::json;
namespace {

using Fail = std::unexpected<std::string>;

std::string invalid(std::string_view why) { return fmt::format("the update feed is not valid: {}", why); }

std::expected<std::string, std::string> text(const json::object& feed, std::string_view key) {
  const auto* value = feed.if_contains(key);
  if (!value) return Fail(invalid(fmt::format("\"{}\" is missing", key)));
  if (!value->is_string()) return Fail(invalid(fmt::format("\"{}\" is not text", key)));
  return std::string(value->get_string());
}

std::expected<std::optional<std::string>, std::string> optionalText(const json::object& feed, std::string_view key) {
  const auto* value = feed.if_contains(key);
  if (!value || value->is_null()) return std::optional<std::string>{};
  if (!value->is_string()) return Fail(invalid(fmt::format("\"{}\" is not text", key)));
  return std::optional<std::string>(std::string(value->get_string()));
}

std::expected<std::int64_t, std::string> integer(const json::object& feed, std::string_view key) {
  const auto* value = feed.if_contains(key);
  if (!value) return Fail(invalid(fmt::format("\"{}\" is missing", key)));
  if (value->is_int64()) return value->get_int64();
  return Fail(invalid(fmt::format("\"{}\" is not a whole number", key)));
}

}  // namespace

std::expected<Release, std::string> decodeRelease(std::string_view body) {
  std::error_code error;
  const json::value parsed = json::parse(body, error);
  if (error) return Fail(invalid(error.message()));
  const auto* feed = parsed.if_object();
  if (!feed) return Fail(invalid("not a JSON object"));

  Release release;
  auto version = text(*feed, "version");
  auto build = integer(*feed, "build");
  auto url = text(*feed, "url");
  auto sha256 = text(*feed, "sha256");
  auto size = integer(*feed, "size");
  auto published = optionalText(*feed, "published");
  auto notes = optionalText(*feed, "notes");
  auto minimum = optionalText(*feed, "minimumSystemVersion");
  if (!version) return Fail(version.error());
  if (!build) return Fail(build.error());
  if (!url) return Fail(url.error());
  if (!sha256) return Fail(sha256.error());
  if (!size) return Fail(size.error());
  if (!published) return Fail(published.error());
  if (!notes) return Fail(notes.error());
  if (!minimum) return Fail(minimum.error());
  const auto parts = Url::parse(*url);
  if (!parts || (parts->scheme != "https" && parts->scheme != "http"))
    return Fail(invalid("\"url\" is not an http(s) URL"));
  if (*size <= 0 || *size > maxPackageBytes) return Fail(invalid(fmt::format("\"size\" {} is out of range", *size)));
  release.version = std::move(*version);
  release.build = *build;
  release.url = std::move(*url);
  release.sha256 = std::move(*sha256);
  release.size = *size;
  release.published = std::move(*published);
  release.notes = std::move(*notes);
  release.minimumSystemVersion = std::move(*minimum);
  return release;
}

bool isAcceptableVersion(std::string_view version) {
  if (version.empty() || version.size() > 64) return false;
  for (const char c : version) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && c != '.' && c != '+' && c != '~' && c != '-') return false;
  }
  return true;
}

}  // namespace oskel::update
