// A stand-in status-notifier watcher for a private session bus: it says a
// host is there, so Qt offers a tray, and keeps the items that register.
// Usage: status-notifier-watcher COMMAND [ARGS...] runs COMMAND once the
// watcher is on the bus and exits with its status.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QStringList>
#include <cstdio>

namespace {

class Watcher : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)

 public:
  bool hostRegistered() const { return true; }
  QStringList items() const { return items_; }
  int protocolVersion() const { return 0; }

 public slots:
  // An item names its bus name (then its object is at the usual path) or an
  // object path on the caller; it is kept as "NAME/PATH".
  void RegisterStatusNotifierItem(const QString& service) {
    const QString item = service.startsWith('/') ? message().service() + service : service + "/StatusNotifierItem";
    if (items_.contains(item)) return;
    items_ << item;
    emit StatusNotifierItemRegistered(item);
  }
  void RegisterStatusNotifierHost(const QString&) { emit StatusNotifierHostRegistered(); }

 signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierItemUnregistered(const QString& service);
  void StatusNotifierHostRegistered();
  void StatusNotifierHostUnregistered();

 private:
  QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QStringList command = application.arguments().mid(1);
  if (command.isEmpty()) {
    std::fprintf(stderr, "usage: status-notifier-watcher COMMAND [ARGS...]\n");
    return 2;
  }
  Watcher watcher;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject("/StatusNotifierWatcher", &watcher, QDBusConnection::ExportAllContents) ||
      !bus.registerService("org.kde.StatusNotifierWatcher")) {
    std::fprintf(stderr, "status-notifier-watcher: cannot register on the session bus\n");
    return 2;
  }
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  QObject::connect(&child, &QProcess::finished, &application, [&](int code, QProcess::ExitStatus how) {
    QCoreApplication::exit(how == QProcess::NormalExit ? code : 1);
  });
  QObject::connect(&child, &QProcess::errorOccurred, &application, [&](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) QCoreApplication::exit(127);
  });
  child.start(command.takeFirst(), command);
  return QCoreApplication::exec();
}

#include "StatusNotifierWatcher.moc"
