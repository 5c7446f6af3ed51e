// The link to the player: one byte stream over whichever transport is
// current, opened and closed around every protocol operation.
//
// Usage: LinkOpen, a sequence of LinkSend/LinkReceive, LinkClose, also on
// every failure path. Each call returns 1 for success and 0 for failure.
//
// Transport rules:
// - FTDI: a transfer succeeds only when every byte moved; the bridge's own
//   time-out is twice the requested one. A failed FTDI transfer changes
//   nothing else.
// - Bulk: a completed transfer succeeds even when it moved fewer bytes (a
//   short packet). A transfer that runs out of time, or whose device goes
//   away, loses the link: `link error state` 1, the link closed, the
//   connection cycle told (ConnectionCycleSide::LinkLost), then a 2-second
//   pause for the first three time-outs since the cycle last reset the
//   counter and "MSG_USB_TIMEOUT" from the fourth on (unless the cycle's
//   `quiet flag` is set). Every later transfer fails at once until the link
//   is opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/channel.h"
#include "context/env.h"

namespace kestro {

// The part of the connection cycle's state that the link changes when it
// loses the player. The connection cycle implements it over its own state.
class ConnectionCycleSide {
 public:
  virtual ~ConnectionCycleSide() = default;
  // A bulk transfer timed out and closed the link: the cycle must set its
  // `last reading` to -1, `link streak` and `player info valid` to 0 and
  // `skip ticks` to 3.
  virtual void LinkLost() = 0;
  // The cycle's `quiet flag`: set around its own player query so that a
  // time-out there shows nothing.
  virtual bool QuietFlag() const = 0;
};

// Those five values as plain fields, for programs without a connection cycle
// (the command-line tool) and for tests.
class BasicCycleSide final : public ConnectionCycleSide {
 public:
  int lastReading = -1;
  int linkStreak = 0;
  int playerInfoValid = 0;
  int skipTicks = 0;
  int quietFlag = 0;
  int linkLostCount = 0;  // how often LinkLost was called

  void LinkLost() override {
    lastReading = -1;
    linkStreak = 0;
    playerInfoValid = 0;
    skipTicks = 3;
    ++linkLostCount;
  }
  bool QuietFlag() const override { return quietFlag != 0; }
};

// The two channels a link chooses from.
struct LinkChannels {
  std::unique_ptr<ByteChannel> ftdi;
  std::unique_ptr<ByteChannel> bulk;
};

class Link final : private IoWait {
 public:
  static constexpr uint32_t kPumpIntervalMs = 200;
  static constexpr int kSilentTimeouts = 3;         // time-outs that only pause
  static constexpr uint32_t kTimeoutPauseMs = 2000;  // that pause

  // `channels` must hold both channels; `cycle` outlives the link.
  Link(Env& env, LinkChannels channels, ConnectionCycleSide& cycle);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Env& env() { return env_; }
  ConnectionCycleSide& cycle() { return cycle_; }

  // --- Module state, shared with the protocol, sector and card layers ---
  // `Transport`; FTDI at start.
  Transport transport = Transport::Ftdi;
  // `link error state`: 0 none, 1 link lost or player busy, 3 sector sum
  // error, 6 no usable FAT16 volume, 7 FAT32 volume.
  int linkErrorState = 0;
  // `link open flag`: 1 at start, 1 after every successful open, 0 after a
  // bulk close. The card traffic tests it.
  int linkOpenFlag = 1;
  // `time-out counter`: bulk time-outs since the cycle last reset it.
  int timeoutCounter = 0;
  // `link error text`: the last sector error, for diagnosis.
  std::string linkErrorText;
  // The time before which PumpMessages does nothing.
  uint64_t pumpTimestamp = 0;

  // --- Byte stream ---
  int LinkOpen();
  int LinkClose();
  int LinkSend(const void* data, size_t count, uint32_t timeoutMs);
  int LinkReceive(void* buffer, size_t count, uint32_t timeoutMs);
  // True while the current transport's channel is open.
  bool IsOpen() const;

  // Lets the user interface run, at most every 200 ms of the clock.
  void PumpMessages();

  // The transport probe of the connection cycle: FTDI first, then bulk; when
  // neither opens the transport goes back to FTDI. A successful probe is
  // closed at once. Returns 1 when a player answered.
  int ChooseTransport();
  // The connection cycle resets the counter at the start of every cycle.
  void ResetTimeoutCounter() { timeoutCounter = 0; }

  ByteChannel& Channel(Transport t) { return t == Transport::Ftdi ? *ftdi_ : *bulk_; }

 private:
  Clock& WaitClock() override { return env_.clock; }
  void WaitPump() override { PumpMessages(); }

  ByteChannel& Current() { return Channel(transport); }
  int Transfer(bool sending, uint8_t* data, size_t count, uint32_t timeoutMs);
  int BulkLinkLost();

  Env& env_;
  std::unique_ptr<ByteChannel> ftdi_;
  std::unique_ptr<ByteChannel> bulk_;
  ConnectionCycleSide& cycle_;
};

}  // namespace kestro
