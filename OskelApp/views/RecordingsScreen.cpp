#include "RecordingsScreen.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "StateTexts.h"
#include "Widgets.h"

namespace oskel::views {

RecordingsScreen::RecordingsScreen(std::shared_ptr<const ViewActions> actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)) {
  setObjectName("recordingsScreen");
  auto* layout = new QVBoxLayout(this);
  auto* head = new QHBoxLayout;
  auto* back = button(QStringLiteral("‹ ") + T("Back"), this, "recordingsBack", [this] {
    if (actions_->showRecordings) actions_->showRecordings(false);
  });
  back->setShortcut(QKeySequence(Qt::Key_Escape));
  head->addWidget(back);
  head->addWidget(heading(T("Recordings"), this), 1);
  head->addWidget(button(T("Show Folder"), this, "showFolder", [this] {
    if (actions_->revealRecordingsFolder) actions_->revealRecordingsFolder();
  }));
  layout->addLayout(head);
  layout->addWidget(hint(T("Stereo WAV, 48 kHz. Left channel: what they heard · Right channel: what you heard. Files "
                            "live in ~/Music/Oskel Recordings."),
                         this));
  empty_ = new QWidget(this);
  empty_->setObjectName("noRecordings");
  auto* emptyLayout = new QVBoxLayout(empty_);
  emptyLayout->addWidget(heading(T("No recordings yet"), empty_, 1.0), 0, Qt::AlignHCenter);
  emptyLayout->addWidget(hint(T("While a call is live, press the record button next to Stop. Each call is saved as a "
                                 "WAV file."),
                              empty_));
  layout->addWidget(empty_);
  list_ = new QListWidget(this);
  list_->setObjectName("recordingList");
  layout->addWidget(list_, 1);
  layout->addStretch();
}

void RecordingsScreen::render(const ViewState& state) {
  empty_->setVisible(state.recordings.empty());
  list_->setVisible(!state.recordings.empty());
  if (state.recordings == shown_) return;
  shown_ = state.recordings;
  list_->clear();
  for (const auto& file : shown_) {
    auto* row = new QWidget(list_);
    auto* rowLayout = new QHBoxLayout(row);
    const auto when = QDateTime::fromSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::seconds>(file.date.time_since_epoch()).count());
    auto* text = new QLabel(QStringLiteral("%1\n%2 · %3")
                                .arg(QLocale().toString(when, QLocale::ShortFormat),
                                     qs(elapsed(static_cast<std::int64_t>(file.duration))),
                                     qs(file.languages.value_or(""))),
                            row);
    rowLayout->addWidget(text, 1);
    rowLayout->addWidget(button(T("Show in Folder"), row, "revealRecording", [this, url = file.url] {
      if (actions_->reveal) actions_->reveal(url);
    }));
    auto* item = new QListWidgetItem(list_);
    item->setSizeHint(row->sizeHint());
    list_->setItemWidget(item, row);
  }
}

}  // namespace oskel::views
