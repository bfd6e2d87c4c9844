#include "AppModelPlayground.h"

#include "TelemetryRedaction.h"

namespace oskel {

TranslatorConfig AppModel::playgroundConfig(const TranslationCredential& credential) const {
  TranslatorConfig config(credential, settings_.myLanguage, settings_.theirLanguage);
  config.microphone = selectedMicrophone();
  config.speaker = selectedSpeaker();
  config.echoCancellation = true;
  config.transcribeInput = true;
  config.noiseReduction = derivedNoiseReduction();
  return config;
}

bool AppModel::playgroundNeedsRestart() const {
  const auto& running = playground_->orchestrator;
  if (!running) return false;
  const auto& now = running->config();
  return resolvedMicrophone().uid != running->microphone().uid || resolvedSpeaker().uid != running->speaker().uid ||
         settings_.myLanguage != now.myLanguage || settings_.theirLanguage != now.theirLanguage ||
         derivedNoiseReduction() != now.noiseReduction;
}

void AppModel::setPlaygroundState(TranslatorState state) {
  assign(playgroundState_, std::move(state), Property::playgroundState);
}

void AppModel::microphoneAccess(std::function<void(bool granted)> answer) {
  // Outside a sandbox the desktop asks nothing: access is granted at once.
  if (env_.microphoneAccess)
    env_.microphoneAccess(std::move(answer));
  else
    answer(true);
}

void AppModel::openPlayground() {
  if (env_.preview) return;
  auto& run = *playground_;
  run.wanted = true;
  if (!run.onboardingOpenedAt) run.onboardingOpenedAt = now();
  run.everLive = false;
  assign(playgroundSpoke_, false, Property::playgroundSpoke);
  assign(microphoneDenied_, false, Property::microphoneDenied);
  assign(playgroundMessage_, std::optional<std::string>(), Property::playgroundMessage);
  assign(playgroundPreparing_, true, Property::playgroundPreparing);
  microphoneAccess([weak = std::weak_ptr(self_)](bool granted) {
    auto self = weak.lock();
    if (!self) return;
    auto& model = **self;
    model.assign(model.playgroundPreparing_, false, Property::playgroundPreparing);
    model.assign(model.microphoneDenied_, !granted, Property::microphoneDenied);
    if (granted && model.playground_->wanted) model.startPlayground(1);
  });
}

void AppModel::togglePlayground() {
  if (isPlaygroundRunning()) {
    playground_->endedBy = "user";
    stopPlayground(false);
  } else if (translationCredential()) {
    startPlayground(1);
  }
}

void AppModel::startPlayground(int attempt) {
  auto& run = *playground_;
  if (run.orchestrator) return;
  run.retryWork.cancel();
  const auto credential = translationCredential();
  if (!credential) {
    assign(playgroundMessage_, std::optional<std::string>("Add your OpenAI API key to try Oskel."),
           Property::playgroundMessage);
    return;
  }
  auto made = env_.orchestrators
                  ? env_.orchestrators(OrchestratorKind::playground, playgroundConfig(*credential), turn_, eventPoster())
                  : std::unexpected(OrchestratorError::of(std::string("no audio engine")));
  run.began = now();
  run.reachedLive = false;
  run.runSpoke = false;
  run.failureReason.reset();
  run.runIsRetry = attempt == 2;
  run.endedBy = "user";
  run.captionLines = 0;
  if (!made) {
    playgroundStartFailed(attempt, made.error().description());
    return;
  }
  run.orchestrator = std::move(*made);
  const auto generation = ++run.generation;
  run.orchestrator->setOnEvent(forwarder([generation](AppModel& model, const TranslatorEvent& event) {
    if (generation == model.playground_->generation && model.playground_->orchestrator) model.handlePlayground(event);
  }));
  if (auto started = run.orchestrator->start(); !started) {
    playgroundStartFailed(attempt, started.error().description());
    return;
  }
  assign(playgroundMessage_, std::optional<std::string>(), Property::playgroundMessage);
  assign(playgroundEchoCancellation_, run.orchestrator->echoCancellationActive(), Property::playgroundEchoCancellation);
  setPlaygroundState(TranslatorStates::Connecting{});
  track("Playground Started", {{"my_language", settings_.myLanguage}, {"their_language", settings_.theirLanguage}});
}

void AppModel::playgroundStartFailed(int attempt, const std::string& description) {
  auto& run = *playground_;
  if (auto orchestrator = std::exchange(run.orchestrator, nullptr)) {
    orchestrator->setOnEvent({});
    orchestrator->stop(true, [orchestrator] {});
  }
  if (attempt < 2) {
    // One quiet retry: a device that was busy a moment ago often is not now.
    run.began.reset();
    run.retryWork = env_.mainQueue->schedule(delayFromSeconds(playgroundRetryDelay), [weak = std::weak_ptr(self_)] {
      auto self = weak.lock();
      if (self && (*self)->playground_->wanted) (*self)->startPlayground(2);
    });
    return;
  }
  const auto reason = redactedForTelemetry(description);
  assign(playgroundMessage_, std::optional(reason), Property::playgroundMessage);
  run.failureReason = reason;
  run.endedBy = "start_failed";
  endPlaygroundRun();
  setPlaygroundState(TranslatorStates::Failed{description});
  assign(playgroundRestarting_, false, Property::playgroundRestarting);
}

void AppModel::handlePlayground(const TranslatorEvent& event) {
  auto& run = *playground_;
  if (const auto* change = std::get_if<TranslatorEvents::State>(&event)) {
    setPlaygroundState(change->state);
    if (std::holds_alternative<TranslatorStates::Live>(change->state)) {
      run.reachedLive = true;
      run.everLive = true;
      assign(playgroundRestarting_, false, Property::playgroundRestarting);
    } else if (const auto* failed = std::get_if<TranslatorStates::Failed>(&change->state)) {
      const auto reason = redactedForTelemetry(failed->message);
      assign(playgroundMessage_, std::optional(reason), Property::playgroundMessage);
      run.failureReason = reason;
      run.endedBy = "error";
      stopPlayground(true);
    }
  } else if (const auto* transcript = std::get_if<TranslatorEvents::Transcript>(&event)) {
    appendCaption(transcript->fragment);
    run.runSpoke = true;
    assign(playgroundSpoke_, true, Property::playgroundSpoke);
  } else {
    run.endedBy = "signed_out";
    stopPlayground(false);
    env_.secrets->forgetAccessToken();
    assign(accessToken_, std::optional<std::string>(), Property::accessToken);
  }
}

void AppModel::stopPlayground(bool fast, std::function<void()> completion) {
  auto& run = *playground_;
  run.retryWork.cancel();
  run.restartWork.cancel();
  if (!run.orchestrator) {
    if (completion) completion();
    return;
  }
  const auto generation = run.generation;
  run.orchestrator->stop(fast, [weak = std::weak_ptr(self_), generation, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self) return;
    auto& model = **self;
    auto& current = *model.playground_;
    if (generation == current.generation && current.orchestrator) {
      model.endPlaygroundRun();
      std::exchange(current.orchestrator, nullptr)->setOnEvent({});
      if (!std::holds_alternative<TranslatorStates::Failed>(model.playgroundState_))
        model.setPlaygroundState(TranslatorStates::Idle{});
    }
    if (completion) completion();
  });
}

void AppModel::endPlaygroundRun() {
  auto& run = *playground_;
  if (!run.began) return;
  const double duration = secondsSince(*std::exchange(run.began, std::nullopt));
  const auto* orchestrator = run.orchestrator.get();
  boost::json::object properties{
      {"duration_s", roundedToTenth(duration)},
      {"reached_live", run.reachedLive},
      {"spoke", run.runSpoke},
      {"my_language", settings_.myLanguage},
      {"their_language", settings_.theirLanguage},
      {"ended_by", run.endedBy},
      {"retry", run.runIsRetry},
      {"speech_s", roundedToTenth(orchestrator ? orchestrator->speechSeconds() : 0)},
      {"translated_s", roundedToTenth(orchestrator ? orchestrator->translatedSeconds() : 0)},
      {"caption_lines", run.captionLines}};
  if (run.failureReason) properties["reason"] = *run.failureReason;
  track("Playground Ended", std::move(properties));
}

void AppModel::schedulePlaygroundRestart() {
  if (!isPlaygroundRunning() || !playground_->orchestrator) return;
  playground_->restartWork =
      env_.mainQueue->schedule(delayFromSeconds(restartDelay), [weak = std::weak_ptr(self_)] {
        auto self = weak.lock();
        if (!self) return;
        auto& model = **self;
        if (!model.playground_->orchestrator || !model.playgroundNeedsRestart()) return;
        model.assign(model.playgroundRestarting_, true, Property::playgroundRestarting);
        model.playground_->endedBy = "settings_changed";
        model.stopPlayground(true, [weak = std::weak_ptr(model.self_)] {
          auto again = weak.lock();
          if (!again) return;
          auto& restarted = **again;
          if (restarted.playground_->wanted)
            restarted.startPlayground(1);
          else
            restarted.assign(restarted.playgroundRestarting_, false, Property::playgroundRestarting);
        });
      });
}

void AppModel::leavePlayground(const std::string& via, std::function<void()> completion) {
  auto& run = *playground_;
  if (run.onboardingOpenedAt) {
    track("Onboarding Dismissed", {{"via", via},
                                   {"seconds", roundedToTenth(secondsSince(*run.onboardingOpenedAt))},
                                   {"spoke", playgroundSpoke_},
                                   {"completed", run.everLive}});
    run.onboardingOpenedAt.reset();
  }
  run.wanted = false;
  if (run.everLive) setOnboardingCompleted(true);
  stopPlayground(false, std::move(completion));
}

void AppModel::finishOnboarding(double seconds, std::function<void()> completion) {
  auto& run = *playground_;
  run.wanted = false;
  run.endedBy = "get_started";
  stopPlayground(false, [weak = std::weak_ptr(self_), seconds, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self) return;
    auto& model = **self;
    model.track("Onboarding Completed",
                {{"steps", 1}, {"seconds", roundedToTenth(seconds)}, {"spoke", model.playgroundSpoke_}});
    model.playground_->onboardingOpenedAt.reset();
    model.setOnboardingCompleted(true);
    if (completion) completion();
  });
}

}  // namespace oskel
