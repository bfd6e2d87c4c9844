#pragma once

#include <functional>
#include <string>
#include <variant>

namespace oskel::OpenAIAuth {

struct Rejected {
  std::string reason;
  bool operator==(const Rejected&) const = default;
};
struct Unknown {
  std::string why;
  bool operator==(const Unknown&) const = default;
};
struct Valid {
  bool operator==(const Valid&) const = default;
};
using Verdict = std::variant<Rejected, Unknown, Valid>;

// GET {service API origin}/v1/models?limit=1 with the key as bearer token.
// Returns at once; the completion runs exactly once, on a network thread
// (on the caller's thread, before returning, when the origin may not carry
// the key: a plain-HTTP override towards another machine).
void check(const std::string& apiKey, double timeoutSeconds, std::function<void(Verdict)> completion);

// Maps an HTTP outcome to a verdict (status and body of a response).
Verdict verdictFor(int status, const std::string& body);

}  // namespace oskel::OpenAIAuth
