#include "service/OskelAPI.h"

#include <cstdlib>

#include <fmt/format.h>

#include "service/Url.h"

#ifndef OSKEL_DEFAULT_API
#define OSKEL_DEFAULT_API ""
#endif

namespace oskel::OskelAPI {

std::string productionOrigin() { return "https://api.oskel.app"; }

std::string origin() {
  if (const char* env = std::getenv("OSKEL_API")) {
    if (auto cleaned = Url::cleanOrigin(env); !cleaned.empty()) return cleaned;
  }
  // The build may bake in a default (the packaged app's counterpart of a bundle setting).
  if (auto cleaned = Url::cleanOrigin(OSKEL_DEFAULT_API); !cleaned.empty()) return cleaned;
  return productionOrigin();
}

std::string websocketOrigin() { return Url::websocketOriginOf(origin()); }

std::expected<std::string, std::string> translateURL(const TranslationOptions& options, const std::string& token) {
  const std::string base = websocketOrigin() + "/v1/translate";
  const auto parts = Url::parse(base);
  if (!parts || (parts->scheme != "ws" && parts->scheme != "wss"))
    return std::unexpected(fmt::format("relay origin \"{}\" cannot form a WebSocket URL", origin()));
  std::string url = fmt::format("{}?to={}&transcribe={}&token={}", base, Url::encodeQueryValue(options.targetLanguage),
                                options.transcribeInput ? "1" : "0", Url::encodeQueryValue(token));
  if (options.noiseReduction) url += "&noise=" + Url::encodeQueryValue(*options.noiseReduction);
  return url;
}

}  // namespace oskel::OskelAPI
