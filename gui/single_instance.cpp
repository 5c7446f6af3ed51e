#include "gui/single_instance.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>
#include <unistd.h>

namespace kestro::gui {

namespace {

constexpr const char* kRaise = "raise\n";

QString NameFor(const std::filesystem::path& settingsDir) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::weakly_canonical(settingsDir, ec);
  if (ec) dir = settingsDir;
  QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(dir.string()), QCryptographicHash::Sha1).toHex();
  return QStringLiteral("kestro-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash.left(16)));
}

}  // namespace

SingleInstance::SingleInstance(const std::filesystem::path& settingsDir, QObject* parent)
    : QObject(parent),
      serverName_(NameFor(settingsDir)),
      lock_(QString::fromStdString((settingsDir / "kestro.lock").string())) {
  // A lock is stale only when its program is gone, never by its age.
  lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() { Release(); }

bool SingleInstance::AskRunningToRaise() {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(500)) return false;
  socket.write(kRaise);
  socket.waitForBytesWritten(500);
  socket.disconnectFromServer();
  return true;
}

bool SingleInstance::Claim() {
  if (!lock_.tryLock(0)) {
    // The first instance may be starting up right now: give it a moment to
    // listen.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 3000) {
      if (AskRunningToRaise()) return false;
      if (lock_.tryLock(0)) break;
      QThread::msleep(50);
    }
    if (!lock_.isLocked()) return false;
  }
  QLocalServer::removeServer(serverName_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(serverName_);
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        if (s->readAll().contains("raise")) emit raiseRequested();
      });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  return true;
}

void SingleInstance::Release() {
  if (server_) {
    server_->close();
    server_.reset();
  }
  if (lock_.isLocked()) lock_.unlock();
}

}  // namespace kestro::gui
