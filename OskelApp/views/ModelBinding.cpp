#include "ModelBinding.h"

#include <QDesktopServices>
#include <QUrl>

namespace oskel::views {

namespace {

ViewSettings toView(const AppModel::Settings& s) {
  return ViewSettings{s.myLanguage,     s.theirLanguage,    s.microphoneUID,  s.speakerUID, s.voiceOver,
                      s.voiceOverLevel, s.ducking,          s.duckLevel,      s.echoCancellation,
                      s.captions,       s.noiseReduction,   s.roomMicrophone, s.groupCallOption};
}

void fromView(const ViewSettings& v, AppModel::Settings& s) {
  s.myLanguage = v.myLanguage;
  s.theirLanguage = v.theirLanguage;
  s.microphoneUID = v.microphoneUID;
  s.speakerUID = v.speakerUID;
  s.voiceOver = v.voiceOver;
  s.voiceOverLevel = v.voiceOverLevel;
  s.ducking = v.ducking;
  s.duckLevel = v.duckLevel;
  s.echoCancellation = v.echoCancellation;
  s.captions = v.captions;
  s.noiseReduction = v.noiseReduction;
  s.roomMicrophone = v.roomMicrophone;
  s.groupCallOption = v.groupCallOption;
}

std::vector<DeviceChoice> choices(const std::vector<AudioDeviceInfo>& devices) {
  std::vector<DeviceChoice> out;
  for (const auto& device : devices) out.push_back({device.uid, device.name});
  return out;
}

}  // namespace

ViewState ModelBinding::snapshot(const std::optional<update::State>& update, std::string version) {
  const AppModel& m = model_;
  ViewState v;
  v.settings = toView(m.settings());
  v.state = m.state();
  v.callRestarting = m.callRestarting();
  v.mode = m.mode() == AppModel::Mode::inPerson ? Mode::inPerson : Mode::call;
  v.turn = m.turn();
  v.microphones = choices(m.microphones());
  v.speakers = choices(m.speakers());
  if (const auto device = m.defaultMicrophone()) v.defaultMicrophoneName = device->name;
  if (const auto device = m.defaultSpeaker()) v.defaultSpeakerName = device->name;

  const auto wallNow = std::chrono::system_clock::now();
  std::map<std::uint64_t, std::chrono::system_clock::time_point> seen;
  for (const auto& caption : m.captions()) {
    const auto found = firstSeen_.find(caption.id);
    const auto at = found != firstSeen_.end() ? found->second : wallNow;
    seen[caption.id] = at;
    v.captions.push_back({std::to_string(caption.id), caption.direction, caption.heard, caption.said, at});
  }
  firstSeen_ = std::move(seen);

  v.hasApiKey = m.usesOwnAPIKey();
  v.errorMessage = m.errorMessage();
  v.driverInstalled = m.driverInstalled();
  v.installingDriver = m.installingDriver();
  v.isRecording = m.isRecording();
  v.recordingStartedAt = m.recordingStartedAt();
  v.recordings = m.recordings();
  v.lastSavedRecording = m.lastSavedRecording();
  v.outgoingLevel = m.inputLevelDB(CallDirection::outgoing);
  v.incomingLevel = m.inputLevelDB(CallDirection::incoming);
  v.showingRecordings = m.showingRecordings();
  v.playgroundState = m.playgroundState();
  v.playgroundPreparing = m.playgroundPreparing();
  v.playgroundMessage = m.playgroundMessage();
  v.microphoneDenied = m.microphoneDenied();
  v.playgroundEchoCancellation = m.playgroundEchoCancellation();
  v.playgroundSpoke = m.playgroundSpoke();
  v.playgroundRestarting = m.playgroundRestarting();
  v.canStartPlayground = m.translationCredential().has_value();
  v.update = update;
  v.version = std::move(version);
  return v;
}

ViewActions ModelBinding::actions(ViewActions a) {
  AppModel* m = &model_;
  a.toggle = [m] { m->toggle(); };
  a.setMode = [m](Mode mode) { m->setMode(mode == Mode::inPerson ? AppModel::Mode::inPerson : AppModel::Mode::call); };
  a.setSettings = [m](ViewSettings settings) { m->updateSettings([&](AppModel::Settings& s) { fromView(settings, s); }); };
  a.swapLanguages = [m] { m->swapLanguages(); };
  a.setTurn = [m](CallDirection direction) { m->setTurn(direction); };
  a.toggleTurn = [m] { m->toggleTurn(); };
  a.inputLevel = [m](CallDirection direction) { return m->inputLevelDB(direction); };
  a.clearCaptions = [m] { m->clearCaptions(); };
  a.startRecording = [m] { m->startRecording(); };
  a.stopRecording = [m] { m->stopRecording(); };
  a.dismissSavedRecording = [m] { m->dismissSavedRecording(); };
  a.revealRecordingsFolder = [m] { m->revealRecordingsFolder(); };
  a.showRecordings = [m](bool showing) { m->setShowingRecordings(showing); };
  a.setAPIKey = [m](std::string key) { m->setAPIKey(key); };
  a.installDriver = [m] { m->installDriver(); };
  a.togglePlayground = [m] { m->togglePlayground(); };
  if (!a.reveal)
    a.reveal = [](std::filesystem::path file) {
      // File managers have no common "select this file": open its folder.
      QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
    };
  return a;
}

}  // namespace oskel::views
