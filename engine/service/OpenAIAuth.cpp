#include "service/OpenAIAuth.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "service/HttpGet.h"
#include "service/ServiceRequests.h"

namespace oskel::OpenAIAuth {
namespace {

// "error"."message" of a JSON error body, when there is one.
std::optional<std::string> errorMessage(const std::string& body) {
  boost::system::error_code error;
  const auto document = boost::json::parse(body, error);
  if (error || !document.is_object()) return std::nullopt;
  const auto* inner = document.as_object().if_contains("error");
  if (!inner || !inner->is_object()) return std::nullopt;
  const auto* message = inner->as_object().if_contains("message");
  if (!message || !message->is_string()) return std::nullopt;
  return std::string(message->as_string());
}

}  // namespace

void check(const std::string& apiKey, double timeoutSeconds, std::function<void(Verdict)> completion) {
  HttpRequest request;
  request.url = ServiceEndpoints::apiOrigin() + "/v1/models?limit=1";
  if (auto refusal = clearTextCredentialRefusal(request.url, "OSKEL_OPENAI_API")) return completion(Unknown{*refusal});
  request.headers.emplace_back("Authorization", "Bearer " + apiKey);
  request.timeout = std::chrono::duration<double>(timeoutSeconds);
  httpGet(request, [completion = std::move(completion)](std::expected<HttpResponse, std::string> outcome) {
    if (!outcome) return completion(Unknown{outcome.error()});
    completion(verdictFor(outcome->status, outcome->body));
  });
}

Verdict verdictFor(int status, const std::string& body) {
  if (status >= 200 && status <= 299) return Valid{};
  if (status == 401 || status == 403) return Rejected{errorMessage(body).value_or(fmt::format("HTTP {}", status))};
  return Unknown{fmt::format("HTTP {}", status)};
}

}  // namespace oskel::OpenAIAuth
