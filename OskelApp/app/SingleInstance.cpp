#include "SingleInstance.h"

#include <unistd.h>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdlib>

namespace oskel::app {

namespace {

constexpr int connectTimeoutMs = 1000;

QByteArray encode(const SingleInstance::Message& message) {
  QByteArray bytes;
  for (const auto& part : message) {
    bytes += QByteArray::fromStdString(part);
    bytes += '\0';
  }
  return bytes;
}

SingleInstance::Message decode(const QByteArray& bytes) {
  SingleInstance::Message message;
  for (const auto& part : bytes.split('\0')) message.push_back(part.toStdString());
  if (!message.empty() && message.back().empty()) message.pop_back();
  return message;
}

}  // namespace

std::string SingleInstance::defaultName() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
    return std::string(runtime) + "/oskel.socket";
  return "oskel-" + std::to_string(::getuid());
}

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tell(const Message& message) const {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(name_));
  if (!socket.waitForConnected(connectTimeoutMs)) return false;
  socket.write(encode(message));
  if (!socket.waitForBytesWritten(connectTimeoutMs)) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(connectTimeoutMs);
  return true;
}

bool SingleInstance::claim(const Message& message, Handler handler) {
  if (tell(message)) return false;
  handler_ = std::move(handler);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const QString name = QString::fromStdString(name_);
  if (!server_->listen(name)) {
    // Nobody answered, so the socket is a crashed instance's leftover.
    QLocalServer::removeServer(name);
    server_->listen(name);
  }
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] { *buffer += socket->readAll(); });
      QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket, buffer] {
        *buffer += socket->readAll();
        socket->deleteLater();
        if (handler_) handler_(decode(*buffer));
      });
    }
  });
  return true;
}

}  // namespace oskel::app
