#include "service/Url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <fmt/format.h>

namespace oskel::Url {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
  std::string name(host);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (name == "localhost" || name == "localhost.") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, name.c_str(), &v6) == 1 && std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
}

std::optional<Parts> parse(std::string_view url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  Parts parts;
  parts.scheme = std::string(url.substr(0, schemeEnd));
  std::transform(parts.scheme.begin(), parts.scheme.end(), parts.scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string defaultPort;
  if (parts.scheme == "ws" || parts.scheme == "http") {
    defaultPort = "80";
  } else if (parts.scheme == "wss" || parts.scheme == "https") {
    defaultPort = "443";
  } else {
    return std::nullopt;
  }
  std::string_view rest = url.substr(schemeEnd + 3);
  const auto targetStart = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, targetStart);
  std::string_view target = targetStart == std::string_view::npos ? std::string_view{} : rest.substr(targetStart);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;
  if (const auto hash = target.find('#'); hash != std::string_view::npos) target = target.substr(0, hash);

  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    const auto after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
    }
  } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty()) return std::nullopt;
  const auto invalidHostChar = [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '\\' || c == '%' || c == '"';
  };
  if (std::any_of(host.begin(), host.end(), invalidHostChar)) return std::nullopt;
  if (!port.empty()) {
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    if (std::stoi(std::string(port)) > 65535) return std::nullopt;
  }
  if (std::any_of(target.begin(), target.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  parts.host = std::string(host);
  parts.port = port.empty() ? defaultPort : std::string(port);
  parts.target = target.empty() ? "/" : (target.front() == '?' ? "/" + std::string(target) : std::string(target));
  return parts;
}

std::string encodeQueryValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char raw : value) {
    const auto c = static_cast<unsigned char>(raw);
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(raw);
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

std::string websocketOriginOf(std::string_view httpOrigin) {
  if (startsWith(httpOrigin, "https://")) return "wss://" + std::string(httpOrigin.substr(8));
  if (startsWith(httpOrigin, "http://")) return "ws://" + std::string(httpOrigin.substr(7));
  return std::string(httpOrigin);
}

std::string cleanOrigin(std::string_view candidate) {
  const auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!candidate.empty() && isBlank(candidate.front())) candidate.remove_prefix(1);
  while (!candidate.empty() && isBlank(candidate.back())) candidate.remove_suffix(1);
  while (!candidate.empty() && candidate.front() == '/') candidate.remove_prefix(1);
  while (!candidate.empty() && candidate.back() == '/') candidate.remove_suffix(1);
  return std::string(candidate);
}

}  // namespace oskel::Url
