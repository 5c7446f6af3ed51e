// zumbla-sim as a child process, for end-to-end tests over the socket.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestro::sim {

class SimProcess {
 public:
  // Starts `program` with "--dir DIR --socket SOCKET" and `extraArgs`, and
  // waits (up to 10 s) until the socket takes connections. Check Running().
  SimProcess(const std::filesystem::path& program, const std::filesystem::path& dir, const std::string& socket,
             const std::vector<std::string>& extraArgs = {});
  // Stops it (SIGTERM) and waits for it.
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Running() const { return ready_; }
  const std::string& socket() const { return socket_; }
  // SIGTERM and wait; the exit status, or -1.
  int Stop();

 private:
  pid_t pid_ = -1;
  std::string socket_;
  bool ready_ = false;
};

}  // namespace kestro::sim
