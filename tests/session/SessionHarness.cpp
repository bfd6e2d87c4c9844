#include "session/SessionHarness.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace oskel::test {

SessionHarness::SessionHarness(TranslationCredential credential, TranslationOptions options) {
  TranslationSession::Environment environment;
  environment.clock = clock;
  environment.webSocketClient = client;
  environment.checkAPIKey = [shared = shared_](const std::string& apiKey, double timeoutSeconds,
                                               std::function<void(OpenAIAuth::Verdict)> completion) {
    std::lock_guard guard(shared->mutex);
    shared->keyChecks.push_back({apiKey, timeoutSeconds, std::move(completion)});
  };
  session = TranslationSession::create(std::move(credential), std::move(options), "en→es", std::move(environment));
  session->setOnEvent([shared = shared_](const TranslationEvent& event) {
    std::lock_guard guard(shared->mutex);
    shared->events.push_back(event);
  });
}

SessionHarness::~SessionHarness() { release(); }

void SessionHarness::release() {
  session.reset();
  clock->settle();
}

void SessionHarness::start() {
  session->start();
  settle();
}

void SessionHarness::append(std::vector<uint8_t> block) {
  session->appendAudio(block);
  settle();
}

void SessionHarness::stop(double timeoutSeconds) {
  session->stop(timeoutSeconds, [shared = shared_] {
    std::lock_guard guard(shared->mutex);
    ++shared->completions;
  });
  settle();
}

int SessionHarness::completions() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->completions;
}

void SessionHarness::created(FakeConnection& connection, const std::string& id, std::optional<double> expiresIn) {
  boost::json::object body{{"id", id}};
  if (expiresIn) {
    const double wallSeconds = std::chrono::duration<double>(clock->wallNow().time_since_epoch()).count();
    body["expires_at"] = wallSeconds + *expiresIn;
  }
  receive(connection, boost::json::serialize(boost::json::object{{"type", "session.created"}, {"session", body}}));
}

void SessionHarness::receive(FakeConnection& connection, const std::string& message) {
  connection.receive(message);
  settle();
}

void SessionHarness::fail(FakeConnection& connection, const std::string& description,
                          std::optional<uint16_t> closeCode) {
  connection.fail(description, closeCode);
  settle();
}

std::shared_ptr<FakeConnection> SessionHarness::startLive(const std::string& id, std::optional<double> expiresIn) {
  start();
  return makeReady(id, expiresIn);
}

void SessionHarness::rotate(const std::string& reason) {
  session->rotate(reason);
  settle();
}

std::shared_ptr<FakeConnection> SessionHarness::rotateTo(const std::string& id, std::optional<double> expiresIn) {
  rotate();
  return makeReady(id, expiresIn);
}

std::shared_ptr<FakeConnection> SessionHarness::makeReady(const std::string& id, std::optional<double> expiresIn) {
  auto connection = client->last();
  created(*connection, id, expiresIn);
  updated(*connection);
  return connection;
}

std::vector<TranslationEvent> SessionHarness::events() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->events;
}

std::vector<std::string> SessionHarness::eventNames() const {
  std::vector<std::string> names;
  for (const auto& event : events()) names.emplace_back(eventName(event));
  return names;
}

void SessionHarness::clearEvents() {
  std::lock_guard guard(shared_->mutex);
  shared_->events.clear();
}

std::vector<SessionHarness::KeyCheckCall> SessionHarness::keyChecks() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->keyChecks;
}

void SessionHarness::answerKeyCheck(std::size_t index, OpenAIAuth::Verdict verdict) {
  const auto calls = keyChecks();
  ASSERT_LT(index, calls.size());
  calls[index].completion(std::move(verdict));
  settle();
}

std::vector<uint8_t> numberedBlock(uint32_t number, std::size_t size) {
  std::vector<uint8_t> block(size);
  for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>((number >> (8 * (i % 4))) & 0xff);
  return block;
}

uint32_t blockNumber(const std::vector<uint8_t>& block) {
  uint32_t number = 0;
  for (std::size_t i = 0; i < 4 && i < block.size(); ++i) number |= static_cast<uint32_t>(block[i]) << (8 * i);
  return number;
}

}  // namespace oskel::test
