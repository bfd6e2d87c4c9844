#pragma once

#include <expected>
#include <string>

#include "service/TranslationOptions.h"

namespace oskel::OskelAPI {

// The relay's production HTTPS origin.
std::string productionOrigin();
// "OSKEL_API" from the environment, then the build-time default, then production.
std::string origin();
// origin() with https:// -> wss:// and http:// -> ws://.
std::string websocketOrigin();
// The relay's translation URL, or why the origin cannot form one.
std::expected<std::string, std::string> translateURL(const TranslationOptions& options, const std::string& token);

}  // namespace oskel::OskelAPI
