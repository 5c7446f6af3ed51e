// The simulated player's socket, standing in for the FTDI or the bulk
// device. Every open is a new connection; the simulator greets it with a
// 16-byte line naming the transport it plays ("ZUMBLA-SIM ftdi\n" or
// "ZUMBLA-SIM bulk\n"), and the channel opens only when that is the
// transport it stands for. After the greeting the connection carries the
// player's byte stream both ways. A connection the simulator refuses (it
// serves one at a time) closes without a greeting.
#pragma once

#include <string>

#include "link/channel.h"
#include "link/wire.h"

namespace kestro {

class SocketChannel final : public ByteChannel {
 public:
  static constexpr uint32_t kGreetingTimeoutMs = 1000;

  SocketChannel(std::string socketPath, Transport standsFor)
      : path_(std::move(socketPath)), transport_(standsFor) {}
  ~SocketChannel() override;
  SocketChannel(const SocketChannel&) = delete;
  SocketChannel& operator=(const SocketChannel&) = delete;

  bool Open(IoWait& wait) override;
  bool Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  // Real time: a socket to another process cannot run on a virtual clock.
  IoResult Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) override;
  IoResult Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) override;

 private:
  std::string path_;
  Transport transport_;
  int fd_ = -1;
};

}  // namespace kestro
