#include "Preview.h"

#include <QApplication>
#include <QPixmap>

#include <fmt/ostream.h>

#include "MainWindow.h"
#include "ModelBinding.h"
#include "OnboardingWindow.h"
#include "ScriptedOrchestrator.h"

namespace oskel::views {

namespace {

namespace TS = TranslatorStates;

AudioDeviceInfo device(AudioDeviceID id, const char* uid, const char* name, int in, int out) {
  AudioDeviceInfo info;
  info.id = id;
  info.uid = uid;
  info.name = name;
  info.inputChannels = in;
  info.outputChannels = out;
  info.nominalSampleRate = 48000;
  return info;
}

void settle() {
  // Orchestrator events travel through the Qt event queue.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

update::Release release() {
  update::Release r;
  r.version = "0.2.0";
  r.build = 2;
  r.size = 48'000'000;
  return r;
}

}  // namespace

int writePreviews(const std::filesystem::path& folder, std::ostream& out, std::ostream& err) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    fmt::print(err, "oskel: cannot make {}: {}\n", folder.string(), error.message());
    return 1;
  }
  auto scripted = std::make_shared<ScriptedOrchestrators>();
  ModelEnvironment env;
  env.mainQueue = MainQueue::qt();
  env.preferences = std::make_shared<MemoryPreferences>();
  auto secrets = std::make_shared<MemorySecretStore>();
  secrets->key = "sk-preview";
  env.secrets = secrets;
  env.orchestrators = ScriptedOrchestrators::factory(scripted);
  env.devices = DeviceSource::fixed({device(1, "mic-usb", "USB Headset Microphone", 1, 0),
                                     device(2, "speaker-usb", "USB Headset", 0, 2),
                                     device(3, "OskelMicrophone_UID", "Oskel Microphone", 2, 2),
                                     device(4, "OskelSpeaker_UID", "Oskel Speaker", 2, 2)});
  env.recordingsFolder = folder / "recordings-none";
  env.preview = true;
  AppModel model(env);
  model.setOnboardingCompleted(true);
  ModelBinding binding(model);
  auto actions = std::make_shared<const ViewActions>(binding.actions({}));
  const auto now = [] { return std::chrono::system_clock::now(); };
  MainWindow main(actions, now);
  OnboardingWindow onboarding(actions);
  for (QWidget* w : {static_cast<QWidget*>(&main), static_cast<QWidget*>(&onboarding)}) {
    w->setAttribute(Qt::WA_DontShowOnScreen);
    w->show();
  }

  int status = 0;
  const auto shoot = [&](QWidget& window, const std::string& name, const ViewState& state) {
    if (&window == &main) main.render(state); else onboarding.render(state);
    QCoreApplication::processEvents();
    const auto file = folder / (name + ".png");
    if (!window.grab().save(QString::fromStdString(file.string()), "PNG")) {
      fmt::print(err, "oskel: cannot write {}\n", file.string());
      status = 1;
      return;
    }
    fmt::print(out, "wrote {}\n", file.string());
  };
  const auto snap = [&](std::optional<update::State> update = std::nullopt) { return binding.snapshot(update, "0.1.0"); };
  const auto send = [&](TranslatorEvent event) {
    if (auto o = scripted->last()) o->raise(event);
    settle();
  };
  const auto heard = [](CallDirection d, TranscriptKind k, std::string text) {
    return TranslatorEvent(TranslatorEvents::Transcript{{d, k, std::move(text)}});
  };

  shoot(main, "main-idle", snap());
  model.start();
  settle();
  send(TranslatorEvents::State{TS::Connecting{}});
  shoot(main, "main-connecting", snap());
  if (auto call = scripted->last()) {
    call->outgoingLevel = -14.0f;
    call->incomingLevel = -27.0f;
  }
  send(TranslatorEvents::State{TS::Live{}});
  send(heard(CallDirection::outgoing, TranscriptKind::heard, "Good morning, can you hear me?"));
  send(heard(CallDirection::outgoing, TranscriptKind::said, "Buenos días, ¿me oyes?"));
  send(heard(CallDirection::incoming, TranscriptKind::heard, "Sí, perfectamente. ¿Empezamos?"));
  send(heard(CallDirection::incoming, TranscriptKind::said, "Yes, perfectly. Shall we begin?"));
  shoot(main, "main-live", snap());
  model.startRecording();
  settle();
  shoot(main, "main-recording", snap());
  model.stopRecording();
  send(TranslatorEvents::State{TS::Passthrough{}});
  shoot(main, "main-direct", snap(update::Available{release()}));
  send(TranslatorEvents::State{TS::Failed{"The translation service closed the connection (1011)."}});
  settle();
  shoot(main, "main-failed", snap());
  // Face to face with a Japanese speaker: the picker shows CJK text, which
  // needs a CJK font on the machine.
  model.setMode(AppModel::Mode::inPerson);
  model.setTheirLanguage("ja");
  settle();
  shoot(main, "main-in-person", snap());
  model.setMode(AppModel::Mode::call);
  ViewState missing = snap(update::Downloading{release(), 12'000'000, 48'000'000});
  missing.driverInstalled = false;
  shoot(main, "main-no-driver", missing);

  ViewState welcome = snap();
  welcome.captions.clear();
  welcome.canStartPlayground = true;
  shoot(onboarding, "onboarding", welcome);
  ViewState trying = welcome;
  trying.playgroundState = TS::Live{};
  trying.playgroundEchoCancellation = false;
  trying.captions.push_back({"1", CallDirection::outgoing, "Hello, this is a test.", "Hola, esto es una prueba.", {}});
  shoot(onboarding, "onboarding-live", trying);
  return status;
}

}  // namespace oskel::views
