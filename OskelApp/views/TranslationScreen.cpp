#include "TranslationScreen.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <fmt/format.h>

#include "CaptionExport.h"
#include "StateTexts.h"
#include "Widgets.h"

namespace oskel::views {

namespace {

QFrame* section(QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(QFrame::StyledPanel);
  return frame;
}

// A toggle with its title and a subtitle under it.
QCheckBox* optionToggle(const QString& title, const QString& subtitle, const QString& name, QVBoxLayout* into,
                        QWidget* parent, QLabel** subtitleLabel = nullptr) {
  auto* box = new QCheckBox(title, parent);
  box->setObjectName(name);
  box->setToolTip(subtitle);
  auto* sub = hint(subtitle, parent);
  sub->setContentsMargins(24, 0, 0, 4);
  into->addWidget(box);
  into->addWidget(sub);
  if (subtitleLabel) *subtitleLabel = sub;
  return box;
}

QSlider* levelSlider(QWidget* parent, const QString& name) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(name);
  slider->setRange(-40, 0);
  slider->setPageStep(3);
  return slider;
}

QString dB(double level) { return QString::fromStdString(fmt::format("{:.0f} dB", level)); }

// The meters read dBFS directly (what a screen reader announces); -60 and
// below, or no reading, is empty.
constexpr int meterFloorDB = -60;
constexpr int levelPollMilliseconds = 100;

int meterValue(std::optional<float> level) {
  if (!level) return meterFloorDB;
  return static_cast<int>(std::lround(std::clamp(*level, static_cast<float>(meterFloorDB), 0.0f)));
}

}  // namespace

TranslationScreen::TranslationScreen(std::shared_ptr<const ViewActions> actions, Now now, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), now_(std::move(now)) {
  setObjectName("translationScreen");
  build();
  render(last_);
}

void TranslationScreen::edit(const std::function<void(ViewSettings&)>& change) {
  ViewSettings settings = last_.settings;
  change(settings);
  if (settings != last_.settings && actions_->setSettings) actions_->setSettings(settings);
}

void TranslationScreen::build() {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(10);

  // 1. Mode.
  auto* modeRow = new QHBoxLayout;
  modeGroup_ = new QButtonGroup(this);
  int id = 0;
  for (const auto& [text, name] : {std::pair{"Call", "modeCall"}, std::pair{"In person", "modeInPerson"}}) {
    auto* b = new QPushButton(T(text), this);
    b->setObjectName(name);
    b->setCheckable(true);
    modeGroup_->addButton(b, id++);
    modeRow->addWidget(b);
  }
  connect(modeGroup_, &QButtonGroup::idClicked, this, [this](int which) {
    if (actions_->setMode) actions_->setMode(which == 0 ? Mode::call : Mode::inPerson);
  });
  layout->addLayout(modeRow);
  inPersonHint_ = hint(T("Put the computer between you. What each person says plays from the speaker in the other "
                          "language."),
                       this);
  layout->addWidget(inPersonHint_);

  // 2. Languages.
  auto* languages = section(this);
  auto* languagesLayout = new QGridLayout(languages);
  languagesLayout->addWidget(hint(T("Language"), languages), 0, 0);
  languagesLayout->addWidget(hint(T("Language"), languages), 0, 2);
  myLanguage_ = languagePicker(languages, "myLanguage", [this](std::string code) {
    edit([&](ViewSettings& s) { s.myLanguage = code; });
  });
  theirLanguage_ = languagePicker(languages, "theirLanguage", [this](std::string code) {
    edit([&](ViewSettings& s) { s.theirLanguage = code; });
  });
  auto* swap = button(QStringLiteral("⇄"), languages, "swapLanguages", [this] {
    if (actions_->swapLanguages) actions_->swapLanguages();
  });
  swap->setToolTip(T("Swap languages"));
  swap->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
  swap->setAccessibleName(T("Swap languages"));
  languagesLayout->addWidget(myLanguage_, 1, 0);
  languagesLayout->addWidget(swap, 1, 1);
  languagesLayout->addWidget(theirLanguage_, 1, 2);
  languagesLayout->addWidget(hint(T("Speech is detected automatically — choose the language each side hears."),
                                  languages),
                             2, 0, 1, 3);
  layout->addWidget(languages);

  // 3. Devices.
  auto* devices = new QFormLayout;
  microphone_ = new QComboBox(this);
  microphone_->setObjectName("microphone");
  speaker_ = new QComboBox(this);
  speaker_->setObjectName("speaker");
  for (auto* box : {microphone_, speaker_}) {
    // Device names are long; the window is narrow.
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(10);
  }
  devices->addRow(T("Microphone"), microphone_);
  devices->addRow(T("Speaker"), speaker_);
  const auto pick = [this](QComboBox* box, std::optional<std::string> ViewSettings::*field) {
    connect(box, &QComboBox::activated, this, [this, box, field](int index) {
      const QString uid = box->itemData(index).toString();
      edit([&](ViewSettings& s) {
        s.*field = uid.isEmpty() ? std::nullopt : std::optional<std::string>(uid.toStdString());
      });
    });
  };
  pick(microphone_, &ViewSettings::microphoneUID);
  pick(speaker_, &ViewSettings::speakerUID);
  layout->addLayout(devices);

  // 4. Turn picker (in person).
  turnPicker_ = section(this);
  auto* turnLayout = new QGridLayout(turnPicker_);
  turnLayout->addWidget(heading(T("Who’s speaking"), turnPicker_, 1.0), 0, 0, 1, 2);
  myTurn_ = button({}, turnPicker_, "myTurn", [this] {
    if (actions_->setTurn) actions_->setTurn(CallDirection::outgoing);
  });
  theirTurn_ = button({}, turnPicker_, "theirTurn", [this] {
    if (actions_->setTurn) actions_->setTurn(CallDirection::incoming);
  });
  for (auto* b : {myTurn_, theirTurn_}) {
    b->setCheckable(true);
    b->setMinimumHeight(48);
  }
  turnLayout->addWidget(myTurn_, 1, 0);
  turnLayout->addWidget(theirTurn_, 1, 1);
  turnLayout->addWidget(hint(T("Tap whoever is about to speak, or press Space."), turnPicker_), 2, 0, 1, 2);
  spaceTurn_ = new QShortcut(QKeySequence(Qt::Key_Space), this);
  spaceTurn_->setObjectName("spaceTurn");
  connect(spaceTurn_, &QShortcut::activated, this, [this] {
    if (actions_->toggleTurn) actions_->toggleTurn();
  });
  layout->addWidget(turnPicker_);

  // 5. Captions.
  captionsBox_ = section(this);
  auto* captionsLayout = new QVBoxLayout(captionsBox_);
  auto* captionsHead = new QHBoxLayout;
  captionsHead->addWidget(heading(T("Captions"), captionsBox_, 1.0));
  captionsHead->addStretch();
  copyCaptions_ = button(T("Copy"), captionsBox_, "copyCaptions", [this] {
    QApplication::clipboard()->setText(qs(captionsAsText(last_.captions)));
  });
  saveCaptions_ = button(T("Save…"), captionsBox_, "saveCaptions", [this] {
    QString filter;
    const QString file = QFileDialog::getSaveFileName(this, T("Save Captions"), QStringLiteral("Captions.srt"),
                                                      T("Subtitles (*.srt);;Plain text (*.txt)"), &filter);
    if (file.isEmpty()) return;
    const bool srt = file.endsWith(QStringLiteral(".srt"), Qt::CaseInsensitive) ||
                     (!file.endsWith(QStringLiteral(".txt")) && filter.contains(QStringLiteral("srt")));
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly)) {
      out.write(QByteArray::fromStdString(srt ? captionsAsSrt(last_.captions) : captionsAsText(last_.captions)));
      out.commit();
    }
  });
  auto* clear = button(T("Clear"), captionsBox_, "clearCaptions", [this] {
    if (actions_->clearCaptions) actions_->clearCaptions();
  });
  for (auto* b : {copyCaptions_, saveCaptions_, clear}) {
    b->setFlat(true);
    b->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    captionsHead->addWidget(b);
  }
  captionsLayout->addLayout(captionsHead);
  captionsEmpty_ = hint(T("Nothing yet"), captionsBox_);
  captionsEmpty_->setObjectName("captionsEmpty");
  captionsLayout->addWidget(captionsEmpty_);
  captionList_ = new QListWidget(captionsBox_);
  captionList_->setObjectName("captionList");
  captionList_->setWordWrap(true);
  captionList_->setMinimumHeight(140);
  captionList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  captionsLayout->addWidget(captionList_);
  layout->addWidget(captionsBox_, 1);

  // 6. Start and stop.
  auto* startRow = new QVBoxLayout;
  translate_ = button({}, this, "translateButton", [this] {
    if (actions_->toggle) actions_->toggle();
  });
  translate_->setMinimumHeight(36);
  translate_->setDefault(true);
  record_ = button({}, this, "recordButton", [this] {
    const auto& action = last_.isRecording ? actions_->stopRecording : actions_->startRecording;
    if (action) action();
  });
  startRow->addWidget(translate_);
  startRow->addWidget(record_);
  layout->addLayout(startRow);

  meters_ = new QWidget(this);
  auto* metersLayout = new QFormLayout(meters_);
  metersLayout->setContentsMargins(0, 0, 0, 0);
  outgoingMeter_ = new QProgressBar(meters_);
  incomingMeter_ = new QProgressBar(meters_);
  outgoingMeter_->setObjectName("outgoingMeter");
  incomingMeter_->setObjectName("incomingMeter");
  outgoingMeter_->setAccessibleName(T("Your input level"));
  incomingMeter_->setAccessibleName(T("Their input level"));
  for (auto* meter : {outgoingMeter_, incomingMeter_}) {
    meter->setRange(meterFloorDB, 0);
    meter->setFormat(QStringLiteral("%v dBFS"));
    meter->setTextVisible(false);
    meter->setMaximumHeight(8);
  }
  metersLayout->addRow(T("You"), outgoingMeter_);
  metersLayout->addRow(T("Them"), incomingMeter_);
  layout->addWidget(meters_);
  levelPoll_ = new QTimer(this);
  levelPoll_->setObjectName("levelPoll");
  levelPoll_->setInterval(levelPollMilliseconds);
  connect(levelPoll_, &QTimer::timeout, this, &TranslationScreen::pollLevels);

  savedRow_ = new QWidget(this);
  auto* savedLayout = new QHBoxLayout(savedRow_);
  savedLayout->setContentsMargins(0, 0, 0, 0);
  savedLabel_ = new QLabel(savedRow_);
  savedLabel_->setObjectName("savedRecording");
  savedLabel_->setWordWrap(true);
  savedLayout->addWidget(savedLabel_, 1);
  savedLayout->addWidget(button(T("Show in Folder"), savedRow_, "revealSaved", [this] {
    if (last_.lastSavedRecording && actions_->reveal) actions_->reveal(last_.lastSavedRecording->url);
  }));
  auto* dismiss = button(QStringLiteral("✕"), savedRow_, "dismissSaved", [this] {
    if (actions_->dismissSavedRecording) actions_->dismissSavedRecording();
  });
  dismiss->setAccessibleName(T("Close"));
  savedLayout->addWidget(dismiss);
  layout->addWidget(savedRow_);

  restarting_ = hint(T("Switching to your new settings…"), this);
  restarting_->setObjectName("restarting");
  instructions_ = hint(T("Then pick <b>Oskel Microphone</b> and <b>Oskel Speaker</b> as the audio devices in Zoom."),
                       this);
  instructions_->setObjectName("instructions");
  liveInstructions_ = hint(T("In Zoom → Audio: Microphone <b>Oskel Microphone</b>, Speaker <b>Oskel Speaker</b>"),
                           this);
  liveInstructions_->setObjectName("liveInstructions");
  error_ = new QLabel(this);
  error_->setObjectName("errorMessage");
  error_->setWordWrap(true);
  error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette errorPalette = error_->palette();
  errorPalette.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
  error_->setPalette(errorPalette);
  for (auto* label : {restarting_, instructions_, liveInstructions_, error_}) layout->addWidget(label);

  // 7. Options; 8. driver banner.
  layout->addWidget(buildOptions());
  driverBanner_ = section(this);
  driverBanner_->setObjectName("driverBanner");
  auto* driverLayout = new QVBoxLayout(driverBanner_);
  driverLayout->addWidget(heading(T("Audio driver not installed"), driverBanner_, 1.0));
  driverText_ = hint({}, driverBanner_);
  driverLayout->addWidget(driverText_);
  installDriver_ = button(T("Install Driver"), driverBanner_, "installDriver", [this] {
    if (actions_->installDriver) actions_->installDriver();
  });
  driverLayout->addWidget(installDriver_, 0, Qt::AlignLeft);
  layout->addWidget(driverBanner_);
}

QWidget* TranslationScreen::buildOptions() {
  auto* options = section(this);
  options->setObjectName("options");
  auto* layout = new QVBoxLayout(options);
  layout->addWidget(heading(T("Options"), options, 1.0));
  voiceOver_ = optionToggle(T("Voice-over"), T("Keep the original voice audible under the translation"), "voiceOver",
                            layout, options);
  connect(voiceOver_, &QCheckBox::clicked, this, [this](bool on) { edit([&](ViewSettings& s) { s.voiceOver = on; }); });

  voiceOverLevels_ = new QWidget(options);
  auto* levels = new QGridLayout(voiceOverLevels_);
  levels->setContentsMargins(24, 0, 0, 0);
  voiceOverLevel_ = levelSlider(voiceOverLevels_, "voiceOverLevel");
  voiceOverLevelText_ = new QLabel(voiceOverLevels_);
  ducking_ = new QCheckBox(T("Duck while the translation plays"), voiceOverLevels_);
  ducking_->setObjectName("ducking");
  duckLevel_ = levelSlider(voiceOverLevels_, "duckLevel");
  duckLevelText_ = new QLabel(voiceOverLevels_);
  levels->addWidget(new QLabel(T("Original"), voiceOverLevels_), 0, 0);
  levels->addWidget(voiceOverLevel_, 0, 1);
  levels->addWidget(voiceOverLevelText_, 0, 2);
  levels->addWidget(ducking_, 1, 0, 1, 3);
  levels->addWidget(new QLabel(T("Ducked"), voiceOverLevels_), 2, 0);
  levels->addWidget(duckLevel_, 2, 1);
  levels->addWidget(duckLevelText_, 2, 2);
  layout->addWidget(voiceOverLevels_);
  connect(ducking_, &QCheckBox::clicked, this, [this](bool on) { edit([&](ViewSettings& s) { s.ducking = on; }); });
  connect(voiceOverLevel_, &QSlider::valueChanged, this,
          [this](int value) { edit([&](ViewSettings& s) { s.voiceOverLevel = value; }); });
  connect(duckLevel_, &QSlider::valueChanged, this,
          [this](int value) { edit([&](ViewSettings& s) { s.duckLevel = value; }); });

  echo_ = optionToggle(T("Echo cancellation"), T("Stops your speakers' output from being translated back"),
                       "echoCancellation", layout, options);
  room_ = optionToggle(T("Room microphone"), T("Using a laptop or conference mic instead of a headset"),
                       "roomMicrophone", layout, options);
  group_ = optionToggle(T("Group call"), T("Turn this on when more than one person is on the call"), "groupCall",
                        layout, options);
  captions_ = optionToggle(T("Captions"), {}, "captions", layout, options, &captionsSubtitle_);
  connect(echo_, &QCheckBox::clicked, this, [this](bool on) { edit([&](ViewSettings& s) { s.echoCancellation = on; }); });
  connect(room_, &QCheckBox::clicked, this, [this](bool on) { edit([&](ViewSettings& s) { s.roomMicrophone = on; }); });
  connect(group_, &QCheckBox::clicked, this, [this](bool on) { edit([&](ViewSettings& s) { s.groupCallOption = on; }); });
  connect(captions_, &QCheckBox::clicked, this, [this](bool on) { edit([&](ViewSettings& s) { s.captions = on; }); });
  return options;
}

void TranslationScreen::renderDevices(QComboBox* box, const std::vector<DeviceChoice>& choices,
                                      const std::string& defaultName, const std::optional<std::string>& selected) {
  const QSignalBlocker block(box);
  box->clear();
  box->addItem(defaultName.empty() ? T("System default") : T("System default · %1").arg(qs(defaultName)), QString());
  for (const auto& choice : choices) box->addItem(qs(choice.name), qs(choice.uid));
  const int index = selected ? box->findData(qs(*selected)) : 0;
  box->setCurrentIndex(std::max(index, 0));
}

void TranslationScreen::renderCaptions(const ViewState& state) {
  const bool changed = state.captions != last_.captions || captionList_->count() != static_cast<int>(state.captions.size());
  captionsEmpty_->setVisible(state.captions.empty());
  captionList_->setVisible(!state.captions.empty());
  copyCaptions_->setEnabled(!state.captions.empty());
  saveCaptions_->setEnabled(!state.captions.empty());
  if (!changed) return;
  captionList_->clear();
  for (const auto& line : state.captions) {
    QString text;
    if (line.direction == CallDirection::incoming) text = T("Them") + QStringLiteral(": ");
    text += qs(line.heard);
    if (!line.said.empty()) text += QStringLiteral("\n→ ") + qs(line.said);
    captionList_->addItem(text);
  }
  captionList_->scrollToBottom();
}

void TranslationScreen::render(const ViewState& state) {
  const bool running = isRunning(state.state);
  const bool inPerson = state.mode == Mode::inPerson;
  const bool call = !inPerson;

  modeGroup_->button(inPerson ? 1 : 0)->setChecked(true);
  inPersonHint_->setVisible(inPerson);
  selectLanguage(myLanguage_, state.settings.myLanguage);
  selectLanguage(theirLanguage_, state.settings.theirLanguage);
  renderDevices(microphone_, state.microphones, state.defaultMicrophoneName, state.settings.microphoneUID);
  renderDevices(speaker_, state.speakers, state.defaultSpeakerName, state.settings.speakerUID);

  turnPicker_->setVisible(inPerson);
  spaceTurn_->setEnabled(inPerson);
  myTurn_->setText(languageName(state.settings.myLanguage));
  theirTurn_->setText(languageName(state.settings.theirLanguage));
  myTurn_->setChecked(state.turn == CallDirection::outgoing);
  theirTurn_->setChecked(state.turn == CallDirection::incoming);

  captionsBox_->setVisible(state.settings.captions);
  renderCaptions(state);

  translate_->setText(T(translateTitle(state.state).c_str()));
  record_->setVisible(call && running);
  meters_->setVisible(running);
  showLevels(state.outgoingLevel, state.incomingLevel);
  savedRow_->setVisible(state.lastSavedRecording.has_value());
  if (state.lastSavedRecording)
    savedLabel_->setText(T("Saved recording · %1").arg(qs(state.lastSavedRecording->url.filename().string())));
  restarting_->setVisible(state.callRestarting);
  instructions_->setVisible(call);
  liveInstructions_->setVisible(call && std::holds_alternative<TranslatorStates::Live>(state.state));
  error_->setVisible(state.errorMessage.has_value());
  error_->setText(state.errorMessage ? qs(*state.errorMessage) : QString());

  {
    const QSignalBlocker a(voiceOverLevel_), b(duckLevel_);
    voiceOverLevel_->setValue(static_cast<int>(std::lround(state.settings.voiceOverLevel)));
    duckLevel_->setValue(static_cast<int>(std::lround(state.settings.duckLevel)));
  }
  voiceOverLevelText_->setText(dB(state.settings.voiceOverLevel));
  duckLevelText_->setText(dB(state.settings.duckLevel));
  voiceOver_->setChecked(state.settings.voiceOver);
  voiceOverLevels_->setEnabled(state.settings.voiceOver);
  ducking_->setChecked(state.settings.ducking);
  duckLevel_->setEnabled(state.settings.ducking);
  echo_->setChecked(state.settings.echoCancellation);
  room_->setChecked(state.settings.roomMicrophone);
  group_->setChecked(state.settings.groupCallOption.value_or(false));
  captions_->setChecked(state.settings.captions);
  captionsSubtitle_->setText(state.hasApiKey ? T("Live transcript of both sides (billed by OpenAI)")
                                             : T("Live transcript of both sides (included)"));

  driverBanner_->setVisible(!state.driverInstalled);
  driverText_->setText(state.driverBundled
                           ? T("Oskel needs its virtual microphone and speaker. Installing asks for your password "
                                "and restarts audio for a second.")
                           : T("Build and install it from macos_audio/Driver (<code>./build.sh && sudo "
                                "./install.sh</code>)."));
  installDriver_->setVisible(state.driverBundled);
  installDriver_->setEnabled(!state.installingDriver);

  last_ = state;
  syncLevelPoll();
  tick();
}

void TranslationScreen::showLevels(std::optional<float> outgoing, std::optional<float> incoming) {
  outgoingMeter_->setValue(meterValue(outgoing));
  incomingMeter_->setValue(meterValue(incoming));
}

void TranslationScreen::pollLevels() {
  if (actions_->inputLevel)
    showLevels(actions_->inputLevel(CallDirection::outgoing), actions_->inputLevel(CallDirection::incoming));
}

void TranslationScreen::syncLevelPoll() {
  const bool poll = actions_->inputLevel && isRunning(last_.state) && isVisible();
  if (!poll)
    levelPoll_->stop();
  else if (!levelPoll_->isActive())
    levelPoll_->start();
}

void TranslationScreen::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  syncLevelPoll();
}

void TranslationScreen::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  syncLevelPoll();
}

void TranslationScreen::tick() {
  if (!last_.isRecording) {
    record_->setText(T("Record this call to a file"));
    return;
  }
  const auto started = last_.recordingStartedAt.value_or(now_());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now_() - started).count();
  record_->setText(T("Stop recording") + QStringLiteral("  ") + qs(elapsed(seconds)));
}

}  // namespace oskel::views
