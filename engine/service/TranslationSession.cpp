#include "service/TranslationSession.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <variant>

#include <fmt/format.h>

#include "log/Log.h"
#include "service/RealtimeProtocol.h"
#include "service/ServiceRequests.h"

namespace oskel {

namespace {

using namespace std::chrono_literals;

// "Never happened" for the timestamps: far enough back that any gap measured
// from it is huge, close enough that the subtraction cannot overflow.
constexpr Clock::TimePoint distantPast = Clock::TimePoint(-std::chrono::hours(24 * 365 * 100));

constexpr double appendStreakGap = 3.0;  // a longer pause starts a new run of audio
constexpr double silenceWarning = 5.0;
constexpr double watchdogInterval = 2.0;
constexpr double rotationLead = 60.0;
constexpr double retryRotationDelay = 5.0;
constexpr double keyCheckTimeout = 10.0;
constexpr double maxReconnectDelay = 10.0;
const char* const connectingID = "(connecting)";

std::atomic<double> stallTimeoutSeconds{8.0};

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

// A double as its shortest exact decimal, always with a fraction or exponent
// ("4.0", "0.3", "1e+16").
std::string decimalText(double value) {
  std::string text = fmt::format("{}", value);
  if (text.find_first_not_of("-0123456789") == std::string::npos) text += ".0";
  return text;
}

}  // namespace

struct TranslationSession::Connection {
  std::shared_ptr<WebSocketConnection> task;
  std::string sessionID = connectingID;
  std::optional<Clock::WallTime> expiresAt;
  bool isReady = false;
  TimePoint readyAt = distantPast;
  bool cancelled = false;
  bool created = false;     // "session.created" arrived
  bool configured = false;  // "session.update" sent (direct path)
  Timer readyTimer;         // gives up on a connection that never becomes ready
  // An episode of dropping audio for a slow uplink is this connection's: a
  // reconnect starts without one, so the next connection's is reported too.
  bool audioBacklog = false;
  std::uint64_t backlogDropped = 0;
};

std::string TranslationSession::endpoint() { return ServiceEndpoints::realtimeEndpoint(); }

double TranslationSession::stallTimeout() { return stallTimeoutSeconds.load(std::memory_order_relaxed); }

void TranslationSession::setStallTimeout(double seconds) {
  stallTimeoutSeconds.store(seconds, std::memory_order_relaxed);
}

std::shared_ptr<TranslationSession> TranslationSession::create(TranslationCredential credential,
                                                               TranslationOptions options, std::string label,
                                                               Environment environment) {
  return std::make_shared<TranslationSession>(Token{}, std::move(credential), std::move(options), std::move(label),
                                              std::move(environment));
}

std::shared_ptr<TranslationSession> TranslationSession::create(std::string apiKey, TranslationOptions options,
                                                               std::string label, Environment environment) {
  return create(TranslationCredential::openai(std::move(apiKey)), std::move(options), std::move(label),
                std::move(environment));
}

TranslationSession::TranslationSession(Token, TranslationCredential credential, TranslationOptions options,
                                       std::string label, Environment environment)
    : credential_(std::move(credential)),
      options_(std::move(options)),
      label_(std::move(label)),
      prefix_("[" + label_ + "] "),
      environment_(std::move(environment)),
      queue_(std::make_unique<SerialQueue>("oskel.session." + label_,
                                           environment_.clock ? environment_.clock : Clock::system())),
      lastAppendAt_(distantPast),
      appendStreakStartedAt_(distantPast),
      lastMessageAt_(distantPast) {}

TranslationSession::~TranslationSession() {
  // Sockets still held are closed quietly: no events, no log lines.
  for (auto* connection : {active_.get(), pending_.get()})
    if (connection) cancel(*connection);
  for (const auto& connection : draining_) cancel(*connection);
  // Stops the worker after whatever runs now; when that is us (the last
  // reference was dropped by a task), the worker winds down on its own.
  queue_.reset();
}

// MARK: Public operations (any thread)

void TranslationSession::setOnEvent(EventHandler handler) {
  onQueue([handler = std::move(handler)](TranslationSession& self) { self.onEvent_ = handler; });
}

void TranslationSession::start() {
  onQueue([](TranslationSession& self) {
    self.open("start");
    if (self.stopping_) return;
    self.watchdog_ = self.queue_->scheduleRepeating(
        delayFromSeconds(watchdogInterval), delayFromSeconds(watchdogInterval),
        [weak = self.weak_from_this()] {
          if (auto session = weak.lock()) session->checkForStall();
        });
  });
}

void TranslationSession::appendAudio(std::span<const uint8_t> pcm16) {
  appendAudio(std::vector<uint8_t>(pcm16.begin(), pcm16.end()));
}

void TranslationSession::appendAudio(std::vector<uint8_t>&& pcm16) {
  if (pcm16.empty()) return;
  // Posted directly rather than through onQueue(): ten blocks a second per
  // direction, and a second function wrapper would allocate for each.
  queue_->post([weak = weak_from_this(), block = std::move(pcm16)] {
    if (auto self = weak.lock()) self->sendAudio(block);
  });
}

void TranslationSession::rotate(std::string reason) {
  onQueue([reason = std::move(reason)](TranslationSession& self) {
    if (!self.stopping_ && self.active_ && !self.pending_) self.open(reason);
  });
}

void TranslationSession::forceReconnect(std::string reason) {
  onQueue([reason = std::move(reason)](TranslationSession& self) { self.reconnectNow(reason); });
}

void TranslationSession::stop(double timeoutSeconds, std::function<void()> completion) {
  onQueue([timeoutSeconds, completion = std::move(completion)](TranslationSession& self) mutable {
    self.beginStop(timeoutSeconds, std::move(completion));
  });
}

// MARK: Scheduling helpers

void TranslationSession::onQueue(std::function<void(TranslationSession&)> work) {
  queue_->post([weak = weak_from_this(), work = std::move(work)] {
    if (auto self = weak.lock()) work(*self);
  });
}

void TranslationSession::afterDelay(double seconds, std::function<void(TranslationSession&)> work) {
  queue_->postAfter(delayFromSeconds(seconds), [weak = weak_from_this(), work = std::move(work)] {
    if (auto self = weak.lock()) work(*self);
  });
}

Timer TranslationSession::timerAfter(double seconds, std::function<void(TranslationSession&)> work) {
  return queue_->schedule(delayFromSeconds(seconds), [weak = weak_from_this(), work = std::move(work)] {
    if (auto self = weak.lock()) work(*self);
  });
}

TranslationSession::TimePoint TranslationSession::now() const { return queue_->clock().now(); }

// MARK: Opening

void TranslationSession::open(const std::string& reason) {
  if (stopping_ || pending_) return;

  auto request = makeTranslationRequest(credential_, options_);
  if (!request) {
    Log::error([&] { return prefix_ + "cannot open a connection: " + request.error(); });
    if (!active_) raise(TranslationEvents::Disconnected{request.error()});
    connectionAttemptFailed(reason);
    return;
  }
  auto task = environment_.webSocketClient
                  ? environment_.webSocketClient->makeConnection(*request, maximumMessageSize)
                  : nullptr;
  if (!task) {
    Log::error([&] { return prefix_ + "cannot open a connection: no WebSocket client"; });
    if (!active_) raise(TranslationEvents::Disconnected{"no WebSocket client"});
    connectionAttemptFailed(reason);
    return;
  }

  auto connection = std::make_shared<Connection>();
  connection->task = std::move(task);
  pending_ = connection;
  Log::info([&] { return prefix_ + "connecting (" + reason + ") -> " + options_.targetLanguage; });

  // Transport callbacks only hop to the queue; they never keep the session
  // or the connection alive.
  WebSocketConnection::Handlers handlers;
  handlers.onMessage = [ref = queue_->ref(), weak = weak_from_this(),
                        weakConnection = std::weak_ptr<Connection>(connection)](std::string bytes) {
    ref.post([weak, weakConnection, bytes = std::move(bytes)] {
      auto self = weak.lock();
      auto target = weakConnection.lock();
      if (self && target) self->handle(target, bytes);
    });
  };
  handlers.onFailure = [ref = queue_->ref(), weak = weak_from_this(),
                        weakConnection = std::weak_ptr<Connection>(connection)](WebSocketFailure failure) {
    ref.post([weak, weakConnection, failure = std::move(failure)] {
      auto self = weak.lock();
      auto target = weakConnection.lock();
      if (self && target && !target->cancelled) self->handleFailure(target, failure);
    });
  };
  handlers.onAudioBacklog = [ref = queue_->ref(), weak = weak_from_this(),
                             weakConnection = std::weak_ptr<Connection>(connection)](AudioBacklog backlog) {
    ref.post([weak, weakConnection, backlog] {
      auto self = weak.lock();
      auto target = weakConnection.lock();
      if (self && target) self->handleAudioBacklog(*target, backlog);
    });
  };
  // Base64 makes four bytes of every three.
  const double base64BytesPerSecond = sampleRate * 2.0 * 4.0 / 3.0;
  handlers.queuedAudioLimit = static_cast<std::size_t>(queuedAudioSeconds * base64BytesPerSecond);
  // About a second of audio in the kernel: enough for any link fast enough
  // for the audio, and the rest of a backlog stays where it is bounded.
  handlers.sendBufferBytes = static_cast<std::size_t>(base64BytesPerSecond);
  // A server that accepts the socket but never configures the session must
  // not hold up every later attempt.
  connection->readyTimer =
      timerAfter(readyTimeout, [weakConnection = std::weak_ptr<Connection>(connection)](TranslationSession& self) {
        const auto target = weakConnection.lock();
        if (!target || target->cancelled || target->isReady) return;
        self.handleFailure(target, WebSocketFailure{fmt::format("not ready within {:.0f}s", readyTimeout), {}});
      });
  connection->task->start(std::move(handlers));
}

// A request that could not even be formed counts as a failed attempt: a
// rotation is retried later, otherwise the session backs off.
void TranslationSession::connectionAttemptFailed(const std::string& reason) {
  if (active_)
    retryRotationLater();
  else
    scheduleReconnect(reason);
}

// MARK: Receiving

void TranslationSession::handle(const ConnectionPtr& connection, const std::string& bytes) {
  if (connection->cancelled) return;
  auto received = RealtimeProtocol::parse(bytes);
  if (!received) return;
  if (connection == active_) noteMessage(received->type);

  namespace In = RealtimeProtocol::Incoming;
  std::visit(Overloaded{
                 [&](In::Created& created) {
                   handleCreated(*connection, std::move(created.sessionID), created.expiresAt);
                 },
                 [&](In::Updated&) { handleUpdated(connection); },
                 [&](In::OutputAudioDelta& audio) { raise(TranslationEvents::OutputAudio{std::move(audio.pcm16)}); },
                 [&](In::OutputTranscriptDelta& delta) {
                   raise(TranslationEvents::OutputTranscript{std::move(delta.text)});
                 },
                 [&](In::InputTranscriptDelta& delta) {
                   raise(TranslationEvents::InputTranscript{std::move(delta.text)});
                 },
                 [&](In::Closed&) { handleClosed(connection); },
                 [&](In::Error& error) {
                   Log::error([&] { return prefix_ + "server error: " + error.text; });
                   raise(TranslationEvents::ServerError{std::move(error.text)});
                 },
                 [&](In::Ignored&) {},
                 [&](In::Unhandled& unhandled) {
                   Log::debug([&] { return prefix_ + "unhandled event " + unhandled.type; });
                 },
             },
             received->message);
}

void TranslationSession::handleCreated(Connection& connection, std::string sessionID,
                                       std::optional<Clock::WallTime> expiresAt) {
  connection.sessionID = std::move(sessionID);
  connection.expiresAt = expiresAt;
  connection.created = true;
  if (credential_.isOpenAI() && !connection.configured) {
    connection.configured = true;
    send(connection, RealtimeProtocol::sessionUpdate(options_));
  }
  Log::info([&] {
    std::string expiry = "unknown";
    if (expiresAt) {
      const double remaining =
          std::chrono::duration<double>(*expiresAt - queue_->clock().wallNow()).count();
      expiry = fmt::format("{:.0f} min", remaining / 60.0);
    }
    return prefix_ + "session " + connection.sessionID + " created (expires in " + expiry + ")";
  });
  raise(TranslationEvents::Connected{connection.sessionID, expiresAt});
}

// Promotion: the first "session.updated" makes a connection ready; a
// replacement then takes over the audio and the old live one drains.
void TranslationSession::handleUpdated(const ConnectionPtr& connection) {
  if (connection->isReady) return;
  connection->isReady = true;
  connection->readyAt = now();
  connection->readyTimer.cancel();
  reconnectAttempts_ = 0;
  if (connection == pending_) {
    pending_.reset();
    // Silence is measured on the live connection only: what the previous one
    // received (or did not) says nothing about this one.
    lastMessageAt_ = connection->readyAt;
    if (active_) {
      Log::info([&] {
        return prefix_ + "rotated to session " + connection->sessionID + "; draining " + active_->sessionID;
      });
      draining_.push_back(active_);
      send(*active_, RealtimeProtocol::sessionClose());
    }
    active_ = connection;
    scheduleRotation(*connection);
  }
  Log::info([&] { return prefix_ + "session " + connection->sessionID + " ready"; });
  raise(TranslationEvents::Ready{});
}

void TranslationSession::handleClosed(const ConnectionPtr& connection) {
  Log::info([&] { return prefix_ + "session " + connection->sessionID + " closed"; });
  cancel(*connection);
  removeFromDraining(connection);
  if (connection == active_) {
    active_.reset();
    if (!stopping_) scheduleReconnect("server closed the session");
  } else if (connection == pending_) {
    // Without this the session would wait forever on a replacement that
    // will never become ready.
    pending_.reset();
    if (!stopping_) connectionAttemptFailed("server closed the session");
  }
  tryFinishStop();
}

void TranslationSession::noteMessage(const std::string& type) {
  const auto current = now();
  const double gap = secondsBetween(std::max(lastMessageAt_, appendStreakStartedAt_), current);
  if (lastMessageAt_ != distantPast && gap > silenceWarning) {
    Log::warn([&] {
      return prefix_ + fmt::format("server silent for {:.0f}s while audio was being sent (no messages of any kind); "
                                   "resumed with ",
                                   gap) +
             type;
    });
  }
  lastMessageAt_ = current;
}

// MARK: Rotation

void TranslationSession::scheduleRotation(const Connection& connection) {
  rotationTimer_.cancel();
  if (!connection.expiresAt) return;
  const double remaining = std::chrono::duration<double>(*connection.expiresAt - queue_->clock().wallNow()).count();
  double delay = remaining - rotationLead;
  if (delay < 10.0) delay = std::max(5.0, remaining * 0.5);
  rotationTimer_ = timerAfter(delay, [](TranslationSession& self) {
    if (self.stopping_) return;
    self.rotationTimer_ = Timer{};
    self.open("session expires in 60s");
  });
  Log::debug([&] { return prefix_ + fmt::format("rotation scheduled in {}s", static_cast<long long>(delay)); });
}

// MARK: Sending audio

void TranslationSession::sendAudio(const std::vector<uint8_t>& pcm16) {
  if (!active_ || !active_->isReady) return;
  const auto current = now();
  if (secondsBetween(lastAppendAt_, current) > appendStreakGap) appendStreakStartedAt_ = current;
  lastAppendAt_ = current;
  if (!active_->cancelled) active_->task->sendAudio(RealtimeProtocol::appendAudio(pcm16));
}

void TranslationSession::handleAudioBacklog(Connection& connection, const AudioBacklog& backlog) {
  if (!backlog.dropping) {
    if (!connection.audioBacklog) return;
    connection.audioBacklog = false;
    Log::info([&] {
      return prefix_ + fmt::format("uplink caught up; {} audio blocks were dropped",
                                   std::exchange(connection.backlogDropped, 0));
    });
    return;
  }
  droppedAudioBlocks_.fetch_add(backlog.droppedMessages, std::memory_order_relaxed);
  connection.backlogDropped += backlog.droppedMessages;
  if (std::exchange(connection.audioBacklog, true)) return;
  Log::warn([&] {
    return prefix_ + fmt::format("uplink too slow for the audio: dropping queued audio older than {:.0f}s",
                                 queuedAudioSeconds);
  });
}

// MARK: Watchdog and reconnection

void TranslationSession::checkForStall() {
  if (stopping_ || !active_ || !active_->isReady) return;
  const auto current = now();
  const double sinceAppend = secondsBetween(lastAppendAt_, current);
  const double silence =
      secondsBetween(std::max({lastMessageAt_, active_->readyAt, appendStreakStartedAt_}), current);
  if (sinceAppend < appendStreakGap && silence > stallTimeout())
    reconnectNow(fmt::format("no server messages for {:.0f}s while sending audio", silence));
}

void TranslationSession::reconnectNow(const std::string& reason) {
  if (stopping_ || !active_) return;
  Log::warn([&] { return prefix_ + "reconnecting: " + reason; });
  const auto old = std::move(active_);
  active_.reset();
  rotationTimer_.cancel();
  cancel(*old);
  raise(TranslationEvents::Disconnected{reason});
  reconnectAttempts_ = 0;
  scheduleReconnect(reason);
}

void TranslationSession::scheduleReconnect(const std::string& reason) {
  if (stopping_ || pending_) return;
  const double delay = reconnectAttempts_ >= 4 ? maxReconnectDelay : std::ldexp(1.0, reconnectAttempts_);
  reconnectAttempts_ = std::min(reconnectAttempts_ + 1, 64);
  Log::info([&] {
    return prefix_ + fmt::format("reconnecting in {}s (", static_cast<long long>(delay)) + reason + ")";
  });
  afterDelay(delay, [reason](TranslationSession& self) { self.open(reason); });
}

void TranslationSession::retryRotationLater() {
  afterDelay(retryRotationDelay, [](TranslationSession& self) { self.open("retry rotation"); });
}

void TranslationSession::handleFailure(const ConnectionPtr& connection, const WebSocketFailure& failure) {
  const bool wasLive = connection == active_;
  if (wasLive) active_.reset();
  const bool wasPending = connection == pending_;
  if (wasPending) pending_.reset();
  removeFromDraining(connection);
  cancel(*connection);

  if (stopping_) {
    tryFinishStop();
    return;
  }
  if (failure.closeCode == unauthorizedCode) {
    Log::warn([&] { return prefix_ + "token rejected (4401); signing out"; });
    stopping_ = true;
    raise(TranslationEvents::SignedOut{});
    return;
  }

  Log::warn([&] { return prefix_ + "connection " + connection->sessionID + " failed: " + failure.description; });
  // Only the loss of the live connection (or of the attempt that stands in
  // for it) interrupts the translation; a retired connection or a failed
  // replacement does not, while the live one keeps going.
  if (wasLive || !active_) raise(TranslationEvents::Disconnected{failure.description});

  if (!wasLive) {
    if (!wasPending) return;  // a draining connection: nothing to replace
    if (active_) {            // a replacement failed while the live one still works
      retryRotationLater();
      return;
    }
  }

  const auto* direct = std::get_if<TranslationCredential::OpenAI>(&credential_.value);
  if (!connection->created && direct && environment_.checkAPIKey) {
    // A direct connection refused before the session existed may mean a bad
    // key; retrying would only hammer the service, so ask first.
    environment_.checkAPIKey(direct->apiKey, keyCheckTimeout,
                             [ref = queue_->ref(), weak = weak_from_this()](OpenAIAuth::Verdict verdict) {
                               ref.post([weak, verdict = std::move(verdict)] {
                                 if (auto self = weak.lock()) self->handleVerdict(verdict);
                               });
                             });
    return;
  }
  scheduleReconnect("socket failure");
}

void TranslationSession::handleVerdict(const OpenAIAuth::Verdict& verdict) {
  if (stopping_) return;
  if (const auto* rejected = std::get_if<OpenAIAuth::Rejected>(&verdict)) {
    const std::string message = "OpenAI rejected the API key (" + rejected->reason + ")";
    Log::error([&] { return prefix_ + message + "; giving up"; });
    stopping_ = true;
    raise(TranslationEvents::Fatal{message});
    return;
  }
  scheduleReconnect("socket failure");
}

// MARK: Stopping

void TranslationSession::beginStop(double timeoutSeconds, std::function<void()> completion) {
  stopping_ = true;
  stopRequested_ = true;
  // A second stop before the first finished is completed together with it.
  stopCompletions_.push_back(std::move(completion));
  watchdog_.cancel();
  rotationTimer_.cancel();
  if (pending_) {
    cancel(*pending_);
    pending_.reset();
  }
  if (active_) {
    const auto retiring = std::move(active_);
    active_.reset();
    draining_.push_back(retiring);
    send(*retiring, RealtimeProtocol::sessionClose());
  }
  tryFinishStop();

  afterDelay(timeoutSeconds, [timeoutSeconds](TranslationSession& self) {
    if (!self.stopRequested_) return;
    Log::warn([&] {
      return self.prefix_ + "session.closed did not arrive within " + decimalText(timeoutSeconds) +
             "s; closing socket";
    });
    for (const auto& connection : self.draining_) self.cancel(*connection);
    self.draining_.clear();
    self.tryFinishStop();
  });
}

void TranslationSession::tryFinishStop() {
  if (!stopping_ || !draining_.empty() || active_ || !stopRequested_) return;
  if (closesInFlight_ > 0 && !closeWaitOver_) {
    // Let the close frames reach the servers before the owner moves on (it
    // may exit the process), but never wait long on a dead link.
    if (!closeWait_)
      closeWait_ = timerAfter(closeHandshakeWait, [](TranslationSession& self) {
        self.closeWaitOver_ = true;
        self.tryFinishStop();
      });
    return;
  }
  closeWait_.cancel();
  closeWaitOver_ = false;
  stopRequested_ = false;
  auto completions = std::move(stopCompletions_);
  stopCompletions_.clear();
  raise(TranslationEvents::Closed{});
  for (auto& completion : completions)
    if (completion) completion();
}

// MARK: Connection helpers

void TranslationSession::send(Connection& connection, std::string text) {
  if (!connection.cancelled) connection.task->sendText(std::move(text));
}

void TranslationSession::cancel(Connection& connection) {
  if (connection.cancelled) return;
  connection.cancelled = true;
  connection.readyTimer.cancel();
  ++closesInFlight_;
  connection.task->close([ref = queue_->ref(), weak = weak_from_this()] {
    ref.post([weak] {
      if (auto self = weak.lock()) {
        --self->closesInFlight_;
        self->tryFinishStop();
      }
    });
  });
}

void TranslationSession::removeFromDraining(const ConnectionPtr& connection) { std::erase(draining_, connection); }

void TranslationSession::raise(const TranslationEvent& event) {
  if (onEvent_) onEvent_(event);
}

}  // namespace oskel
