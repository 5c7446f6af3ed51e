#include "gui/program.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "context/install_folder.h"
#include "gui/file_import.h"
#include "gui/look.h"
#include "gui/main_window.h"
#include "gui/simulated_player.h"
#include "gui/single_instance.h"
#include "gui/splash.h"
#include "gui/text_mode.h"
#include "platform/paths.h"
#include "platform/terminal_ui.h"
#include "shell/language.h"

namespace kestro::gui {

namespace fs = std::filesystem;

const char* const kProgramUsage =
    "Usage: kestro [--simulated] [--no-splash] [FILE...]\n"
    "\n"
    "Kestro's window: the PC song folder and the connected Zumbla side by side.\n"
    "Song files given (.MID .KAR .MF3 .MF4 .MP3) are imported into the PC song\n"
    "folder as if dropped on it.\n"
    "  --simulated   connect to a simulated player (zumbla-sim, started and stopped\n"
    "                with the window; its 64 MB card lives in the settings folder)\n"
    "  --no-splash   open the window without the splash\n"
    "\n"
    "Settings: Zumbla.INI in $ZUMBLA_HOME, else ~/.config/zumbla.\n"
    "Without a desktop it lists both song lists as text; kestro-cli does the rest.\n";

std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args, std::string* error) {
  ProgramOptions o;
  for (const std::string& a : args) {
    if (a == "--simulated") o.simulated = true;
    else if (a == "--no-splash") o.splash = false;
    else if (a == "--help" || a == "-h") o.help = true;
    else if (!a.empty() && a[0] != '-') o.files.push_back(a);
    else {
      *error = "unknown argument " + a;
      return std::nullopt;
    }
  }
  return o;
}

Program::Program(ProgramOptions options) : options_(options), profile_(ProfilePath()) {}

Program::~Program() { Finish(); }

void Program::Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

std::optional<int> Program::Start() {
  // Without an installation the first run lays one out from the shipped data
  // and puts Kestro in the menu and on the desktop.
  const ShortcutPlaces places{ExecutableDir(), CurrentUserFolders()};
  auto installDir = InstallFolderOrFirstRun(profile_, ShippedDataDir(), &places).installDir;
  if (!installDir) {
    ui_.SystemMessage("Invalid Installation!", "Kestro - Error:", mb::kIconStop);
    return 1;
  }
  // A new user gets the desktop's language.
  SetFirstRunLanguage(profile_, MessagesLocale());
  if (!dict_.Load(*installDir, profile_, ui_)) return 1;
  ui_.SetDictionary(&dict_);
  env_ = std::make_unique<Env>(Env{ui_, clock_, profile_, dict_, *installDir});
  Env& env = *env_;
  if (env.GetInt(settings::kUsbAgent) != 0) {
    ui_.SystemMessage(env.T("MSG_KESTRODL_ACTIVE"), env.T("MSG_CAPTION_WARNING"), mb::kIconInformation);
    return 1;
  }
  // The liveness counter starts at 1 and is written at once.
  int liveness = 2;
  env.WriteInt(settings::kKestroActive, liveness);

  instance_ = std::make_unique<SingleInstance>(SettingsDir());
  if (!instance_->Claim()) return 0;
  std::error_code ec;
  fs::current_path(env.installDir, ec);

  // The splash stays up while the window gets ready, however long a first
  // run takes, and at least its display time.
  QElapsedTimer splashShown;
  if (options_.splash) {
    Wait(kSplashPauseMs);
    splash_ = new Splash(FromLatin1(env.T("MSG_VERSION")), 0);
    splash_->show();
    splash_->raise();
    splashShown.start();
    QCoreApplication::processEvents();
  }

  SimulatedPlayer::ForgetDeadSocket(profile_, SettingsDir());
  if (options_.simulated) {
    sim_ = std::make_unique<SimulatedPlayer>(profile_, SettingsDir());
    std::string problem;
    if (!sim_->Start(&problem)) {
      if (splash_) delete splash_.data();
      ui_.SystemMessage(problem, "Kestro - Error:", mb::kIconStop);
      return 1;
    }
    if (sim_->NewCard()) SimulatedPlayer::FormatNewCard(env);
  }

  window_ = std::make_unique<MainWindow>(env, ProgramChannels(env, ftdi_));
  window_->tick.liveness = liveness;
  QObject::connect(instance_.get(), &SingleInstance::raiseRequested, window_.get(), &MainWindow::BringToFront);
  ImportDemoSongs(env, ShippedDataDir() / "demo", window_->app().lib.pcFolder);
  window_->Prepare();
  if (splash_) {
    if (splashShown.elapsed() < kSplashMs) Wait(static_cast<int>(kSplashMs - splashShown.elapsed()));
    if (splash_) delete splash_.data();
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
  window_->StartTimers();
  if (!options_.files.empty()) {
    QStringList files;
    for (const auto& f : options_.files) files << QString::fromStdString(fs::absolute(f).string());
    QTimer::singleShot(0, window_.get(), [w = window_.get(), files] { w->FilesDropped(ListSide::Pc, files); });
  }
  return std::nullopt;
}

void Program::Exec() {
  if (!window_ || window_->Closed()) return;
  QEventLoop loop;
  QObject::connect(window_.get(), &MainWindow::closed, &loop, &QEventLoop::quit);
  loop.exec();
}

void Program::Finish() {
  if (finished_) return;
  finished_ = true;
  bool started = window_ != nullptr;
  if (splash_) delete splash_.data();
  window_.reset();
  if (env_ && started) {
    env_->WriteInt(settings::kKestroActive, 0);
    env_->WriteInt(settings::kKestroShutdown, 0);
  }
  if (instance_) instance_->Release();
  sim_.reset();
}

int RunWithoutDisplay(const ProgramOptions& options) {
  TerminalUi ui(AnswerMode::No);
  RealClock clock;
  ProfileFile profile(ProfilePath());
  auto installDir = InstallFolderOrFirstRun(profile, ShippedDataDir()).installDir;
  if (!installDir) {
    ui.SystemMessage("Invalid Installation!", "Kestro - Error:", mb::kIconStop);
    return 1;
  }
  SetFirstRunLanguage(profile, MessagesLocale());
  Dictionary dict;
  if (!dict.Load(*installDir, profile, ui)) return 1;
  Env env{ui, clock, profile, dict, *installDir};
  SimulatedPlayer::ForgetDeadSocket(profile, SettingsDir());
  std::unique_ptr<SimulatedPlayer> sim;
  if (options.simulated) {
    sim = std::make_unique<SimulatedPlayer>(profile, SettingsDir());
    std::string problem;
    if (!sim->Start(&problem)) {
      std::fprintf(stderr, "%s\n", problem.c_str());
      return 1;
    }
    if (sim->NewCard()) SimulatedPlayer::FormatNewCard(env);
  }
  ImportDemoSongs(env, ShippedDataDir() / "demo", env.GetFolder(settings::kOldMf4));
  PrintWhatTheWindowShows(env, stdout);
  return 0;
}

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char c = 1;
  // Nothing more can be done in a signal handler if the pipe is full.
  ssize_t ignored = write(g_signalPipe[1], &c, 1);
  (void)ignored;
}

}  // namespace

void CloseOnSignals(MainWindow* window) {
  if (g_signalPipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char c;
    ssize_t ignored = read(g_signalPipe[0], &c, 1);
    (void)ignored;
    window->close();
  });
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

}  // namespace kestro::gui
