// kestro-sweeper: carries out the removal script that kestro-uninstall
// leaves in the settings folder. Started without arguments, after the
// uninstaller, with no window: its messages are message boxes on a desktop,
// lines on standard error without one.
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/terminal_ui.h"
#include "uninstall/qt_message_ui.h"
#include "uninstall/sweeper.h"

namespace {

bool HasDesktop() {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* s = std::getenv(v);
    if (s && *s) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestro;
  using namespace kestro::uninstall;
  std::unique_ptr<QApplication> app;
  std::unique_ptr<Ui> ui;
  std::function<void()> beep;
  if (HasDesktop()) {
    app = std::make_unique<QApplication>(argc, argv);
    ui = std::make_unique<QtMessageUi>();
    beep = [] { QApplication::beep(); };
  } else {
    ui = std::make_unique<TerminalUi>(AnswerMode::Yes);
    beep = [] {
      if (isatty(STDERR_FILENO)) {
        ssize_t ignored = write(STDERR_FILENO, "\a", 1);
        (void)ignored;
      }
    };
  }
  RealClock clock;
  const auto settingsDir = SettingsDir();
  ProfileFile settings(settingsDir / kProfileName);
  Sweeper sweeper(*ui, clock, beep, RootsFromSettings(settingsDir, settings));
  sweeper.Run();
  return 0;
}
