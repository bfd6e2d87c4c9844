#pragma once

// The one object the windows observe and command.
//
// Change notification: every observable property has a getter; whenever one
// changes, AppModel emits `changed(AppModel::Property)` once with that
// property, on the main thread, after the new value is in place. Views
// connect to `changed` and re-read the getters of the properties they show.
// All operations are called on the main thread.
//
// The application: L10n(Preferences::qt()).install(), then
// AppModel model(applicationEnvironment(telemetry)).
//
// Previews and tests: build the model with a ModelEnvironment whose
// orchestrator factory is a ScriptedOrchestrators (ScriptedOrchestrator.h),
// with MemoryPreferences, a MemorySecretStore holding a key and
// DeviceSource::fixed(...); call start(), then drive the scripted
// orchestrator's events (state, transcripts) to reach any state.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "Captions.h"
#include "L10n.h"
#include "ModelEnvironment.h"
#include "Orchestrator.h"
#include "Settings.h"
#include "concurrency/Clock.h"
#include "concurrency/Timer.h"
#include "orchestration/TranslatorVocabulary.h"
#include "recording/Recordings.h"
#include "service/TranslationCredential.h"

namespace oskel {

class AppModel final : public QObject {
  Q_OBJECT

 public:
  using Settings = AppSettings;
  enum class Mode { call, inPerson };

  // The observable properties, in declaration order.
  enum class Property {
    settings,
    state,
    devices,
    captions,
    apiKey,
    accessToken,
    errorMessage,
    installingDriver,
    onboardingCompleted,
    isRecording,
    recordingStartedAt,
    recordingURL,
    recordings,
    lastSavedRecording,
    showingRecordings,
    playgroundState,
    playgroundPreparing,
    playgroundMessage,
    microphoneDenied,
    playgroundEchoCancellation,
    playgroundSpoke,
    playgroundRestarting,
    callRestarting,
    mode,
    turn,
  };
  Q_ENUM(Property)

  // Delays, in seconds.
  static constexpr double restartDelay = 0.6;
  static constexpr double deviceRefreshDelay = 0.3;
  static constexpr double driverRefreshDelay = 2.0;
  static constexpr double playgroundRetryDelay = 1.0;

  // Preference keys.
  static constexpr const char* settingsKey = "settings";
  static constexpr const char* modeKey = "mode";
  static constexpr const char* onboardingCompletedKey = "onboardingCompleted";

  explicit AppModel(ModelEnvironment environment, QObject* parent = nullptr);
  ~AppModel() override;

  // --- observable properties ---
  const Settings& settings() const { return settings_; }
  const TranslatorState& state() const { return state_; }
  const std::vector<AudioDeviceInfo>& devices() const { return devices_; }
  const std::deque<Caption>& captions() const { return captions_.lines(); }
  const std::optional<std::string>& apiKey() const { return apiKey_; }
  const std::optional<std::string>& accessToken() const { return accessToken_; }
  const std::optional<std::string>& errorMessage() const { return errorMessage_; }
  bool installingDriver() const { return installingDriver_; }
  bool onboardingCompleted() const { return onboardingCompleted_; }
  bool isRecording() const { return isRecording_; }
  const std::optional<std::chrono::system_clock::time_point>& recordingStartedAt() const { return recordingStartedAt_; }
  const std::optional<std::filesystem::path>& recordingURL() const { return recordingURL_; }
  const std::vector<Recordings::File>& recordings() const { return recordings_; }
  const std::optional<Recordings::File>& lastSavedRecording() const { return lastSavedRecording_; }
  bool showingRecordings() const { return showingRecordings_; }
  const TranslatorState& playgroundState() const { return playgroundState_; }
  bool playgroundPreparing() const { return playgroundPreparing_; }
  const std::optional<std::string>& playgroundMessage() const { return playgroundMessage_; }
  bool microphoneDenied() const { return microphoneDenied_; }
  bool playgroundEchoCancellation() const { return playgroundEchoCancellation_; }
  bool playgroundSpoke() const { return playgroundSpoke_; }
  bool playgroundRestarting() const { return playgroundRestarting_; }
  bool callRestarting() const { return callRestarting_; }
  Mode mode() const { return mode_; }
  CallDirection turn() const { return turn_; }

  // --- derived values ---
  // Real devices only: the loopback devices are never offered.
  std::vector<AudioDeviceInfo> microphones() const;
  std::vector<AudioDeviceInfo> speakers() const;
  // The chosen device when it is present; none means the system default.
  std::optional<AudioDeviceInfo> selectedMicrophone() const;
  std::optional<AudioDeviceInfo> selectedSpeaker() const;
  // The current system defaults ("System default · %@").
  std::optional<AudioDeviceInfo> defaultMicrophone() const;
  std::optional<AudioDeviceInfo> defaultSpeaker() const;
  bool driverInstalled() const;
  // The user's own key first, else the relay token, else none.
  std::optional<TranslationCredential> translationCredential() const;
  bool usesOwnAPIKey() const;
  bool canStart() const;
  // starting, connecting, live, reconnecting, passthrough or stopping.
  bool isRunning() const;
  bool isPlaygroundRunning() const;
  // The running call's or conversation's input level per direction in dBFS;
  // absent when none runs or it has no reading yet. It changes with every
  // block of audio, so it is polled (about ten times a second) rather than
  // announced through `changed`.
  std::optional<float> inputLevelDB(CallDirection direction) const {
    return orchestrator_ ? orchestrator_->inputLevelDB(direction) : std::nullopt;
  }
  L10n& l10n() { return l10n_; }

  // --- settings ---
  // Stores the settings when they differ, then applies them: new voice-over
  // levels reach a running call at once; anything in the session signature
  // restarts a running call or playground 0.6 s after the last change.
  void setSettings(const Settings& settings);
  void updateSettings(const std::function<void(Settings&)>& change);
  void setMyLanguage(const std::string& code);
  void setTheirLanguage(const std::string& code);
  void setMicrophoneUID(const std::optional<std::string>& uid);
  void setSpeakerUID(const std::optional<std::string>& uid);
  void setVoiceOver(bool on);
  void setVoiceOverLevel(double dB);
  void setDucking(bool on);
  void setDuckLevel(double dB);
  void setEchoCancellation(bool on);
  void setCaptions(bool on);
  void setNoiseReduction(const std::string& mode);
  void setRoomMicrophone(bool on);
  void setGroupCallOption(std::optional<bool> on);
  void swapLanguages();
  void setMode(Mode mode);
  void setShowingRecordings(bool showing);
  void clearCaptions();
  void dismissSavedRecording();
  void clearErrorMessage();
  // "--onboard": onboarding runs again.
  void setOnboardingCompleted(bool completed);

  // --- the session ---
  void start(bool keepingCall = false);
  // `completion` runs on the main thread when the orchestrator has stopped,
  // at once when nothing runs.
  void stop(bool fast = false, std::function<void()> completion = {});
  void toggle();
  void setTurn(CallDirection direction);
  void toggleTurn();
  void handle(const TranslatorEvent& event);

  // --- recording ---
  void startRecording();
  void stopRecording();
  void revealRecordingsFolder();
  void reloadRecordings();

  // --- credentials and driver ---
  void setAPIKey(const std::string& text);
  void installDriver();
  void scheduleDeviceRefresh(double afterSeconds);

  // --- onboarding and playground ---
  void microphoneAccess(std::function<void(bool granted)> answer);
  void openPlayground();
  void togglePlayground();
  void startPlayground(int attempt = 1);
  void stopPlayground(bool fast = false, std::function<void()> completion = {});
  // via: "quit" or "window_closed".
  void leavePlayground(const std::string& via, std::function<void()> completion = {});
  // The "Get Started" action; `seconds` is how long the window was shown.
  void finishOnboarding(double seconds, std::function<void()> completion = {});
  void handlePlayground(const TranslatorEvent& event);
  void schedulePlaygroundRestart();

 signals:
  void changed(oskel::AppModel::Property property);

 private:
  struct Playground;

  void notify(Property property);
  void applySettings(const Settings& old);
  void alignInterfaceLanguage();
  void writePreference(const char* key, const std::string& value);
  void setState(TranslatorState state);
  void setError(std::optional<std::string> message);
  void refreshDevices();
  void appendCaption(const TranscriptFragment& fragment);

  TranslatorConfig callConfig(const TranslationCredential& credential) const;
  TranslatorConfig conversationConfig(const TranslationCredential& credential) const;
  TranslatorConfig playgroundConfig(const TranslationCredential& credential) const;
  std::optional<std::string> derivedNoiseReduction() const;
  AudioDeviceInfo resolvedMicrophone() const;
  AudioDeviceInfo resolvedSpeaker() const;
  bool callNeedsRestart() const;
  bool playgroundNeedsRestart() const;
  void scheduleRestartIfRunning();
  void restartNow();
  void startFailed(const std::string& description);
  OrchestratorEnvironment::Post eventPoster() const;
  Orchestrator::EventHandler forwarder(std::function<void(AppModel&, const TranslatorEvent&)> handler) const;

  void beginSession();
  void endSession(double speech, double theirSpeech, double translated);
  void track(const std::string& event, boost::json::object properties) const;
  double secondsSince(Clock::TimePoint then) const;
  Clock::TimePoint now() const;

  void playgroundStartFailed(int attempt, const std::string& description);
  void endPlaygroundRun();
  void setPlaygroundState(TranslatorState state);
  template <typename T>
  void assign(T& field, T value, Property property) {
    if (field == value) return;
    field = std::move(value);
    notify(property);
  }

  ModelEnvironment env_;
  L10n l10n_;
  // Held weakly by every callback and delayed action.
  std::shared_ptr<AppModel*> self_;

  Settings settings_;
  TranslatorState state_ = TranslatorStates::Idle{};
  std::vector<AudioDeviceInfo> devices_;
  CaptionList captions_;
  std::optional<std::string> apiKey_;
  std::optional<std::string> accessToken_;
  std::optional<std::string> errorMessage_;
  bool installingDriver_ = false;
  bool onboardingCompleted_ = false;
  bool isRecording_ = false;
  std::optional<std::chrono::system_clock::time_point> recordingStartedAt_;
  std::optional<std::filesystem::path> recordingURL_;
  std::vector<Recordings::File> recordings_;
  std::optional<Recordings::File> lastSavedRecording_;
  bool showingRecordings_ = false;
  TranslatorState playgroundState_ = TranslatorStates::Idle{};
  bool playgroundPreparing_ = false;
  std::optional<std::string> playgroundMessage_;
  bool microphoneDenied_ = false;
  bool playgroundEchoCancellation_ = true;
  bool playgroundSpoke_ = false;
  bool playgroundRestarting_ = false;
  bool callRestarting_ = false;
  Mode mode_ = Mode::call;
  CallDirection turn_ = CallDirection::outgoing;

  // The running call (translator) or conversation.
  std::shared_ptr<Orchestrator> orchestrator_;
  OrchestratorKind orchestratorKind_ = OrchestratorKind::translator;
  // Events of an orchestrator that is no longer the current one are dropped.
  std::uint64_t generation_ = 0;
  // The running session failed: the state stays failed after its stop.
  std::optional<std::string> failure_;
  int turnChanges_ = 0;
  int captionLines_ = 0;
  std::shared_ptr<void> deviceObserver_;
  Timer refreshWork_;
  Timer restartWork_;
  std::optional<Clock::TimePoint> sessionBegan_;
  bool sessionReachedLive_ = false;
  std::string sessionEndedBy_ = "user";
  std::string sessionMode_ = "call";
  std::unique_ptr<Playground> playground_;
};

std::string_view rawValue(AppModel::Mode mode);
std::optional<AppModel::Mode> appModeFromRaw(std::string_view raw);

}  // namespace oskel
