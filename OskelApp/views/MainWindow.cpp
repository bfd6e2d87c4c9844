#include "MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "ApiKeyScreen.h"
#include "RecordingsScreen.h"
#include "StateTexts.h"
#include "UpdateBanner.h"
#include "Widgets.h"

namespace oskel::views {

namespace {

constexpr int windowWidth = 392;
constexpr const char* frameKey = "OskelMainWindow/geometry";

QColor pillColour(const TranslatorState& state) {
  namespace TS = TranslatorStates;
  if (std::holds_alternative<TS::Live>(state)) return {0x26, 0xa2, 0x69};
  if (std::holds_alternative<TS::Passthrough>(state)) return {0x35, 0x84, 0xe4};
  if (std::holds_alternative<TS::Failed>(state)) return {0xc0, 0x1c, 0x28};
  if (std::holds_alternative<TS::Idle>(state)) return {0x77, 0x76, 0x7b};
  return {0xe5, 0xa5, 0x0a};
}

}  // namespace

MainWindow::MainWindow(std::shared_ptr<const ViewActions> actions, TranslationScreen::Now now, QWidget* parent)
    : QMainWindow(parent), actions_(std::move(actions)) {
  setObjectName("OskelMainWindow");
  setWindowTitle(QStringLiteral("Oskel"));
  setWindowIcon(QIcon::fromTheme(QStringLiteral("com.brindlework.oskel")));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(12, 8, 12, 8);

  banner_ = new UpdateBanner(actions_, central);
  layout->addWidget(banner_);

  // Header.
  auto* header = new QHBoxLayout;
  auto* icon = new QLabel(central);
  const QIcon appIcon = windowIcon().isNull() ? style()->standardIcon(QStyle::SP_MediaVolume) : windowIcon();
  icon->setPixmap(appIcon.pixmap(36, 36));
  header->addWidget(icon);
  auto* names = new QVBoxLayout;
  names->addWidget(heading(QStringLiteral("Oskel"), central, 1.4));
  names->addWidget(hint(T("Live interpreter for your calls"), central));
  header->addLayout(names, 1);
  pill_ = new QLabel(central);
  pill_->setObjectName("statusPill");
  pill_->setAlignment(Qt::AlignCenter);
  pill_->setMinimumWidth(84);
  header->addWidget(pill_, 0, Qt::AlignTop);
  layout->addLayout(header);

  // Screens.
  screens_ = new QStackedWidget(central);
  translation_ = new TranslationScreen(actions_, std::move(now));
  auto* scroll = new QScrollArea(screens_);
  scroll->setWidget(translation_);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  translationPage_ = scroll;
  recordings_ = new RecordingsScreen(actions_, screens_);
  apiKey_ = new ApiKeyScreen(actions_, [this] {
    editingKey_ = false;
    showScreen();
  }, screens_);
  screens_->addWidget(translationPage_);
  screens_->addWidget(recordings_);
  screens_->addWidget(apiKey_);
  layout->addWidget(screens_, 1);

  // Footer.
  auto* footer = new QHBoxLayout;
  recordingsButton_ = button(T("Recordings"), central, "recordingsButton", [this] {
    if (actions_->showRecordings) actions_->showRecordings(true);
  });
  recordingsButton_->setToolTip(T("Recorded calls"));
  auto* keyButton = button(T("API key"), central, "apiKeyButton", [this] { showApiKeyScreen(); });
  keyButton->setToolTip(T("Change the OpenAI API key"));
  version_ = hint({}, central);
  version_->setObjectName("version");
  footer->addWidget(recordingsButton_);
  footer->addWidget(keyButton);
  footer->addStretch();
  footer->addWidget(version_);
  footer->addWidget(button(T("Quit"), central, "quitButton", [this] {
    if (actions_->quit) actions_->quit();
  }));
  layout->addLayout(footer);
  setCentralWidget(central);

  setMinimumSize(windowWidth, 480);
  setMaximumWidth(windowWidth + 160);
  resize(windowWidth, 760);

  clock_ = new QTimer(this);
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, translation_, &TranslationScreen::tick);
  render(last_);
}

void MainWindow::showApiKeyScreen() {
  editingKey_ = true;
  if (actions_->showRecordings && last_.showingRecordings) actions_->showRecordings(false);
  showScreen();
  apiKey_->begin();
}

void MainWindow::showScreen() {
  if (last_.showingRecordings) {
    editingKey_ = false;
    screens_->setCurrentWidget(recordings_);
  } else {
    screens_->setCurrentWidget(editingKey_ ? static_cast<QWidget*>(apiKey_) : translationPage_);
  }
}

void MainWindow::render(const ViewState& state) {
  last_ = state;
  banner_->render(state.update, isRunning(state.state));
  pill_->setText(T(statusLabel(state.state).c_str()));
  pill_->setStyleSheet(QStringLiteral("QLabel { background: %1; color: white; border-radius: 10px; padding: 3px 10px; "
                                      "font-weight: bold; }")
                           .arg(pillColour(state.state).name()));
  translation_->render(state);
  recordings_->render(state);
  recordingsButton_->setText(state.recordings.empty() ? T("Recordings")
                                                      : T("Recordings (%1)").arg(state.recordings.size()));
  version_->setText(qs(state.version));
  setWindowTitle(qs(views::windowTitle(state.state, state.callRestarting)));
  if (state.isRecording && !clock_->isActive()) clock_->start();
  if (!state.isRecording) clock_->stop();
  showScreen();
}

bool MainWindow::restoreFrame(QSettings& settings) {
  return restoreGeometry(settings.value(frameKey).toByteArray());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (onClose_) onClose_();
}

void MainWindow::saveFrame(QSettings& settings) const { settings.setValue(frameKey, saveGeometry()); }

}  // namespace oskel::views
