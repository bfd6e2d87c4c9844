#include "UpdateBanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "StateTexts.h"
#include "Widgets.h"

namespace oskel::views {

UpdateBanner::UpdateBanner(std::shared_ptr<const ViewActions> actions, QWidget* parent)
    : QFrame(parent), actions_(std::move(actions)) {
  setObjectName("updateBanner");
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::AlternateBase);
  auto* layout = new QHBoxLayout(this);
  text_ = new QLabel(this);
  text_->setObjectName("updateBannerText");
  text_->setWordWrap(true);
  update_ = button(T("Update"), this, "updateButton", [this] {
    if (actions_->beginUpdate) actions_->beginUpdate();
  });
  layout->addWidget(text_, 1);
  layout->addWidget(update_);
  setVisible(false);
}

void UpdateBanner::render(const std::optional<update::State>& state, bool callRunning) {
  const auto text = state ? bannerText(*state, callRunning) : std::nullopt;
  setVisible(text.has_value());
  if (!text) return;
  text_->setText(qs(*text));
  const auto release = update::releaseOf(*state);
  const bool offer = release && (std::holds_alternative<update::Available>(*state) ||
                                 std::holds_alternative<update::Failed>(*state));
  update_->setVisible(offer);
  if (release) update_->setToolTip(T("Download and install Oskel %1").arg(qs(release->version)));
}

}  // namespace oskel::views
