// Time for the protocol's pauses and time-outs. Programs use the real clock;
// tests use the virtual one, on which a pause costs no time.
#pragma once

#include <cstdint>
#include <functional>

namespace kestro {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start.
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

class RealClock final : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
};

// Time moves only when someone sleeps or advances it.
class VirtualClock final : public Clock {
 public:
  uint64_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    slept_ += ms;
  }
  void Advance(uint64_t ms) { now_ += ms; }
  // Total of all pauses taken, for tests that check the protocol's pacing.
  uint64_t SleptMs() const { return slept_; }

 private:
  uint64_t now_ = 1000;
  uint64_t slept_ = 0;
};

}  // namespace kestro
