#pragma once

#include <expected>
#include <optional>
#include <string>

#include "service/TranslationCredential.h"
#include "service/TranslationOptions.h"
#include "service/WebSocket.h"

namespace oskel {

// Origins of the translation service itself. Production values are built in;
// "OSKEL_OPENAI_API" overrides the HTTPS API origin, and the WebSocket origin
// is derived from it (https -> wss, http -> ws).
namespace ServiceEndpoints {
std::string apiOrigin();
std::string websocketOrigin();
// websocketOrigin() + "/v1/realtime/translations"
std::string realtimeEndpoint();
}  // namespace ServiceEndpoints

// Why a credential must not go to `url`, if it must not: over plain http://
// or ws:// it would travel in clear text, which an origin override named by
// `variable` may do only towards this machine.
std::optional<std::string> clearTextCredentialRefusal(const std::string& url, const char* variable);

// The WebSocket request of one connection attempt for either path, or a
// clear error when the configured origin cannot form a URL.
std::expected<HttpRequest, std::string> makeTranslationRequest(const TranslationCredential& credential,
                                                                const TranslationOptions& options);

}  // namespace oskel
