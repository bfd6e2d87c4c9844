#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "ViewState.h"

class QLineEdit;

namespace oskel::views {

// Entering the service API key. The draft lives only in the field; saving
// hands it to the model, which keeps it in the Secret Service.
class ApiKeyScreen : public QWidget {
 public:
  ApiKeyScreen(std::shared_ptr<const ViewActions> actions, std::function<void()> done, QWidget* parent = nullptr);
  // Clears the draft and focuses the field.
  void begin();

 private:
  std::shared_ptr<const ViewActions> actions_;
  std::function<void()> done_;
  QLineEdit* key_ = nullptr;
};

}  // namespace oskel::views
