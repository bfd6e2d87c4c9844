#pragma once

#include <memory>

#include <QWidget>

#include "ViewState.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace oskel::views {

// "Updating Oskel": the update's progress. While the package is downloaded,
// verified or installed, or the application restarts, it cannot be closed.
class UpdateWindow : public QWidget {
 public:
  explicit UpdateWindow(std::shared_ptr<const ViewActions> actions, QWidget* parent = nullptr);
  void reflect(const update::State& state);
  bool closable() const { return closable_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::shared_ptr<const ViewActions> actions_;
  bool closable_ = true;
  bool downloading_ = false;
  QLabel* title_ = nullptr;
  QLabel* detail_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* tryAgain_ = nullptr;
};

}  // namespace oskel::views
