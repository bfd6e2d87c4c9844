#include "OnboardingWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "StateTexts.h"
#include "Widgets.h"

namespace oskel::views {

OnboardingWindow::OnboardingWindow(std::shared_ptr<const ViewActions> actions, QWidget* parent)
    : QWidget(parent, Qt::Window), actions_(std::move(actions)) {
  setObjectName("OnboardingWindow");
  setWindowTitle(T("Welcome to Oskel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  layout->setSpacing(12);
  layout->addWidget(heading(T("Welcome to Oskel"), this, 1.6));
  layout->addWidget(hint(T("Try it now: talk, and hear yourself in another language."), this));

  const auto edit = [this](auto field) {
    return [this, field](std::string code) {
      ViewSettings settings = last_.settings;
      settings.*field = std::move(code);
      if (settings != last_.settings && actions_->setSettings) actions_->setSettings(settings);
    };
  };
  auto* pickers = new QHBoxLayout;
  myLanguage_ = languagePicker(this, "myLanguage", edit(&ViewSettings::myLanguage));
  theirLanguage_ = languagePicker(this, "theirLanguage", edit(&ViewSettings::theirLanguage));
  pickers->addWidget(myLanguage_, 1);
  pickers->addWidget(new QLabel(QStringLiteral("→"), this));
  pickers->addWidget(theirLanguage_, 1);
  layout->addLayout(pickers);
  layout->addWidget(hint(T("You speak the language on the left. Your speakers play it in the one on the right."), this));

  toggle_ = button({}, this, "playgroundToggle", [this] {
    if (actions_->togglePlayground) actions_->togglePlayground();
  });
  toggle_->setMinimumHeight(36);
  layout->addWidget(toggle_);
  speakNow_ = heading(T("Say something. You’ll hear the translation from your speakers."), this, 1.0);
  speakNow_->setObjectName("speakNow");
  speakNow_->setWordWrap(true);
  layout->addWidget(speakNow_);
  captions_ = hint({}, this);
  captions_->setObjectName("playgroundCaption");
  layout->addWidget(captions_);

  microphoneNotice_ = new QWidget(this);
  microphoneNotice_->setObjectName("microphoneDenied");
  auto* micLayout = new QVBoxLayout(microphoneNotice_);
  micLayout->setContentsMargins(0, 0, 0, 0);
  micLayout->addWidget(hint(T("Oskel needs your microphone. Turn it on in System Settings, then press Start "
                               "Translating."),
                            microphoneNotice_));
  micLayout->addWidget(button(T("Open System Settings"), microphoneNotice_, "openSystemSettings", [this] {
    if (actions_->openMicrophoneSettings) actions_->openMicrophoneSettings();
  }), 0, Qt::AlignLeft);
  layout->addWidget(microphoneNotice_);
  restarting_ = hint(T("Switching to your new settings…"), this);
  restarting_->setObjectName("playgroundRestarting");
  noEcho_ = hint(T("Echo cancellation is off for this microphone or speaker. Use headphones so the translation isn’t "
                    "picked up again."),
                 this);
  noEcho_->setObjectName("noEchoCancellation");
  message_ = new QLabel(this);
  message_->setObjectName("playgroundMessage");
  message_->setWordWrap(true);
  for (auto* label : {restarting_, noEcho_, message_}) layout->addWidget(label);
  layout->addStretch();

  auto* getStarted = button(T("Get Started"), this, "getStarted", [this] {
    if (actions_->getStarted) actions_->getStarted();
  });
  getStarted->setDefault(true);
  layout->addWidget(getStarted, 0, Qt::AlignRight);
  resize(460, 520);
  render(last_);
}

void OnboardingWindow::render(const ViewState& state) {
  last_ = state;
  selectLanguage(myLanguage_, state.settings.myLanguage);
  selectLanguage(theirLanguage_, state.settings.theirLanguage);
  const bool running = isRunning(state.playgroundState);
  toggle_->setText(T(translateTitle(state.playgroundState).c_str()));
  toggle_->setEnabled(!state.playgroundPreparing && (running || state.canStartPlayground));
  speakNow_->setVisible(running);
  microphoneNotice_->setVisible(state.microphoneDenied);
  restarting_->setVisible(state.playgroundRestarting);
  noEcho_->setVisible(running && !state.playgroundEchoCancellation);
  message_->setVisible(state.playgroundMessage.has_value());
  message_->setText(state.playgroundMessage ? qs(*state.playgroundMessage) : QString());
  const bool heard = !state.captions.empty() && running;
  captions_->setVisible(heard);
  if (heard) {
    const auto& line = state.captions.back();
    captions_->setText(qs(line.heard) + (line.said.empty() ? QString() : QStringLiteral("\n→ ") + qs(line.said)));
  }
}

void OnboardingWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (onClose_) onClose_();
}

}  // namespace oskel::views
