#include "OrchestratorRun.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "StopSignal.h"
#include "audio/AudioDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "pipeline/TranscriptConsole.h"

namespace oskel {
namespace {

constexpr auto stopBound = std::chrono::seconds(5);

}  // namespace

int onAudioServer(const std::string& command, std::ostream& err,
                  const std::function<int(std::shared_ptr<AudioHost>)>& body) {
  auto host = PulseAudioHost::connect();
  if (!host) {
    fmt::print(err, "oskel {}: {}\n", command, host.error().description());
    return 1;
  }
  return body(std::move(*host));
}

std::expected<std::unique_ptr<OrchestratorRun>, int> OrchestratorRun::open(std::string command,
                                                                           const InterpreterChoices& choices,
                                                                           std::shared_ptr<AudioHost> host,
                                                                           std::ostream& out, std::ostream& err) {
  // Refused before anything starts, with the codes that exist.
  if (!checkTargetLanguage(command, choices.me, err) || !checkTargetLanguage(command, choices.them, err))
    return std::unexpected(2);
  std::unique_ptr<OrchestratorRun> run(new OrchestratorRun(std::move(command), out, err));
  for (auto [query, direction, slot] :
       {std::tuple{&choices.mic, AudioDevices::Direction::input, &run->microphone_},
        std::tuple{&choices.speaker, AudioDevices::Direction::output, &run->speaker_}}) {
    if (!*query) continue;
    auto found = AudioDevices::find(*host, **query, direction);
    if (!found) return std::unexpected(run->fail(found.error().description()));
    *slot = *found;
  }

  auto service = chooseService();
  if (!service) return std::unexpected(run->fail(service.error()));
  run->service_ = std::move(*service);
  if (!run->service_.description.empty()) fmt::print(out, "{}\n", run->service_.description);

  run->events_ = std::make_shared<SerialQueue>("oskel.events");
  run->environment_.host = std::move(host);
  run->environment_.eventQueue = [queue = std::weak_ptr(run->events_)](std::function<void()> task) {
    if (auto events = queue.lock()) events->post(std::move(task));
  };
  run->environment_.sessionEnvironment = run->service_.environment;
  return run;
}

OrchestratorRun::~OrchestratorRun() = default;

int OrchestratorRun::fail(const std::string& message) const {
  fmt::print(err_, "oskel {}: {}\n", command_, message);
  return 1;
}

void OrchestratorRun::handle(const TranslatorEvent& event) {
  if (const auto* change = std::get_if<TranslatorEvents::State>(&event)) {
    TranscriptConsole::shared().flushLine();
    fmt::print(out_, "-- {}\n", describe(change->state));
    out_.flush();
    if (const auto* failed = std::get_if<TranslatorStates::Failed>(&change->state)) {
      std::lock_guard guard(state_->mutex);
      state_->failure = failed->message;
      state_->changed.notify_all();
    } else if (std::holds_alternative<TranslatorStates::Idle>(change->state)) {
      // A conversation or playground stops itself after a sign-out or when
      // the service sends it to passthrough: the command ends with it.
      std::lock_guard guard(state_->mutex);
      state_->ended = true;
      state_->changed.notify_all();
    }
  } else if (std::holds_alternative<TranslatorEvents::SignedOut>(event)) {
    TranscriptConsole::shared().flushLine();
    fmt::print(out_, "-- the relay signed you out (access token rejected)\n");
    out_.flush();
  }
}

void OrchestratorRun::wait(const std::function<void()>& poll) {
  std::unique_lock lock(state_->mutex);
  while (!StopSignal::raised() && !state_->failure && !state_->ended) {
    state_->changed.wait_for(lock, std::chrono::milliseconds(50));
    if (poll) {
      lock.unlock();
      poll();
      lock.lock();
    }
  }
}

int OrchestratorRun::finish(const std::function<void(bool fast, std::function<void()>)>& stop) {
  const bool interrupted = StopSignal::raised();
  bool failed = false, endedItself = false;
  {
    std::lock_guard guard(state_->mutex);
    failed = state_->failure.has_value();
    endedItself = state_->ended && !failed && !interrupted;
  }
  if (endedItself) fail("the session ended on its own");
  if (interrupted) {
    fmt::print(out_, "\nstopping (Ctrl-C again to stop at once)\n");
    out_.flush();
  }
  auto state = state_;
  auto done = [state] {
    std::lock_guard guard(state->mutex);
    state->stopped = true;
    state->changed.notify_all();
  };
  stop(StopSignal::raisedCount() > 1, done);
  std::unique_lock lock(state->mutex);
  const auto deadline = std::chrono::steady_clock::now() + stopBound;
  int hurried = StopSignal::raisedCount();
  while (!state->stopped && std::chrono::steady_clock::now() < deadline) {
    state->changed.wait_for(lock, std::chrono::milliseconds(50));
    if (StopSignal::raisedCount() > hurried && hurried > 0) break;  // a further Ctrl-C: do not wait
    hurried = std::max(hurried, StopSignal::raisedCount());
  }
  if (!state->stopped) fmt::print(err_, "oskel {}: the stop did not finish in time\n", command_);
  return failed || endedItself ? 1 : interrupted ? 130 : 0;
}

}  // namespace oskel
