// Raw byte channels below the link: the FTDI bridge, the bulk USB device, the
// simulator's socket and the in-process simulator all look alike from here.
// A channel only moves bytes and reports how many moved; what a short or
// late transfer means (failure, lost link, time-out message) is decided by
// the Link above it, per transport.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace kestro {

// The two ways the player is reached. The values are the ones the connection
// cycle remembers as its `last transport`.
enum class Transport { Ftdi = 0, Bulk = 1 };

inline const char* TransportName(Transport t) { return t == Transport::Ftdi ? "ftdi" : "bulk"; }

enum class IoStatus {
  Done,      // the transfer completed; `moved` may be short (a bulk short packet)
  TimedOut,  // the time-out ran out; `moved` bytes arrived before it did
  Failed,    // the device refused or went away
};

struct IoResult {
  IoStatus status = IoStatus::Failed;
  size_t moved = 0;
};

// What a channel may do while it waits: read the link's clock and let the
// user interface breathe.
class IoWait {
 public:
  virtual ~IoWait() = default;
  virtual Clock& WaitClock() = 0;
  // Pumps window messages (rate-limited by the link).
  virtual void WaitPump() = 0;
};

class ByteChannel {
 public:
  virtual ~ByteChannel() = default;

  // True when the device is present and now open. Opening an open channel
  // fails and leaves it open.
  virtual bool Open(IoWait& wait) = 0;
  // Closes the channel; true when it was open.
  virtual bool Close() = 0;
  virtual bool IsOpen() const = 0;

  // Move `count` bytes, giving up after `timeoutMs` milliseconds.
  virtual IoResult Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) = 0;
  virtual IoResult Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) = 0;
};

}  // namespace kestro
