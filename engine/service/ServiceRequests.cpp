#include "service/ServiceRequests.h"

#include <cstdlib>

#include <fmt/format.h>

#include "service/OskelAPI.h"
#include "service/Url.h"

namespace oskel {

namespace ServiceEndpoints {

std::string apiOrigin() {
  if (const char* env = std::getenv("OSKEL_OPENAI_API")) {
    if (auto cleaned = Url::cleanOrigin(env); !cleaned.empty()) return cleaned;
  }
  return "https://api.openai.com";
}

std::string websocketOrigin() { return Url::websocketOriginOf(apiOrigin()); }

std::string realtimeEndpoint() { return websocketOrigin() + "/v1/realtime/translations"; }

}  // namespace ServiceEndpoints

std::optional<std::string> clearTextCredentialRefusal(const std::string& url, const char* variable) {
  const auto parts = Url::parse(url);
  if (!parts || parts->scheme == "https" || parts->scheme == "wss" || Url::isLoopbackHost(parts->host))
    return std::nullopt;
  return fmt::format("{} points at {}://{}: a credential goes in clear text only to this machine "
                     "(localhost, 127.0.0.0/8, ::1); use https:// for any other host",
                     variable, parts->scheme, parts->host);
}

std::expected<HttpRequest, std::string> makeTranslationRequest(const TranslationCredential& credential,
                                                                const TranslationOptions& options) {
  HttpRequest request;
  request.timeout = std::chrono::duration<double>(60.0);
  if (const auto* direct = std::get_if<TranslationCredential::OpenAI>(&credential.value)) {
    request.url = ServiceEndpoints::realtimeEndpoint() + "?model=" + options.model;
    const auto parts = Url::parse(request.url);
    if (!parts || (parts->scheme != "ws" && parts->scheme != "wss"))
      return std::unexpected(
          fmt::format("service origin \"{}\" cannot form a WebSocket URL", ServiceEndpoints::apiOrigin()));
    if (auto refusal = clearTextCredentialRefusal(request.url, "OSKEL_OPENAI_API")) return std::unexpected(*refusal);
    request.headers.emplace_back("Authorization", "Bearer " + direct->apiKey);
    return request;
  }
  const auto& relay = std::get<TranslationCredential::Oskel>(credential.value);
  auto url = OskelAPI::translateURL(options, relay.accessToken);
  if (!url) return std::unexpected(url.error());
  request.url = std::move(*url);
  if (auto refusal = clearTextCredentialRefusal(request.url, "OSKEL_API")) return std::unexpected(*refusal);
  request.headers.emplace_back("Authorization", "Bearer " + relay.accessToken);
  return request;
}

}  // namespace oskel
