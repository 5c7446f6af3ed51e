#include "gui/simulated_player.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "shell/app.h"

namespace kestro::gui {

namespace fs = std::filesystem;

namespace {

bool Answers(const std::string& path) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// Answers every question Yes (or OK) and shows nothing.
class AgreeingUi final : public Ui {
 public:
  void ShowGeneralMessage(std::string_view, std::string_view, std::string_view) override {}
  void CloseGeneralMessage() override {}
  std::optional<OpenFileResult> ChooseOpenFiles(const OpenFileRequest&) override { return std::nullopt; }
  std::optional<SaveFileResult> ChooseSaveFile(const SaveFileRequest&) override { return std::nullopt; }

 protected:
  int DoMessage(MessageRequest& req) override {
    switch (ButtonsForStyle(req.style)) {
      case Buttons::YesNo:
      case Buttons::YesNoCancel: return kIdYes;
      default: return kIdOk;
    }
  }
};

}  // namespace

SimulatedPlayer::SimulatedPlayer(ProfileFile& profile, const fs::path& settingsDir)
    : profile_(profile), folder_(settingsDir / "simulator"), socket_(SocketFor(settingsDir)) {}

SimulatedPlayer::~SimulatedPlayer() { Stop(); }

std::string SimulatedPlayer::SocketFor(const fs::path& settingsDir) {
  std::string in = (settingsDir / "simulator" / "zumbla.sock").string();
  if (in.size() < sizeof(sockaddr_un::sun_path)) return in;
  // A deep settings folder: the socket goes where its name fits.
  size_t h = std::hash<std::string>{}(settingsDir.string());
  return "/tmp/kestro-sim-" + std::to_string(getuid()) + "-" + std::to_string(h % 1000000007u) + ".sock";
}

void SimulatedPlayer::ForgetDeadSocket(ProfileFile& profile, const fs::path& settingsDir) {
  const auto& k = settings::kSimulator;
  std::string current = profile.GetString(k.section, k.name, "", 256);
  if (!current.empty() && current == SocketFor(settingsDir) && !Answers(current)) {
    profile.WriteString(k.section, k.name, "");
  }
}

bool SimulatedPlayer::Start(std::string* problem) {
  // Beside this program; a test program of the build tree finds it in bin/.
  fs::path program = ExecutableDir() / "zumbla-sim";
  std::error_code ec;
  if (!fs::exists(program, ec)) program = ExecutableDir().parent_path() / "bin" / "zumbla-sim";
  if (!fs::exists(program, ec)) {
    *problem = "zumbla-sim not found beside " + ExecutableDir().string();
    return false;
  }
  fs::create_directories(folder_, ec);
  if (ec) {
    *problem = "cannot create " + folder_.string() + ": " + ec.message();
    return false;
  }
  newCard_ = !fs::exists(folder_ / "card.img", ec);
  if (Answers(socket_)) {
    *problem = "a simulated player already answers on " + socket_;
    return false;
  }
  fs::remove(socket_, ec);

  std::vector<std::string> args = {program.string(), "--dir",  folder_.string(), "--socket",
                                   socket_,          "--mode", "card",           "--card-mb",
                                   std::to_string(kCardMb)};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // It ends with this program, however this program ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) {
    *problem = std::string("cannot start zumbla-sim: ") + std::strerror(errno);
    return false;
  }
  for (int i = 0; i < 500; ++i) {
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      *problem = "zumbla-sim stopped at once (see its message above)";
      return false;
    }
    if (Answers(socket_)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!Answers(socket_)) {
    Stop();
    *problem = "zumbla-sim does not answer on " + socket_;
    return false;
  }
  const auto& k = settings::kSimulator;
  previous_ = profile_.GetString(k.section, k.name, "", 256);
  // Left behind by a run that did not end properly.
  if (previous_ == socket_) previous_.clear();
  settingChanged_ = profile_.WriteString(k.section, k.name, socket_);
  return true;
}

void SimulatedPlayer::Stop() {
  if (settingChanged_) {
    const auto& k = settings::kSimulator;
    // Put back only what this run wrote; another program may have changed it.
    if (profile_.GetString(k.section, k.name, "", 256) == socket_) profile_.WriteString(k.section, k.name, previous_);
    settingChanged_ = false;
  }
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int st = 0;
    for (int i = 0; i < 300 && waitpid(pid_, &st, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (waitpid(pid_, &st, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &st, 0);
    }
    pid_ = -1;
  }
}

bool SimulatedPlayer::FormatNewCard(Env& env) {
  AgreeingUi ui;
  Env quiet{ui, env.clock, env.profile, env.dict, env.installDir};
  FtdiLibrary none;
  App app(quiet, ProgramChannels(quiet, none));
  return app.SettleMedium(10, 300) == 1;
}

}  // namespace kestro::gui
