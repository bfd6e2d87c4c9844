#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace oskel::Url {

struct Parts {
  std::string scheme;  // lower case: ws, wss, http, https
  std::string host;    // without brackets for IPv6 literals
  std::string port;    // explicit or the scheme's default
  std::string target;  // path and query, "/" when empty
};

// Splits an absolute ws/wss/http/https URL; nullopt when it is not one.
std::optional<Parts> parse(std::string_view url);

// Percent-encodes a query value (everything but RFC 3986 unreserved characters).
std::string encodeQueryValue(std::string_view value);

// Replaces a leading https:// by wss:// and http:// by ws://; others unchanged.
std::string websocketOriginOf(std::string_view httpOrigin);

// True for this machine: localhost, 127.0.0.0/8 and ::1.
bool isLoopbackHost(std::string_view host);

// Trims whitespace and newlines, then '/' characters, from both ends.
std::string cleanOrigin(std::string_view candidate);

}  // namespace oskel::Url
