#pragma once

#include <memory>
#include <optional>

#include <QFrame>

#include "ViewState.h"

class QLabel;
class QPushButton;

namespace oskel::views {

// The strip at the top of the main window while the updater has something to say.
class UpdateBanner : public QFrame {
 public:
  explicit UpdateBanner(std::shared_ptr<const ViewActions> actions, QWidget* parent = nullptr);
  void render(const std::optional<update::State>& state, bool callRunning);

 private:
  std::shared_ptr<const ViewActions> actions_;
  QLabel* text_ = nullptr;
  QPushButton* update_ = nullptr;
};

}  // namespace oskel::views
