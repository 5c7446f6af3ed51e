#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/wire.h"

namespace kestro::sim {

namespace {

bool SocketInUse(const sockaddr_un& addr) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool used = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return used;
}

}  // namespace

bool ServeSocket(SimPlayer& player, const std::string& socketPath, const volatile std::sig_atomic_t* stop,
                 std::string* error) {
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) {
    if (error) *error = "socket path too long: " + socketPath;
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
  if (SocketInUse(addr)) {
    if (error) *error = "another simulator listens on " + socketPath;
    return false;
  }
  unlink(socketPath.c_str());
  int lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(lfd, 8) != 0) {
    if (error) *error = "cannot listen on " + socketPath + ": " + std::strerror(errno);
    if (lfd >= 0) close(lfd);
    return false;
  }

  int cfd = -1;
  std::string outbuf;
  auto hangUp = [&]() {
    if (cfd < 0) return;
    close(cfd);
    cfd = -1;
    outbuf.clear();
    player.Disconnect();
  };
  auto flush = [&]() {
    while (cfd >= 0 && !outbuf.empty()) {
      ssize_t n = send(cfd, outbuf.data(), outbuf.size(), MSG_NOSIGNAL);
      if (n > 0) {
        outbuf.erase(0, static_cast<size_t>(n));
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
      } else {
        hangUp();
      }
    }
  };

  // Reads what the host sent, answers it, and notices a host that left.
  auto service = [&]() {
    uint8_t buf[4096];
    while (cfd >= 0) {
      ssize_t got = read(cfd, buf, sizeof buf);
      if (got > 0) {
        player.FromHost(buf, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
      hangUp();
    }
    if (cfd < 0) return;
    while (player.Pending() > 0) {
      size_t k = player.TakeOutput(buf, sizeof buf);
      outbuf.append(reinterpret_cast<char*>(buf), k);
    }
    flush();
    if (cfd >= 0 && player.HungUp() && outbuf.empty()) hangUp();
  };

  while (!*stop) {
    pollfd fds[2];
    nfds_t n = 0;
    if (cfd >= 0) fds[n++] = {cfd, static_cast<short>(POLLIN | (outbuf.empty() ? 0 : POLLOUT)), 0};
    fds[n++] = {lfd, POLLIN, 0};
    int r = poll(fds, n, 100);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    if (cfd >= 0 && fds[0].revents) {
      if (fds[0].revents & POLLOUT) flush();
      service();
    }
    if (fds[n - 1].revents & POLLIN) {
      int nfd;
      while ((nfd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        // A host that closed and reconnected at once must find its old
        // connection gone before the new one is judged.
        if (cfd >= 0) service();
        if (cfd >= 0 || !player.attached) {
          close(nfd);  // busy, as an open device is
          continue;
        }
        cfd = nfd;
        player.Connect();
        outbuf = SimGreeting(player.config().as);
        flush();
      }
    }
  }
  hangUp();
  close(lfd);
  unlink(socketPath.c_str());
  return true;
}

}  // namespace kestro::sim
