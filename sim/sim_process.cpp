#include "sim/sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace kestro::sim {

namespace {

bool Connectable(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

SimProcess::SimProcess(const std::filesystem::path& program, const std::filesystem::path& dir,
                       const std::string& socket, const std::vector<std::string>& extraArgs)
    : socket_(socket) {
  std::vector<std::string> args = {program.string(), "--dir", dir.string(), "--socket", socket};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    // Its banner would only clutter the test's output.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) return;
  for (int i = 0; i < 1000; ++i) {
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    if (Connectable(socket_)) {
      ready_ = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int SimProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
  ready_ = false;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

SimProcess::~SimProcess() { Stop(); }

}  // namespace kestro::sim
