#include "app/single_window.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include <unistd.h>

namespace voxtrel {
namespace {

constexpr char kCall[] = "front\n";
constexpr char kAnswer[] = "ok\n";

}  // namespace

QString SingleWindowName(const std::string& program_folder) {
  // A path may be longer than a socket name can be; its hash names the folder well enough.
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray::fromStdString(program_folder), QCryptographicHash::Sha1)
          .toHex()
          .left(16);
  return QStringLiteral("voxtrel-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

SingleWindowServer::SingleWindowServer(QObject* parent) : QObject(parent) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine()) return;
        if (socket->readLine() != kCall) return socket->disconnectFromServer();
        if (on_call_) on_call_();
        socket->write(kAnswer);
        socket->flush();
      });
    }
  });
}

bool SingleWindowServer::Listen(const QString& name, std::function<void()> on_call) {
  on_call_ = std::move(on_call);
  // Only the holder of the instance lock gets here, so a socket of that name is a dead one's.
  QLocalServer::removeServer(name);
  return server_.listen(name);
}

bool CallRunningWindow(const QString& name, int timeout_ms) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeout_ms)) return false;
  socket.write(kCall);
  if (!socket.waitForBytesWritten(timeout_ms)) return false;
  while (!socket.canReadLine())
    if (!socket.waitForReadyRead(timeout_ms)) return false;
  return socket.readLine() == kAnswer;
}

}  // namespace voxtrel
