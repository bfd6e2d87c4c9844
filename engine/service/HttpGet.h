#pragma once

#include <expected>
#include <functional>
#include <string>

#include "service/WebSocket.h"

namespace oskel {

struct HttpResponse {
  int status = 0;
  std::string body;
};

// One HTTP or HTTPS GET of request.url with request.headers; the whole exchange
// (connect, TLS, request, response) is bounded by request.timeout. Certificates
// are verified like the WebSocket client's (system store plus OSKEL_CA_FILE).
// Returns at once; the completion runs exactly once on the network thread with
// the response (any status) or a description of the transport failure.
// Redirects are not followed; bodies over 1 MiB fail.
void httpGet(const HttpRequest& request, std::function<void(std::expected<HttpResponse, std::string>)> completion);

// The same exchange with another method and a body sent as it stands (the
// caller names its type with a "Content-Type" header), e.g. a POST of JSON.
// An unknown method fails through the completion.
void httpSend(const HttpRequest& request, const std::string& method, std::string body,
              std::function<void(std::expected<HttpResponse, std::string>)> completion);

}  // namespace oskel
