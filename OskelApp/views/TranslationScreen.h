#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QWidget>

#include "ViewState.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QShortcut;
class QSlider;
class QTimer;

namespace oskel::views {

// The main window's translation screen: mode, languages, devices, the turn
// picker, captions, start and stop with recording, options and the driver
// banner, all bound to the model through ViewState and ViewActions.
class TranslationScreen : public QWidget {
 public:
  using Now = std::function<std::chrono::system_clock::time_point()>;

  TranslationScreen(std::shared_ptr<const ViewActions> actions, Now now, QWidget* parent = nullptr);
  void render(const ViewState& state);
  // Refreshes the recording's elapsed time (once a second while recording).
  void tick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void build();
  QWidget* buildOptions();
  void edit(const std::function<void(ViewSettings&)>& change);
  void renderDevices(QComboBox* box, const std::vector<DeviceChoice>& choices, const std::string& defaultName,
                     const std::optional<std::string>& selected);
  void renderCaptions(const ViewState& state);
  void showLevels(std::optional<float> outgoing, std::optional<float> incoming);
  // Reads the levels about ten times a second, only while a session runs
  // and the screen is on view.
  void pollLevels();
  void syncLevelPoll();

  std::shared_ptr<const ViewActions> actions_;
  Now now_;
  ViewState last_;

  QButtonGroup* modeGroup_ = nullptr;
  QLabel* inPersonHint_ = nullptr;
  QComboBox* myLanguage_ = nullptr;
  QComboBox* theirLanguage_ = nullptr;
  QComboBox* microphone_ = nullptr;
  QComboBox* speaker_ = nullptr;
  QWidget* turnPicker_ = nullptr;
  QPushButton* myTurn_ = nullptr;
  QPushButton* theirTurn_ = nullptr;
  QShortcut* spaceTurn_ = nullptr;
  QWidget* captionsBox_ = nullptr;
  QLabel* captionsEmpty_ = nullptr;
  QListWidget* captionList_ = nullptr;
  QPushButton* copyCaptions_ = nullptr;
  QPushButton* saveCaptions_ = nullptr;
  QPushButton* translate_ = nullptr;
  QPushButton* record_ = nullptr;
  QWidget* meters_ = nullptr;
  QProgressBar* outgoingMeter_ = nullptr;
  QProgressBar* incomingMeter_ = nullptr;
  QTimer* levelPoll_ = nullptr;
  QWidget* savedRow_ = nullptr;
  QLabel* savedLabel_ = nullptr;
  QLabel* restarting_ = nullptr;
  QLabel* instructions_ = nullptr;
  QLabel* liveInstructions_ = nullptr;
  QLabel* error_ = nullptr;
  QCheckBox* voiceOver_ = nullptr;
  QWidget* voiceOverLevels_ = nullptr;
  QSlider* voiceOverLevel_ = nullptr;
  QLabel* voiceOverLevelText_ = nullptr;
  QCheckBox* ducking_ = nullptr;
  QSlider* duckLevel_ = nullptr;
  QLabel* duckLevelText_ = nullptr;
  QCheckBox* echo_ = nullptr;
  QCheckBox* room_ = nullptr;
  QCheckBox* group_ = nullptr;
  QCheckBox* captions_ = nullptr;
  QLabel* captionsSubtitle_ = nullptr;
  QWidget* driverBanner_ = nullptr;
  QLabel* driverText_ = nullptr;
  QPushButton* installDriver_ = nullptr;
};

}  // namespace oskel::views
