#pragma once

#include <memory>

#include <QWidget>

#include "ViewState.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace oskel::views {

// The first-run window: the playground with the two languages, its notices,
// and "Get Started".
class OnboardingWindow : public QWidget {
 public:
  explicit OnboardingWindow(std::shared_ptr<const ViewActions> actions, QWidget* parent = nullptr);
  void render(const ViewState& state);
  // Runs when the user closes the window (not when it is closed for them).
  void setOnClose(std::function<void()> closed) { onClose_ = std::move(closed); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::shared_ptr<const ViewActions> actions_;
  ViewState last_;
  std::function<void()> onClose_;
  QComboBox* myLanguage_ = nullptr;
  QComboBox* theirLanguage_ = nullptr;
  QLabel* speakNow_ = nullptr;
  QPushButton* toggle_ = nullptr;
  QLabel* message_ = nullptr;
  QWidget* microphoneNotice_ = nullptr;
  QLabel* restarting_ = nullptr;
  QLabel* noEcho_ = nullptr;
  QLabel* captions_ = nullptr;
};

}  // namespace oskel::views
