// One Kestro per user and settings folder. The first start holds a lock file
// in the settings folder and listens on a local socket named after the user
// and the folder; a later start finds the lock held, asks the first one
// through the socket to come to the front, and ends without a word. A lock
// left by a program that died is taken over.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>

namespace kestro::gui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstance(const std::filesystem::path& settingsDir, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this is the only instance (it then listens for later ones).
  // False when another runs; it has been asked to come to the front.
  bool Claim();
  // Gives the lock and the socket up.
  void Release();

  const QString& ServerName() const { return serverName_; }

 signals:
  // A later start asked for the window.
  void raiseRequested();

 private:
  bool AskRunningToRaise();

  QString serverName_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace kestro::gui
