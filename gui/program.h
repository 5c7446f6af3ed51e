// The windowed program from start to end: the installation and the
// dictionary, the refusals (another program holds the player, another Kestro
// runs), the simulated player when asked for, the demo songs of a first run,
// the main window with its splash, and at the end the shared keys of
// Zumbla.INI put back to rest. The program and its end-to-end test run this
// same code.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "context/dictionary.h"
#include "context/env.h"
#include "gui/qt_ui.h"
#include "link/ftdi.h"
#include "platform/clock.h"
#include "platform/profile.h"

namespace kestro::gui {

class MainWindow;
class SimulatedPlayer;
class Splash;
class SingleInstance;

struct ProgramOptions {
  bool simulated = false;  // --simulated: start and use a simulated player
  bool splash = true;      // --no-splash: open the window at once
  bool help = false;
  // Song files to import into the PC song folder once the window is up (the
  // file manager's "Open with").
  std::vector<std::string> files;
};
// The options, or nothing (with the reason in `error`) for an unknown one.
std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args, std::string* error);
extern const char* const kProgramUsage;

class Program {
 public:
  static constexpr int kSplashPauseMs = 200;
  static constexpr int kSplashMs = 2500;

  explicit Program(ProgramOptions options);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up up to the shown window with its timers running. Nothing when the
  // window runs; else the exit status (1 start-up stopped, 0 another Kestro
  // runs and was brought to the front).
  std::optional<int> Start();
  // Runs until the window has closed.
  void Exec();
  // The end: the window gone, KESTROACTIVE and KESTROSHUTDOWN 0, the single
  // instance released, the simulated player stopped.
  void Finish();

  MainWindow* Window() const { return window_.get(); }
  QtUi& Ui() { return ui_; }
  Env* Environment() const { return env_.get(); }
  SimulatedPlayer* Simulator() const { return sim_.get(); }

 private:
  void Wait(int ms);

  ProgramOptions options_;
  QtUi ui_;
  RealClock clock_;
  ProfileFile profile_;
  Dictionary dict_;
  std::unique_ptr<Env> env_;
  std::unique_ptr<SingleInstance> instance_;
  std::unique_ptr<SimulatedPlayer> sim_;
  FtdiLibrary ftdi_;  // before the window: its FTDI channel refers to it
  std::unique_ptr<MainWindow> window_;
  QPointer<Splash> splash_;  // closes itself at a click
  bool finished_ = false;
};

// Without a display: the notice and the two lists as text. The exit status.
int RunWithoutDisplay(const ProgramOptions& options);

// SIGINT and SIGTERM close the window as the exit command does.
void CloseOnSignals(MainWindow* window);

}  // namespace kestro::gui
