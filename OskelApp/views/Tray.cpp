#include "Tray.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QSystemTrayIcon>

#include "Widgets.h"

namespace oskel::views {

namespace {

QIcon baseIcon() {
  const QIcon themed = QIcon::fromTheme(QStringLiteral("com.brindlework.oskel"));
  return themed.isNull() ? QApplication::style()->standardIcon(QStyle::SP_MediaVolume) : themed;
}

// The badge drawn over the lower part of the icon.
QIcon badged(const std::string& badge) {
  QPixmap pixmap = baseIcon().pixmap(64, 64);
  if (badge.empty()) return QIcon(pixmap);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect strip(0, 38, 64, 26);
  painter.setBrush(badge == "LIVE" ? QColor(0xc0, 0x1c, 0x28) : QColor(0x35, 0x84, 0xe4));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(strip, 8, 8);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(badge.size() > 4 ? 14 : 18);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(strip, Qt::AlignCenter, qs(badge));
  return QIcon(pixmap);
}

}  // namespace

std::unique_ptr<Tray> Tray::createIfAvailable(Commands commands) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return nullptr;
  return std::make_unique<Tray>(std::move(commands));
}

Tray::Tray(Commands commands) : commands_(std::move(commands)), menu_(std::make_unique<QMenu>()) {
  const auto add = [this](const char* title, std::function<void()> run) {
    QAction* action = menu_->addAction(T(title));
    QObject::connect(action, &QAction::triggered, action, [run = std::move(run)] {
      if (run) run();
    });
    return action;
  };
  toggle_ = add("Start Translating", commands_.toggleTranslation);
  record_ = add("Record Call", commands_.toggleRecording);
  menu_->addSeparator();
  add("Show Oskel", commands_.showMainWindow);
  add("Quit", commands_.quit);
  icon_ = std::make_unique<QSystemTrayIcon>();
  icon_->setContextMenu(menu_.get());
  QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(), [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger && commands_.showMainWindow) commands_.showMainWindow();
  });
  reflect("", "Start Translating", "Record Call", false);
  icon_->show();
}

Tray::~Tray() = default;

void Tray::reflect(const std::string& badge, const std::string& toggleTitle, const std::string& recordTitle,
                   bool recordEnabled) {
  toggle_->setText(T(toggleTitle.c_str()));
  record_->setText(T(recordTitle.c_str()));
  record_->setEnabled(recordEnabled);
  if (badge == badge_) return;
  badge_ = badge;
  icon_->setIcon(badged(badge));
  icon_->setToolTip(badge.empty() ? QStringLiteral("Oskel") : QStringLiteral("Oskel — ") + qs(badge));
}

}  // namespace oskel::views
