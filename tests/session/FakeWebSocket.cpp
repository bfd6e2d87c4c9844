#include "session/FakeWebSocket.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "service/Base64.h"

namespace oskel::test {

void FakeConnection::start(Handlers handlers) {
  std::lock_guard guard(mutex_);
  handlers_ = std::move(handlers);
  started_ = true;
}

void FakeConnection::sendText(std::string text) {
  std::lock_guard guard(mutex_);
  sent_.push_back(std::move(text));
}

void FakeConnection::close(std::function<void()> done) {
  {
    std::lock_guard guard(mutex_);
    ++closeCalls_;
    if (holdCloses_) {
      closeDone_ = std::move(done);
      return;
    }
  }
  if (done) done();
}

void FakeConnection::finishClose() {
  std::function<void()> done;
  {
    std::lock_guard guard(mutex_);
    done = std::exchange(closeDone_, {});
  }
  if (done) done();
}

FakeConnection::Handlers FakeConnection::handlers() const {
  std::lock_guard guard(mutex_);
  EXPECT_TRUE(started_) << "connection was never started";
  return handlers_;
}

void FakeConnection::receive(const std::string& message) {
  if (auto handlers = this->handlers(); handlers.onMessage) handlers.onMessage(message);
}

void FakeConnection::fail(const std::string& description, std::optional<uint16_t> closeCode) {
  if (auto handlers = this->handlers(); handlers.onFailure)
    handlers.onFailure(WebSocketFailure{description, closeCode});
}

void FakeConnection::reportBacklog(AudioBacklog backlog) {
  if (auto handlers = this->handlers(); handlers.onAudioBacklog) handlers.onAudioBacklog(backlog);
}

bool FakeConnection::started() const {
  std::lock_guard guard(mutex_);
  return started_;
}

bool FakeConnection::closed() const {
  std::lock_guard guard(mutex_);
  return closeCalls_ > 0;
}

std::vector<std::string> FakeConnection::sent() const {
  std::lock_guard guard(mutex_);
  return sent_;
}

std::vector<std::string> FakeConnection::sentTypes() const {
  std::vector<std::string> types;
  for (const auto& text : sent()) types.emplace_back(boost::json::parse(text).at("type").as_string());
  return types;
}

std::vector<std::vector<uint8_t>> FakeConnection::appendedAudio() const {
  std::vector<std::vector<uint8_t>> blocks;
  for (const auto& text : sent()) {
    const auto value = boost::json::parse(text);
    if (value.at("type").as_string() != "session.input_audio_buffer.append") continue;
    auto bytes = Base64::decode(value.at("audio").as_string());
    EXPECT_TRUE(bytes.has_value());
    blocks.push_back(bytes.value_or(std::vector<uint8_t>{}));
  }
  return blocks;
}

std::shared_ptr<WebSocketConnection> FakeWebSocketClient::makeConnection(const HttpRequest&,
                                                                         std::size_t maxMessageBytes) {
  auto connection = std::make_shared<FakeConnection>(maxMessageBytes, holdCloses.load());
  std::lock_guard guard(mutex_);
  connections_.push_back(connection);
  return connection;
}

std::size_t FakeWebSocketClient::count() const {
  std::lock_guard guard(mutex_);
  return connections_.size();
}

std::shared_ptr<FakeConnection> FakeWebSocketClient::at(std::size_t index) const {
  std::lock_guard guard(mutex_);
  EXPECT_LT(index, connections_.size()) << "no connection #" << index;
  return index < connections_.size() ? connections_[index] : nullptr;
}

std::shared_ptr<FakeConnection> FakeWebSocketClient::last() const { return at(count() - 1); }

}  // namespace oskel::test
