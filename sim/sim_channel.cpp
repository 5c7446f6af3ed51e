#include "sim/sim_channel.h"

namespace kestro::sim {

bool SimChannel::Open(IoWait&) {
  if (open_ || !player_.attached || player_.config().as != transport_) return false;
  player_.Connect();
  open_ = true;
  return true;
}

bool SimChannel::Close() {
  if (!open_) return false;
  open_ = false;
  player_.Disconnect();
  return true;
}

IoResult SimChannel::Send(const uint8_t* data, size_t count, uint32_t, IoWait&) {
  if (!open_) return {IoStatus::Failed, 0};
  if (player_.HungUp() && player_.Pending() == 0) return {IoStatus::Failed, 0};
  player_.FromHost(data, count);
  return {IoStatus::Done, count};
}

IoResult SimChannel::Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) {
  if (!open_) return {IoStatus::Failed, 0};
  size_t got = player_.TakeOutput(buffer, count);
  if (got == count) return {IoStatus::Done, got};
  if (player_.HungUp()) return {IoStatus::Failed, got};
  wait.WaitClock().SleepMs(timeoutMs);
  return {IoStatus::TimedOut, got};
}

}  // namespace kestro::sim
