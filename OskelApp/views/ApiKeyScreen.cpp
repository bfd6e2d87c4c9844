#include "ApiKeyScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Widgets.h"

namespace oskel::views {

ApiKeyScreen::ApiKeyScreen(std::shared_ptr<const ViewActions> actions, std::function<void()> done, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), done_(std::move(done)) {
  setObjectName("apiKeyScreen");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading(T("OpenAI API key"), this));
  key_ = new QLineEdit(this);
  key_->setObjectName("apiKeyField");
  key_->setEchoMode(QLineEdit::Password);
  key_->setPlaceholderText(QStringLiteral("sk-…"));
  key_->setAccessibleName(T("OpenAI API key"));
  layout->addWidget(key_);
  auto* link = new QLabel(QStringLiteral("<a href=\"https://platform.openai.com/api-keys\">%1</a>").arg(T("Get a key")),
                          this);
  link->setObjectName("getKey");
  link->setOpenExternalLinks(true);
  link->setTextInteractionFlags(Qt::TextBrowserInteraction);
  layout->addWidget(link);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* cancel = button(T("Cancel"), this, "cancelKey", [this] {
    key_->clear();
    if (done_) done_();
  });
  cancel->setShortcut(QKeySequence(Qt::Key_Escape));
  auto* save = button(T("Save"), this, "saveKey", [this] {
    const std::string key = key_->text().trimmed().toStdString();
    key_->clear();
    if (!key.empty() && actions_->setAPIKey) actions_->setAPIKey(key);
    if (done_) done_();
  });
  connect(key_, &QLineEdit::returnPressed, save, &QPushButton::click);
  buttons->addWidget(cancel);
  buttons->addWidget(save);
  layout->addLayout(buttons);
  layout->addStretch();
}

void ApiKeyScreen::begin() {
  key_->clear();
  key_->setFocus();
}

}  // namespace oskel::views
