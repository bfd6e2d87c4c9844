// Stand-ins for the network stack, which is not part of this build yet: the
// tests inject their own session environment and never reach these.
#include <stdexcept>

#include "service/OpenAIAuth.h"
#include "service/WebSocket.h"

namespace oskel {

std::shared_ptr<WebSocketClient> defaultWebSocketClient() { throw std::logic_error("no network stack in tests"); }

namespace OpenAIAuth {
void check(const std::string&, double, std::function<void(Verdict)>) {
  throw std::logic_error("no network stack in tests");
}
}  // namespace OpenAIAuth

}  // namespace oskel
