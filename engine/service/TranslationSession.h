#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "concurrency/Clock.h"
#include "concurrency/SerialQueue.h"
#include "concurrency/Timer.h"
#include "service/OpenAIAuth.h"
#include "service/TranslationCredential.h"
#include "service/TranslationEvent.h"
#include "service/TranslationOptions.h"
#include "service/WebSocket.h"

namespace oskel {

// One endless translation stream for one direction of speech. Behind it sit
// up to three kinds of WebSocket connection: the live one that receives the
// audio, one being opened to replace it, and retired ones still delivering
// their last output. It rotates to a fresh server session before the current
// one expires without a gap, reconnects with back-off, restarts a connection
// whose server falls silent while audio is sent, and stops with a bounded
// drain.
//
// Public operations may be called from any thread; they only enqueue work on
// the session's serial queue "oskel.session." + label, where all state lives
// and where events and the stop completion are delivered. Timers, delays,
// socket callbacks and key-check verdicts hold the session weakly: releasing
// it silently cancels everything still scheduled.
class TranslationSession : public std::enable_shared_from_this<TranslationSession> {
 public:
  using EventHandler = std::function<void(const TranslationEvent&)>;
  // Same shape as OpenAIAuth::check; the completion may run on any thread.
  using KeyCheck = std::function<void(const std::string& apiKey, double timeoutSeconds,
                                      std::function<void(OpenAIAuth::Verdict)> completion)>;

  // The collaborators a session works with.
  struct Environment {
    std::shared_ptr<Clock> clock;                     // drives the queue, timers and delays
    std::shared_ptr<WebSocketClient> webSocketClient;  // opens connections
    KeyCheck checkAPIKey;                              // verifies a direct key after a failed connect
    // The real clock, the shipped WebSocket client and the HTTPS key check.
    static Environment live();
  };

  static constexpr double sampleRate = 24000.0;
  static constexpr uint16_t unauthorizedCode = 4401;
  static constexpr std::size_t maximumMessageSize = 4194304;
  // A connection that is not ready this long after it was opened counts as
  // failed: a normal handshake and configuration take a second or two even
  // on a slow link, and the transport's own connect time-out is far longer.
  static constexpr double readyTimeout = 15.0;
  // Seconds of audio that may wait for a slow uplink; older audio is dropped
  // beyond it. Covers a retransmission stall or a Wi-Fi roam without loss,
  // while speech any later than that is of little use to the listener.
  static constexpr double queuedAudioSeconds = 3.0;
  // How long a finished stop waits for the close handshakes it started, so a
  // process that exits right after the completion still sends its 1000.
  static constexpr double closeHandshakeWait = 1.0;
  // The translation service's realtime WebSocket endpoint (direct path).
  static std::string endpoint();
  // Seconds of server silence, while audio is being sent, after which the
  // watchdog reconnects. Process-wide; read on every watchdog tick.
  static double stallTimeout();
  static void setStallTimeout(double seconds);

  static std::shared_ptr<TranslationSession> create(TranslationCredential credential, TranslationOptions options,
                                                    std::string label, Environment environment = Environment::live());
  // A direct session with the user's own service API key.
  static std::shared_ptr<TranslationSession> create(std::string apiKey, TranslationOptions options, std::string label,
                                                    Environment environment = Environment::live());

  ~TranslationSession();
  TranslationSession(const TranslationSession&) = delete;
  TranslationSession& operator=(const TranslationSession&) = delete;

  const TranslationCredential& credential() const { return credential_; }
  const TranslationOptions& options() const { return options_; }
  const std::string& label() const { return label_; }
  // Audio blocks dropped because the uplink could not keep up (any thread).
  std::uint64_t droppedAudioBlocks() const { return droppedAudioBlocks_.load(std::memory_order_relaxed); }

  // Set before start(); called on the session's queue.
  void setOnEvent(EventHandler handler);
  // Opens the first connection and starts the stall watchdog.
  void start();
  // Copies the block and sends it on the live connection; dropped when there
  // is none. Empty blocks are ignored.
  void appendAudio(std::span<const uint8_t> pcm16);
  // The same without the copy.
  void appendAudio(std::vector<uint8_t>&& pcm16);
  // Opens a replacement when a connection is live and none is being opened.
  void rotate(std::string reason);
  // Drops the live connection and reconnects.
  void forceReconnect(std::string reason);
  // Retires every connection, waits at most `timeoutSeconds` for the server
  // to confirm, raises `closed` and calls `completion` on the queue.
  void stop(double timeoutSeconds, std::function<void()> completion);

 private:
  struct Connection;
  using ConnectionPtr = std::shared_ptr<Connection>;
  using TimePoint = Clock::TimePoint;
  struct Token {};

 public:
  // Use create(); public only for make_shared.
  TranslationSession(Token, TranslationCredential credential, TranslationOptions options, std::string label,
                     Environment environment);

 private:
  // Runs `work` on the queue (now, or after a delay) if the session still exists.
  void onQueue(std::function<void(TranslationSession&)> work);
  void afterDelay(double seconds, std::function<void(TranslationSession&)> work);
  Timer timerAfter(double seconds, std::function<void(TranslationSession&)> work);

  void open(const std::string& reason);
  void connectionAttemptFailed(const std::string& reason);
  void handle(const ConnectionPtr& connection, const std::string& bytes);
  void handleCreated(Connection& connection, std::string sessionID, std::optional<Clock::WallTime> expiresAt);
  void handleUpdated(const ConnectionPtr& connection);
  void handleClosed(const ConnectionPtr& connection);
  void handleFailure(const ConnectionPtr& connection, const WebSocketFailure& failure);
  void handleAudioBacklog(Connection& connection, const AudioBacklog& backlog);
  void handleVerdict(const OpenAIAuth::Verdict& verdict);
  void noteMessage(const std::string& type);
  void scheduleRotation(const Connection& connection);
  void sendAudio(const std::vector<uint8_t>& pcm16);
  void checkForStall();
  void reconnectNow(const std::string& reason);
  void scheduleReconnect(const std::string& reason);
  void retryRotationLater();
  void beginStop(double timeoutSeconds, std::function<void()> completion);
  void tryFinishStop();

  void send(Connection& connection, std::string text);
  void cancel(Connection& connection);
  void removeFromDraining(const ConnectionPtr& connection);
  void raise(const TranslationEvent& event);
  TimePoint now() const;

  EventHandler onEvent_;
  const TranslationCredential credential_;
  const TranslationOptions options_;
  const std::string label_;
  const std::string prefix_;  // "[" + label + "] "
  const Environment environment_;
  std::unique_ptr<SerialQueue> queue_;

  // Everything below is touched only on the queue.
  ConnectionPtr active_;
  ConnectionPtr pending_;
  std::vector<ConnectionPtr> draining_;
  bool stopping_ = false;
  bool stopRequested_ = false;  // a stop waits to finish
  std::vector<std::function<void()>> stopCompletions_;
  int reconnectAttempts_ = 0;
  Timer rotationTimer_;
  Timer watchdog_;
  TimePoint lastAppendAt_;
  TimePoint appendStreakStartedAt_;
  TimePoint lastMessageAt_;
  int closesInFlight_ = 0;          // close handshakes not yet over
  bool closeWaitOver_ = false;
  Timer closeWait_;
  std::atomic<std::uint64_t> droppedAudioBlocks_{0};
};

}  // namespace oskel
