// The simulated player plugged into a link in-process, like a real
// transport. A receive that the player cannot satisfy takes its whole
// time-out on the link's clock (on a VirtualClock: no real waiting) and
// fails; a player that hung up fails transfers at once.
#pragma once

#include "link/channel.h"
#include "sim/sim_player.h"

namespace kestro::sim {

class SimChannel final : public ByteChannel {
 public:
  // The channel opens only while the player is attached and plays the
  // transport this channel stands for.
  SimChannel(SimPlayer& player, Transport standsFor) : player_(player), transport_(standsFor) {}
  ~SimChannel() override { Close(); }

  bool Open(IoWait& wait) override;
  bool Close() override;
  bool IsOpen() const override { return open_; }
  IoResult Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) override;
  IoResult Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) override;

 private:
  SimPlayer& player_;
  Transport transport_;
  bool open_ = false;
};

}  // namespace kestro::sim
