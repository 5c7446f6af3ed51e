// kestro-uninstall: removes the user's Kestro (the uninstaller). Started
// without arguments.
#include <QApplication>
#include <string>

#include "context/dictionary.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "uninstall/qt_message_ui.h"
#include "uninstall/uninstall_dialog.h"
#include "uninstall/uninstaller.h"

int main(int argc, char** argv) {
  using namespace kestro;
  using namespace kestro::uninstall;
  QApplication app(argc, argv);
  QApplication::setApplicationName("kestro-uninstall");
  std::string id = kShortcuts[1].file;
  QApplication::setDesktopFileName(QString::fromStdString(id.substr(0, id.rfind(".desktop"))));

  QtMessageUi ui;
  RealClock clock;
  ProfileFile settings(ProfilePath());
  Dictionary dict;
  LoadUninstallDictionary(dict, ReadInstallFolder(settings), settings, ShippedDataDir(), ui);

  DetachedStarter starter;
  const auto programs = ExecutableDir();
  Uninstaller uninstaller(ui, clock, settings, dict, starter,
                          {SettingsDir(), CurrentUserFolders(), programs / "kestro-sweeper",
                           FromSystemPackage(programs)});
  UninstallDialog dialog(dict, clock, [&] { uninstaller.Removal(); },
                         QString::fromStdString((ShippedDataDir() / "art" / "MainIcon.svg").string()));
  const int result = dialog.exec() == 1 ? 1 : 0;
  uninstaller.AfterDialog(result);
  return 0;
}
