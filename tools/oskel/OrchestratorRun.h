#pragma once

#include <condition_variable>
#include <expected>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ServiceChoice.h"
#include "audio/AudioDeviceInfo.h"
#include "audio/AudioHost.h"
#include "concurrency/SerialQueue.h"
#include "orchestration/OrchestratorEnvironment.h"
#include "orchestration/TranslatorVocabulary.h"

namespace oskel {

// Runs `body` on the session's audio server (PulseAudio or pipewire-pulse);
// when it cannot be reached, says why and returns 1.
int onAudioServer(const std::string& command, std::ostream& err,
                  const std::function<int(std::shared_ptr<AudioHost>)>& body);

// What the user chose for an interpreted session on the command line.
struct InterpreterChoices {
  std::string me;                      // --me
  std::string them;                    // --them
  std::optional<std::string> mic;      // --mic: UID or name
  std::optional<std::string> speaker;  // --speaker: UID or name
};

// The shared part of `oskel call`, `in-person` and `playground`: the service
// (real or the local emulator), the audio host, the orchestrator's event
// queue, device lookup, state lines, waiting for Ctrl-C and the bounded stop.
class OrchestratorRun {
 public:
  // Checks the languages and devices and connects everything; on failure
  // the message is written to `err` and the exit status returned.
  static std::expected<std::unique_ptr<OrchestratorRun>, int> open(std::string command,
                                                                   const InterpreterChoices& choices,
                                                                   std::shared_ptr<AudioHost> host, std::ostream& out,
                                                                   std::ostream& err);
  ~OrchestratorRun();

  const TranslationCredential& credential() const { return service_.credential; }
  const std::optional<AudioDeviceInfo>& microphone() const { return microphone_; }
  const std::optional<AudioDeviceInfo>& speaker() const { return speaker_; }
  OrchestratorEnvironment environment() const { return environment_; }

  // The orchestrator's events: state lines, the sign-out notice.
  void handle(const TranslatorEvent& event);
  // Returns on Ctrl-C, when the orchestrator failed or when it stopped by
  // itself; `poll` runs every 50 ms in between (the in-person turn keys).
  void wait(const std::function<void()>& poll = {});
  // Stops with `stop(fast, completion)` and waits for it (at most 5 s); fast
  // after a second Ctrl-C. Returns the exit status: 0, 1 after a failure or
  // a stop of its own, 130 after Ctrl-C.
  int finish(const std::function<void(bool fast, std::function<void()>)>& stop);
  int fail(const std::string& message) const;

 private:
  OrchestratorRun(std::string command, std::ostream& out, std::ostream& err) :
      command_(std::move(command)), out_(out), err_(err) {}

  const std::string command_;
  std::ostream& out_;
  std::ostream& err_;
  ServiceChoice service_;
  std::shared_ptr<SerialQueue> events_;
  OrchestratorEnvironment environment_;
  std::optional<AudioDeviceInfo> microphone_;
  std::optional<AudioDeviceInfo> speaker_;

  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> failure;
    bool ended = false;  // went idle without being asked
    bool stopped = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace oskel
