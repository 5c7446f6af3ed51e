#include "link/socket_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace kestro {

namespace {

// Waits for `events` on fd until the deadline, pumping the user interface
// between short slices. False on time-out.
bool WaitFor(int fd, short events, uint64_t deadline, RealClock& clock, IoWait& wait) {
  while (true) {
    uint64_t now = clock.NowMs();
    if (now >= deadline) return false;
    int slice = static_cast<int>(std::min<uint64_t>(deadline - now, 10));
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, slice);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return true;  // let the read or write report it
    wait.WaitPump();
  }
}

}  // namespace

SocketChannel::~SocketChannel() { Close(); }

bool SocketChannel::Open(IoWait& wait) {
  if (fd_ >= 0) return false;
  sockaddr_un addr{};
  if (path_.empty() || path_.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path_.data(), path_.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  uint8_t hello[kSimGreetingSize];
  RealClock clock;
  uint64_t deadline = clock.NowMs() + kGreetingTimeoutMs;
  size_t got = 0;
  while (got < sizeof hello) {
    if (!WaitFor(fd_, POLLIN, deadline, clock, wait)) break;
    ssize_t n = read(fd_, hello + got, sizeof hello - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;
    }
  }
  std::string want = SimGreeting(transport_);
  if (got != sizeof hello || std::memcmp(hello, want.data(), sizeof hello) != 0) {
    Close();
    return false;
  }
  return true;
}

bool SocketChannel::Close() {
  if (fd_ < 0) return false;
  close(fd_);
  fd_ = -1;
  return true;
}

IoResult SocketChannel::Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) {
  if (fd_ < 0) return {IoStatus::Failed, 0};
  RealClock clock;
  uint64_t deadline = clock.NowMs() + timeoutMs;
  size_t moved = 0;
  while (moved < count) {
    ssize_t n = send(fd_, data + moved, count - moved, MSG_NOSIGNAL);
    if (n > 0) {
      moved += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFor(fd_, POLLOUT, deadline, clock, wait)) return {IoStatus::TimedOut, moved};
      continue;
    }
    return {IoStatus::Failed, moved};
  }
  return {IoStatus::Done, moved};
}

IoResult SocketChannel::Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) {
  if (fd_ < 0) return {IoStatus::Failed, 0};
  RealClock clock;
  uint64_t deadline = clock.NowMs() + timeoutMs;
  size_t moved = 0;
  while (moved < count) {
    ssize_t n = read(fd_, buffer + moved, count - moved);
    if (n > 0) {
      moved += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return {IoStatus::Failed, moved};  // the simulator hung up
    if (errno != EAGAIN && errno != EINTR) return {IoStatus::Failed, moved};
    if (!WaitFor(fd_, POLLIN, deadline, clock, wait)) return {IoStatus::TimedOut, moved};
  }
  return {IoStatus::Done, moved};
}

}  // namespace kestro
