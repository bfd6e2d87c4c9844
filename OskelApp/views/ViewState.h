#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "UpdaterState.h"
#include "orchestration/TranslatorVocabulary.h"
#include "recording/Recordings.h"

// What the windows show, read from the application model on every change, and
// what they can ask of it. The windows keep nothing else but presentation
// state (the key draft, which screen has focus).
namespace oskel::views {

enum class Mode { call, inPerson };

struct DeviceChoice {
  std::string uid;
  std::string name;
  bool operator==(const DeviceChoice&) const = default;
};

struct CaptionLine {
  std::string id;
  CallDirection direction = CallDirection::outgoing;
  std::string heard;
  std::string said;
  std::chrono::system_clock::time_point at;  // when the line began, for saved captions
  bool operator==(const CaptionLine&) const = default;
};

// The saved settings the windows edit.
struct ViewSettings {
  std::string myLanguage = "en";
  std::string theirLanguage = "es";
  std::optional<std::string> microphoneUID;
  std::optional<std::string> speakerUID;
  bool voiceOver = true;
  double voiceOverLevel = -6.0;
  bool ducking = true;
  double duckLevel = -18.0;
  bool echoCancellation = true;
  bool captions = true;
  std::string noiseReduction = "near_field";
  bool roomMicrophone = false;
  std::optional<bool> groupCallOption;
  bool operator==(const ViewSettings&) const = default;
};

struct ViewState {
  ViewSettings settings;
  TranslatorState state = TranslatorStates::Idle{};
  bool callRestarting = false;
  Mode mode = Mode::call;
  CallDirection turn = CallDirection::outgoing;

  std::vector<DeviceChoice> microphones;
  std::vector<DeviceChoice> speakers;
  std::string defaultMicrophoneName;
  std::string defaultSpeakerName;

  std::vector<CaptionLine> captions;
  bool hasApiKey = false;        // the user's own key is the credential
  std::optional<std::string> errorMessage;
  bool driverInstalled = true;
  bool driverBundled = true;     // the loopback installer can provide the devices
  bool installingDriver = false;

  bool isRecording = false;
  std::optional<std::chrono::system_clock::time_point> recordingStartedAt;
  std::vector<Recordings::File> recordings;
  std::optional<Recordings::File> lastSavedRecording;
  bool showingRecordings = false;

  // Onboarding's playground.
  TranslatorState playgroundState = TranslatorStates::Idle{};
  bool playgroundPreparing = false;
  std::optional<std::string> playgroundMessage;
  bool microphoneDenied = false;
  bool playgroundEchoCancellation = true;
  bool playgroundSpoke = false;
  bool playgroundRestarting = false;
  bool canStartPlayground = false;  // a credential exists

  std::optional<update::State> update;
  // Input levels in dBFS per direction while a call runs.
  std::optional<float> outgoingLevel;
  std::optional<float> incomingLevel;

  std::string version;
};

// What the windows ask of the model.
struct ViewActions {
  std::function<void()> toggle;
  std::function<void(Mode)> setMode;
  std::function<void(ViewSettings)> setSettings;
  std::function<void()> swapLanguages;
  std::function<void(CallDirection)> setTurn;
  std::function<void()> toggleTurn;
  // Polled about ten times a second for the input meters while a call runs.
  std::function<std::optional<float>(CallDirection)> inputLevel;
  std::function<void()> clearCaptions;
  std::function<void()> startRecording;
  std::function<void()> stopRecording;
  std::function<void()> dismissSavedRecording;
  std::function<void(std::filesystem::path)> reveal;
  std::function<void()> revealRecordingsFolder;
  std::function<void(bool)> showRecordings;
  std::function<void(std::string)> setAPIKey;
  std::function<void()> installDriver;
  std::function<void()> beginUpdate;
  std::function<void()> cancelUpdate;
  std::function<void()> quit;
  // Onboarding.
  std::function<void()> togglePlayground;
  std::function<void()> getStarted;
  std::function<void()> openMicrophoneSettings;
};

}  // namespace oskel::views
