#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace kestro {

uint64_t RealClock::NowMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealClock::SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kestro
