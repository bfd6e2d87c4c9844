#include "NetworkProbe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstdlib>
#include <stdexcept>

namespace oskel::test {

WebSocketProbe::WebSocketProbe() : state_(std::make_shared<State>()) {}

WebSocketConnection::Handlers WebSocketProbe::handlers() {
  WebSocketConnection::Handlers handlers;
  handlers.onMessage = [state = state_](std::string bytes) {
    {
      std::lock_guard guard(state->mutex);
      state->messages.push_back(std::move(bytes));
    }
    state->changed.notify_all();
  };
  handlers.onFailure = [state = state_](WebSocketFailure failure) {
    {
      std::lock_guard guard(state->mutex);
      state->failures.push_back(std::move(failure));
    }
    state->changed.notify_all();
  };
  return handlers;
}

std::vector<std::string> WebSocketProbe::messages() const {
  std::lock_guard guard(state_->mutex);
  return state_->messages;
}

std::optional<WebSocketFailure> WebSocketProbe::failure() const {
  std::lock_guard guard(state_->mutex);
  if (state_->failures.empty()) return std::nullopt;
  return state_->failures.front();
}

std::size_t WebSocketProbe::failureCount() const {
  std::lock_guard guard(state_->mutex);
  return state_->failures.size();
}

template <class Done>
void WebSocketProbe::waitUntil(Done done) const {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_for(lock, networkWait, done);
}

bool WebSocketProbe::waitForMessages(std::size_t count) const {
  waitUntil([&] { return state_->messages.size() >= count || !state_->failures.empty(); });
  return messages().size() >= count;
}

std::optional<std::string> WebSocketProbe::waitForType(const std::string& type) const {
  std::optional<std::string> found;
  waitUntil([&] {
    const auto match = std::ranges::find(state_->messages, type, typeOf);
    if (match != state_->messages.end()) found = *match;
    return found || !state_->failures.empty();
  });
  return found;
}

WebSocketFailure WebSocketProbe::waitForFailure() const {
  waitUntil([&] { return !state_->failures.empty(); });
  auto failure = this->failure();
  EXPECT_TRUE(failure) << "no failure within " << networkWait.count() << " s";
  return failure.value_or(WebSocketFailure{"(none)", std::nullopt});
}

ProbedConnection open(const HttpRequest& request) {
  ProbedConnection c;
  c.connection = defaultWebSocketClient()->makeConnection(request, emulator::clientMessageLimit);
  c.connection->start(c.probe.handlers());
  return c;
}

HttpRequest directRequest(const emulator::ServiceEmulator& emulator, const std::string& key) {
  HttpRequest request;
  request.url = emulator.websocketOrigin() + "/v1/realtime/translations?model=gpt-realtime-translate";
  request.headers = {{"Authorization", "Bearer " + key}};
  return request;
}

const std::string sessionUpdate =
    R"({"type":"session.update","session":{"audio":{"input":{"noise_reduction":null},"output":{"language":"es"}}}})";
const std::string blockOf100ms(6400, 'A');
const std::string append100ms = R"({"type":"session.input_audio_buffer.append","audio":")" + blockOf100ms + "\"}";

std::string typeOf(const std::string& message) {
  boost::system::error_code error;
  const auto value = boost::json::parse(message, error);
  if (error || !value.is_object()) return {};
  const auto* type = value.as_object().if_contains("type");
  return type && type->is_string() ? std::string(type->as_string()) : std::string();
}

namespace {

int boundSocket(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("bind");
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

std::uint16_t closedPort() {
  std::uint16_t port = 0;
  ::close(boundSocket(port));
  return port;
}

SilentListener::SilentListener() {
  fd_ = boundSocket(port_);
  ::listen(fd_, 16);
}

SilentListener::~SilentListener() { ::close(fd_); }

}  // namespace oskel::test
