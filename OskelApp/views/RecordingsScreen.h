#pragma once

#include <memory>

#include <QWidget>

#include "ViewState.h"

class QLabel;
class QListWidget;

namespace oskel::views {

// The list of recorded calls, newest first, each with a way to its file.
class RecordingsScreen : public QWidget {
 public:
  explicit RecordingsScreen(std::shared_ptr<const ViewActions> actions, QWidget* parent = nullptr);
  void render(const ViewState& state);

 private:
  std::shared_ptr<const ViewActions> actions_;
  std::vector<Recordings::File> shown_;
  QWidget* empty_ = nullptr;
  QListWidget* list_ = nullptr;
};

}  // namespace oskel::views
