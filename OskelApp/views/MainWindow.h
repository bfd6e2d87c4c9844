#pragma once

#include <memory>

#include <QMainWindow>

#include "TranslationScreen.h"
#include "ViewState.h"

class QLabel;
class QPushButton;
class QSettings;
class QStackedWidget;
class QTimer;

namespace oskel::views {

class ApiKeyScreen;
class RecordingsScreen;
class UpdateBanner;

// The main window: update banner, header with the status pill, one of the
// translation, recordings and API-key screens, and the footer.
class MainWindow : public QMainWindow {
 public:
  MainWindow(std::shared_ptr<const ViewActions> actions, TranslationScreen::Now now, QWidget* parent = nullptr);
  void render(const ViewState& state);
  void showApiKeyScreen();
  // Size and position are kept in `settings` under "OskelMainWindow".
  bool restoreFrame(QSettings& settings);
  void saveFrame(QSettings& settings) const;
  // Runs after the user closed the window (it is only hidden).
  void setOnClose(std::function<void()> closed) { onClose_ = std::move(closed); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void showScreen();

  std::shared_ptr<const ViewActions> actions_;
  std::function<void()> onClose_;
  ViewState last_;
  bool editingKey_ = false;
  UpdateBanner* banner_ = nullptr;
  QLabel* pill_ = nullptr;
  QStackedWidget* screens_ = nullptr;
  TranslationScreen* translation_ = nullptr;
  RecordingsScreen* recordings_ = nullptr;
  ApiKeyScreen* apiKey_ = nullptr;
  QWidget* translationPage_ = nullptr;
  QPushButton* recordingsButton_ = nullptr;
  QLabel* version_ = nullptr;
  QTimer* clock_ = nullptr;
};

}  // namespace oskel::views
