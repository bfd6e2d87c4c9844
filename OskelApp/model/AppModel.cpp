#include "AppModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

#include "AppModelPlayground.h"
#include "TelemetryRedaction.h"
#include "audio/AudioDevices.h"
#include "log/Log.h"

namespace oskel {

namespace {

ModelEnvironment completed(ModelEnvironment environment) {
  if (!environment.preferences) environment.preferences = std::make_shared<MemoryPreferences>();
  if (!environment.secrets) environment.secrets = std::make_shared<MemorySecretStore>();
  if (environment.interfaceLanguages.empty()) environment.interfaceLanguages = L10n::shipped();
  if (environment.recordingsFolder.empty()) environment.recordingsFolder = Recordings::directory();
  return environment;
}

std::string trimmed(std::string_view text) {
  const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && space(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && space(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

template <typename... States>
bool holdsAny(const TranslatorState& state) {
  return (std::holds_alternative<States>(state) || ...);
}

bool running(const TranslatorState& state) {
  using namespace TranslatorStates;
  return holdsAny<Starting, Connecting, Live, Reconnecting, Passthrough, Stopping>(state);
}

}  // namespace

double roundedToTenth(double seconds) { return std::round(seconds * 10.0) / 10.0; }

std::string_view rawValue(AppModel::Mode mode) { return mode == AppModel::Mode::inPerson ? "in_person" : "call"; }

std::optional<AppModel::Mode> appModeFromRaw(std::string_view raw) {
  if (raw == "call") return AppModel::Mode::call;
  if (raw == "in_person") return AppModel::Mode::inPerson;
  return std::nullopt;
}

AppModel::AppModel(ModelEnvironment environment, QObject* parent)
    : QObject(parent),
      env_(completed(std::move(environment))),
      l10n_(env_.preferences, env_.interfaceLanguages),
      self_(std::make_shared<AppModel*>(this)),
      playground_(std::make_unique<Playground>()) {
  auto& preferences = *env_.preferences;
  settings_ = AppSettings::defaults(env_.systemLanguage);
  if (const auto stored = preferences.value(settingsKey)) {
    if (auto decoded = AppSettings::decode(*stored))
      settings_ = std::move(*decoded);
    else
      Log::warn([] { return std::string("settings: the saved settings could not be read; using the defaults"); });
  }
  mode_ = appModeFromRaw(preferences.value(modeKey).value_or("call")).value_or(Mode::call);
  apiKey_ = env_.secrets->apiKey();
  accessToken_ = env_.secrets->accessToken();
  onboardingCompleted_ = preferences.value(onboardingCompletedKey) == "true";
  alignInterfaceLanguage();
  refreshDevices();
  reloadRecordings();
  if (env_.devices.observe)
    deviceObserver_ = env_.devices.observe([weak = std::weak_ptr(self_)] {
      if (auto self = weak.lock()) (*self)->scheduleDeviceRefresh(deviceRefreshDelay);
    });
}

AppModel::~AppModel() {
  deviceObserver_.reset();
  for (auto* orchestrator : {orchestrator_.get(), playground_->orchestrator.get()})
    if (orchestrator) orchestrator->setOnEvent({});
}

// --- plumbing ---

void AppModel::notify(Property property) { Q_EMIT changed(property); }

Clock::TimePoint AppModel::now() const { return env_.mainQueue->clock().now(); }

double AppModel::secondsSince(Clock::TimePoint then) const { return secondsBetween(then, now()); }

void AppModel::track(const std::string& event, boost::json::object properties) const {
  if (env_.track) env_.track(event, std::move(properties));
}

void AppModel::writePreference(const char* key, const std::string& value) {
  env_.preferences->setValue(key, value);
}

void AppModel::setState(TranslatorState state) { assign(state_, std::move(state), Property::state); }

void AppModel::setError(std::optional<std::string> message) {
  assign(errorMessage_, std::move(message), Property::errorMessage);
}

OrchestratorEnvironment::Post AppModel::eventPoster() const {
  return [queue = std::weak_ptr(env_.mainQueue)](std::function<void()> task) {
    if (auto main = queue.lock()) main->post(std::move(task));
  };
}

// Orchestrators raise some events inside the model's own calls (start,
// stop): every event is handled later on the main queue, and only while its
// orchestrator is still the current one.
Orchestrator::EventHandler AppModel::forwarder(std::function<void(AppModel&, const TranslatorEvent&)> handler) const {
  return [weak = std::weak_ptr(self_), post = eventPoster(), handler](const TranslatorEvent& event) {
    post([weak, handler, event] {
      if (auto self = weak.lock()) handler(**self, event);
    });
  };
}

// --- derived values ---

std::vector<AudioDeviceInfo> AppModel::microphones() const {
  std::vector<AudioDeviceInfo> found;
  for (const auto& device : devices_)
    if (device.inputChannels > 0 && !device.isOskel()) found.push_back(device);
  return found;
}

std::vector<AudioDeviceInfo> AppModel::speakers() const {
  std::vector<AudioDeviceInfo> found;
  for (const auto& device : devices_)
    if (device.outputChannels > 0 && !device.isOskel()) found.push_back(device);
  return found;
}

namespace {
std::optional<AudioDeviceInfo> withUID(const std::vector<AudioDeviceInfo>& devices,
                                       const std::optional<std::string>& uid) {
  if (!uid) return std::nullopt;
  const auto found = std::ranges::find(devices, *uid, &AudioDeviceInfo::uid);
  if (found == devices.end()) return std::nullopt;
  return *found;
}
}  // namespace

std::optional<AudioDeviceInfo> AppModel::selectedMicrophone() const {
  return withUID(microphones(), settings_.microphoneUID);
}
std::optional<AudioDeviceInfo> AppModel::selectedSpeaker() const { return withUID(speakers(), settings_.speakerUID); }

std::optional<AudioDeviceInfo> AppModel::defaultMicrophone() const {
  return env_.devices.defaultInput ? env_.devices.defaultInput() : std::nullopt;
}
std::optional<AudioDeviceInfo> AppModel::defaultSpeaker() const {
  return env_.devices.defaultOutput ? env_.devices.defaultOutput() : std::nullopt;
}

bool AppModel::driverInstalled() const {
  return std::ranges::any_of(devices_,
                             [](const auto& device) { return device.uid == AudioDevices::oskelMicrophoneUID; });
}

std::optional<TranslationCredential> AppModel::translationCredential() const {
  if (apiKey_) return TranslationCredential::openai(*apiKey_);
  if (accessToken_) return TranslationCredential::oskel(*accessToken_);
  return std::nullopt;
}

bool AppModel::usesOwnAPIKey() const { return apiKey_.has_value(); }
bool AppModel::canStart() const { return driverInstalled() && translationCredential().has_value(); }
bool AppModel::isRunning() const { return running(state_); }
bool AppModel::isPlaygroundRunning() const { return running(playgroundState_); }

// --- settings ---

void AppModel::setSettings(const Settings& settings) {
  if (settings == settings_) return;
  const Settings old = std::exchange(settings_, settings);
  notify(Property::settings);
  applySettings(old);
}

void AppModel::updateSettings(const std::function<void(Settings&)>& change) {
  Settings changed = settings_;
  change(changed);
  setSettings(changed);
}

void AppModel::setMyLanguage(const std::string& code) { updateSettings([&](Settings& s) { s.myLanguage = code; }); }
void AppModel::setTheirLanguage(const std::string& code) {
  updateSettings([&](Settings& s) { s.theirLanguage = code; });
}
void AppModel::setMicrophoneUID(const std::optional<std::string>& uid) {
  updateSettings([&](Settings& s) { s.microphoneUID = uid; });
}
void AppModel::setSpeakerUID(const std::optional<std::string>& uid) {
  updateSettings([&](Settings& s) { s.speakerUID = uid; });
}
void AppModel::setVoiceOver(bool on) { updateSettings([&](Settings& s) { s.voiceOver = on; }); }
void AppModel::setVoiceOverLevel(double dB) { updateSettings([&](Settings& s) { s.voiceOverLevel = dB; }); }
void AppModel::setDucking(bool on) { updateSettings([&](Settings& s) { s.ducking = on; }); }
void AppModel::setDuckLevel(double dB) { updateSettings([&](Settings& s) { s.duckLevel = dB; }); }
void AppModel::setEchoCancellation(bool on) { updateSettings([&](Settings& s) { s.echoCancellation = on; }); }
void AppModel::setCaptions(bool on) { updateSettings([&](Settings& s) { s.captions = on; }); }
void AppModel::setNoiseReduction(const std::string& mode) {
  updateSettings([&](Settings& s) { s.noiseReduction = mode; });
}
void AppModel::setRoomMicrophone(bool on) { updateSettings([&](Settings& s) { s.roomMicrophone = on; }); }
void AppModel::setGroupCallOption(std::optional<bool> on) {
  updateSettings([&](Settings& s) { s.groupCallOption = on; });
}
void AppModel::swapLanguages() { updateSettings([](Settings& s) { std::swap(s.myLanguage, s.theirLanguage); }); }

void AppModel::applySettings(const Settings& old) {
  writePreference(settingsKey, settings_.encode());
  alignInterfaceLanguage();
  if (old.sessionSignature() == settings_.sessionSignature()) {
    if (settings_.voiceOver && orchestrator_ && orchestratorKind_ == OrchestratorKind::translator)
      orchestrator_->setVoiceOverLevels(settings_.voiceOverLevel,
                                        settings_.ducking ? std::optional(settings_.duckLevel) : std::nullopt);
    return;
  }
  scheduleRestartIfRunning();
  schedulePlaygroundRestart();
}

void AppModel::alignInterfaceLanguage() {
  const auto& available = l10n_.available();
  if (std::ranges::find(available, settings_.myLanguage) == available.end()) return;
  if (l10n_.languageOverride() != settings_.myLanguage) l10n_.setLanguageOverride(settings_.myLanguage);
}

void AppModel::setMode(Mode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  writePreference(modeKey, std::string(rawValue(mode)));
  notify(Property::mode);
}

void AppModel::setShowingRecordings(bool showing) {
  assign(showingRecordings_, showing, Property::showingRecordings);
}

void AppModel::clearCaptions() {
  if (captions_.lines().empty()) return;
  captions_.clear();
  notify(Property::captions);
}

void AppModel::dismissSavedRecording() {
  assign(lastSavedRecording_, std::optional<Recordings::File>(), Property::lastSavedRecording);
}

void AppModel::clearErrorMessage() { setError(std::nullopt); }

void AppModel::setOnboardingCompleted(bool completed) {
  writePreference(onboardingCompletedKey, completed ? "true" : "false");
  assign(onboardingCompleted_, completed, Property::onboardingCompleted);
}

// --- configurations ---

std::optional<std::string> AppModel::derivedNoiseReduction() const {
  if (settings_.noiseReduction == "off") return std::nullopt;
  if (settings_.roomMicrophone) return std::string("far_field");
  return settings_.noiseReduction;
}

TranslatorConfig AppModel::callConfig(const TranslationCredential& credential) const {
  TranslatorConfig config(credential, settings_.myLanguage, settings_.theirLanguage);
  config.microphone = selectedMicrophone();
  config.speaker = selectedSpeaker();
  if (settings_.voiceOver)
    config.voiceOver = TranslatorConfig::VoiceOver{
        settings_.voiceOverLevel, settings_.ducking ? std::optional(settings_.duckLevel) : std::nullopt,
        TranslatorConfig::VoiceOver::Directions::both};
  config.echoCancellation = settings_.echoCancellation;
  config.noiseReduction = derivedNoiseReduction();
  config.groupCall = settings_.groupCall();
  config.transcribeInput = settings_.captions;
  return config;
}

TranslatorConfig AppModel::conversationConfig(const TranslationCredential& credential) const {
  TranslatorConfig config(credential, settings_.myLanguage, settings_.theirLanguage);
  config.microphone = selectedMicrophone();
  config.speaker = selectedSpeaker();
  config.echoCancellation = true;
  config.noiseReduction = std::nullopt;
  config.transcribeInput = settings_.captions;
  return config;
}

AudioDeviceInfo AppModel::resolvedMicrophone() const {
  return selectedMicrophone().or_else([&] { return defaultMicrophone(); }).value_or(AudioDeviceInfo{});
}

AudioDeviceInfo AppModel::resolvedSpeaker() const {
  return selectedSpeaker().or_else([&] { return defaultSpeaker(); }).value_or(AudioDeviceInfo{});
}

bool AppModel::callNeedsRestart() const {
  if (!orchestrator_) return false;
  const auto& now = orchestrator_->config();
  const auto next = orchestratorKind_ == OrchestratorKind::conversation ? conversationConfig(now.credential)
                                                                         : callConfig(now.credential);
  const auto ducked = [](const TranslatorConfig& c) { return c.voiceOver && c.voiceOver->duckDB.has_value(); };
  return resolvedMicrophone().uid != orchestrator_->microphone().uid ||
         resolvedSpeaker().uid != orchestrator_->speaker().uid || next.myLanguage != now.myLanguage ||
         next.theirLanguage != now.theirLanguage || next.voiceOver.has_value() != now.voiceOver.has_value() ||
         ducked(next) != ducked(now) || next.echoCancellation != now.echoCancellation ||
         next.noiseReduction != now.noiseReduction || next.groupCall != now.groupCall ||
         next.transcribeInput != now.transcribeInput;
}

// --- the session ---

void AppModel::start(bool keepingCall) {
  if (isRunning()) return;
  const auto credential = translationCredential();
  if (!credential) {
    setError("Add your OpenAI API key to start translating.");
    return;
  }
  setError(std::nullopt);
  if (!keepingCall) assign(callRestarting_, false, Property::callRestarting);
  failure_.reset();
  orchestratorKind_ = mode_ == Mode::inPerson ? OrchestratorKind::conversation : OrchestratorKind::translator;
  auto config = orchestratorKind_ == OrchestratorKind::conversation ? conversationConfig(*credential)
                                                                    : callConfig(*credential);
  auto made = env_.orchestrators ? env_.orchestrators(orchestratorKind_, std::move(config), turn_, eventPoster())
                                 : std::unexpected(OrchestratorError::of(std::string("no audio engine")));
  if (!made) {
    startFailed(made.error().description());
    return;
  }
  orchestrator_ = std::move(*made);
  const auto generation = ++generation_;
  orchestrator_->setOnEvent(forwarder([generation](AppModel& model, const TranslatorEvent& event) {
    if (generation == model.generation_ && model.orchestrator_) model.handle(event);
  }));
  beginSession();
  if (auto started = orchestrator_->start(); !started) {
    startFailed(started.error().description());
    return;
  }
  setState(TranslatorStates::Connecting{});
}

void AppModel::startFailed(const std::string& description) {
  sessionEndedBy_ = "start_failed";
  track("Session Failed", {{"reason", redactedForTelemetry(description)},
                           {"my_language", settings_.myLanguage},
                           {"their_language", settings_.theirLanguage}});
  if (auto orchestrator = std::exchange(orchestrator_, nullptr)) {
    endSession(orchestrator->speechSeconds(), orchestrator->theirSpeechSeconds(), orchestrator->translatedSeconds());
    orchestrator->setOnEvent({});
    // Kept alive until its own stop is done.
    orchestrator->stop(true, [orchestrator] {});
  } else {
    endSession(0, 0, 0);
  }
  setState(TranslatorStates::Failed{description});
  assign(callRestarting_, false, Property::callRestarting);
  setError(description);
}

void AppModel::stop(bool fast, std::function<void()> completion) {
  restartWork_.cancel();
  if (!orchestrator_) {
    if (completion) completion();
    return;
  }
  if (orchestratorKind_ == OrchestratorKind::translator) stopRecording();
  const auto generation = generation_;
  orchestrator_->stop(fast, [weak = std::weak_ptr(self_), generation, completion = std::move(completion)] {
    auto self = weak.lock();
    if (!self) return;
    auto& model = **self;
    if (generation == model.generation_ && model.orchestrator_) {
      const auto orchestrator = std::exchange(model.orchestrator_, nullptr);
      model.endSession(orchestrator->speechSeconds(), orchestrator->theirSpeechSeconds(),
                       orchestrator->translatedSeconds());
      orchestrator->setOnEvent({});
      if (model.isRecording_) model.stopRecording();
      model.setState(model.failure_ ? TranslatorState(TranslatorStates::Failed{*model.failure_})
                                    : TranslatorState(TranslatorStates::Idle{}));
    }
    if (completion) completion();
  });
}

void AppModel::toggle() {
  if (callRestarting_) {
    assign(callRestarting_, false, Property::callRestarting);
    stop();
  } else if (isRunning()) {
    stop();
  } else {
    start();
  }
}

void AppModel::setTurn(CallDirection direction) {
  if (direction == turn_) return;
  turn_ = direction;
  notify(Property::turn);
  if (orchestrator_ && orchestratorKind_ == OrchestratorKind::conversation) {
    orchestrator_->setTurn(direction);
    ++turnChanges_;
  }
}

void AppModel::toggleTurn() {
  setTurn(turn_ == CallDirection::outgoing ? CallDirection::incoming : CallDirection::outgoing);
}

void AppModel::handle(const TranslatorEvent& event) {
  if (const auto* change = std::get_if<TranslatorEvents::State>(&event)) {
    setState(change->state);
    if (std::holds_alternative<TranslatorStates::Idle>(change->state)) {
      stopRecording();
    } else if (std::holds_alternative<TranslatorStates::Live>(change->state)) {
      sessionReachedLive_ = true;
      assign(callRestarting_, false, Property::callRestarting);
    } else if (const auto* failed = std::get_if<TranslatorStates::Failed>(&change->state)) {
      failure_ = failed->message;
      setError(failed->message);
      sessionEndedBy_ = "error";
      track("Session Failed", {{"reason", redactedForTelemetry(failed->message)},
                               {"my_language", settings_.myLanguage},
                               {"their_language", settings_.theirLanguage}});
      stop(false);
    }
  } else if (const auto* transcript = std::get_if<TranslatorEvents::Transcript>(&event)) {
    appendCaption(transcript->fragment);
  } else {
    // The relay rejected the token; a call goes on untranslated (the
    // translator switched to passthrough itself).
    env_.secrets->forgetAccessToken();
    assign(accessToken_, std::optional<std::string>(), Property::accessToken);
  }
}

void AppModel::appendCaption(const TranscriptFragment& fragment) {
  if (captions_.append(fragment, now())) {
    ++captionLines_;
    ++playground_->captionLines;
  }
  notify(Property::captions);
}

// --- restarts ---

void AppModel::scheduleRestartIfRunning() {
  if (!isRunning() || !orchestrator_) return;
  restartWork_ = env_.mainQueue->schedule(delayFromSeconds(restartDelay), [weak = std::weak_ptr(self_)] {
    if (auto self = weak.lock()) (*self)->restartNow();
  });
}

void AppModel::restartNow() {
  if (!orchestrator_ || !callNeedsRestart()) return;
  const bool wasRecording = isRecording_;
  assign(callRestarting_, true, Property::callRestarting);
  sessionEndedBy_ = "settings_changed";
  stop(true, [weak = std::weak_ptr(self_), wasRecording] {
    auto self = weak.lock();
    if (!self || !(*self)->callRestarting_) return;
    auto& model = **self;
    model.start(true);
    if (wasRecording && model.isRunning()) model.startRecording();
  });
}

// --- session telemetry ---

void AppModel::beginSession() {
  sessionBegan_ = now();
  captionLines_ = 0;
  turnChanges_ = 0;
  sessionReachedLive_ = false;
  sessionEndedBy_ = "user";
  sessionMode_ = std::string(rawValue(mode_));
  track("Session Started", {{"my_language", settings_.myLanguage},
                            {"their_language", settings_.theirLanguage},
                            {"mode", sessionMode_}});
}

void AppModel::endSession(double speech, double theirSpeech, double translated) {
  if (!sessionBegan_) return;
  const double duration = secondsSince(*std::exchange(sessionBegan_, std::nullopt));
  boost::json::object properties{{"duration_s", roundedToTenth(duration)},
                                 {"my_language", settings_.myLanguage},
                                 {"their_language", settings_.theirLanguage},
                                 {"reached_live", sessionReachedLive_},
                                 {"captions", settings_.captions},
                                 {"voice_over", settings_.voiceOver},
                                 {"ended_by", sessionEndedBy_},
                                 {"speech_s", roundedToTenth(speech)},
                                 {"their_speech_s", roundedToTenth(theirSpeech)},
                                 {"translated_s", roundedToTenth(translated)},
                                 {"caption_lines", captionLines_},
                                 {"mode", sessionMode_}};
  if (sessionMode_ == "in_person") properties["turns"] = turnChanges_;
  track("Session Ended", std::move(properties));
}

// --- recording ---

void AppModel::reloadRecordings() {
  assign(recordings_, Recordings::list(env_.recordingsFolder), Property::recordings);
}

void AppModel::startRecording() {
  if (mode_ != Mode::call || !orchestrator_ || orchestratorKind_ != OrchestratorKind::translator || !isRunning() ||
      isRecording_)
    return;
  std::error_code ignored;
  std::filesystem::create_directories(env_.recordingsFolder, ignored);
  const auto at = env_.mainQueue->clock().wallNow();
  auto url = Recordings::newFileURL(env_.recordingsFolder, settings_.myLanguage, settings_.theirLanguage, at);
  if (auto started = orchestrator_->startRecording(url); !started) {
    setError("Could not start recording: " + started.error());
    return;
  }
  assign(isRecording_, true, Property::isRecording);
  assign(recordingStartedAt_, std::optional(at), Property::recordingStartedAt);
  assign(recordingURL_, std::optional(url), Property::recordingURL);
  dismissSavedRecording();
  reloadRecordings();
}

void AppModel::stopRecording() {
  if (!isRecording_) return;
  const auto result = orchestrator_ ? orchestrator_->stopRecording() : std::nullopt;
  reloadRecordings();
  std::optional<Recordings::File> saved;
  if (result) {
    const auto listed = std::ranges::find(recordings_, result->url, &Recordings::File::url);
    saved = listed != recordings_.end()
                ? *listed
                : Recordings::File{result->url, env_.mainQueue->clock().wallNow(), result->duration, result->bytes,
                                   Recordings::languages(result->url.filename().string())};
  }
  assign(lastSavedRecording_, saved, Property::lastSavedRecording);
  assign(isRecording_, false, Property::isRecording);
  assign(recordingStartedAt_, std::optional<std::chrono::system_clock::time_point>(), Property::recordingStartedAt);
  assign(recordingURL_, std::optional<std::filesystem::path>(), Property::recordingURL);
}

void AppModel::revealRecordingsFolder() {
  std::error_code ignored;
  std::filesystem::create_directories(env_.recordingsFolder, ignored);
  if (env_.revealFolder) env_.revealFolder(env_.recordingsFolder);
}

// --- credentials, driver, devices ---

void AppModel::setAPIKey(const std::string& text) {
  const auto key = trimmed(text);
  if (key.empty()) return;
  if (auto stored = env_.secrets->setAPIKey(key); !stored) {
    setError("Could not save the key: " + stored.error());
    return;
  }
  assign(apiKey_, std::optional(key), Property::apiKey);
  setError(std::nullopt);
  if (orchestrator_ && std::holds_alternative<TranslatorStates::Passthrough>(state_))
    stop(true, [weak = std::weak_ptr(self_)] {
      if (auto self = weak.lock()) (*self)->start();
    });
}

void AppModel::installDriver() {
  if (installingDriver_) return;
  assign(installingDriver_, true, Property::installingDriver);
  const auto finished = [weak = std::weak_ptr(self_)](std::expected<void, std::string> outcome) {
    auto self = weak.lock();
    if (!self) return;
    auto& model = **self;
    model.assign(model.installingDriver_, false, Property::installingDriver);
    if (!outcome) model.setError("Driver install failed: " + outcome.error());
    // The audio server publishes the new devices a moment later.
    model.scheduleDeviceRefresh(driverRefreshDelay);
  };
  if (env_.installDriver)
    env_.installDriver(finished);
  else
    finished(std::unexpected(std::string("no installer in this build")));
}

void AppModel::scheduleDeviceRefresh(double afterSeconds) {
  refreshWork_ = env_.mainQueue->schedule(delayFromSeconds(afterSeconds), [weak = std::weak_ptr(self_)] {
    if (auto self = weak.lock()) (*self)->refreshDevices();
  });
}

void AppModel::refreshDevices() {
  auto devices = env_.devices.all ? env_.devices.all() : std::vector<AudioDeviceInfo>{};
  std::ranges::stable_sort(devices, [](const AudioDeviceInfo& a, const AudioDeviceInfo& b) {
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive) < 0;
  });
  assign(devices_, std::move(devices), Property::devices);
}

}  // namespace oskel
