#include "UpdateWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "StateTexts.h"
#include "Widgets.h"

namespace oskel::views {

UpdateWindow::UpdateWindow(std::shared_ptr<const ViewActions> actions, QWidget* parent)
    : QWidget(parent, Qt::Window), actions_(std::move(actions)) {
  setObjectName("UpdateWindow");
  setWindowTitle(T("Updating Oskel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 16);
  title_ = heading({}, this);
  title_->setObjectName("updateTitle");
  detail_ = hint({}, this);
  detail_->setObjectName("updateDetail");
  detail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("updateProgress");
  progress_->setTextVisible(false);
  layout->addWidget(title_);
  layout->addWidget(progress_);
  layout->addWidget(detail_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  cancel_ = button(T("Cancel"), this, "updateCancel", [this] {
    if (downloading_) {
      if (actions_->cancelUpdate) actions_->cancelUpdate();
    } else if (closable_) {
      hide();
    }
  });
  tryAgain_ = button(T("Try Again"), this, "updateTryAgain", [this] {
    if (actions_->beginUpdate) actions_->beginUpdate();
  });
  buttons->addWidget(cancel_);
  buttons->addWidget(tryAgain_);
  layout->addLayout(buttons);
  setMinimumWidth(380);
  reflect(update::Checking{});
}

void UpdateWindow::reflect(const update::State& state) {
  title_->setText(qs(progressTitle(state)));
  detail_->setText(qs(progressDetail(state)));
  const auto* downloading = std::get_if<update::Downloading>(&state);
  downloading_ = downloading != nullptr;
  const bool busy = update::isBusy(state);
  progress_->setVisible(busy || std::holds_alternative<update::Checking>(state));
  if (downloading && downloading->total > 0) {
    progress_->setRange(0, 1000);
    progress_->setValue(static_cast<int>(std::min<std::uint64_t>(1000, downloading->received * 1000 / downloading->total)));
  } else {
    progress_->setRange(0, 0);  // busy without a measure
  }
  cancel_->setVisible(!busy || downloading_);
  const auto* failed = std::get_if<update::Failed>(&state);
  tryAgain_->setVisible(failed && failed->release);

  if (closable_ != !busy) {
    closable_ = !busy;
    const bool shown = isVisible();
    setWindowFlag(Qt::CustomizeWindowHint, true);
    setWindowFlag(Qt::WindowTitleHint, true);
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowCloseButtonHint, closable_);
    // Changing the flags hides a window: put it back.
    if (shown) show();
  }
  if (std::holds_alternative<update::UpToDate>(state) && isVisible()) hide();
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
  // A window manager that ignores the missing close button still cannot close it.
  if (closable_) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace oskel::views
