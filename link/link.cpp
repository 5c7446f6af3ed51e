#include "link/link.h"

#include <stdexcept>

namespace kestro {

Link::Link(Env& env, LinkChannels channels, ConnectionCycleSide& cycle)
    : env_(env), ftdi_(std::move(channels.ftdi)), bulk_(std::move(channels.bulk)), cycle_(cycle) {
  if (!ftdi_ || !bulk_) throw std::invalid_argument("Link needs both channels");
}

bool Link::IsOpen() const {
  const ByteChannel& ch = transport == Transport::Ftdi ? *ftdi_ : *bulk_;
  return ch.IsOpen();
}

int Link::LinkOpen() {
  if (!Current().Open(*this)) return 0;
  // Also after an FTDI open: a bulk close earlier in the run must not leave
  // the card traffic of an FTDI player refused.
  linkOpenFlag = 1;
  return 1;
}

int Link::LinkClose() {
  if (transport == Transport::Ftdi) return ftdi_->Close() ? 1 : 0;
  bulk_->Close();
  linkOpenFlag = 0;
  return 1;
}

int Link::LinkSend(const void* data, size_t count, uint32_t timeoutMs) {
  // The channel does not write through the pointer when sending.
  return Transfer(true, const_cast<uint8_t*>(static_cast<const uint8_t*>(data)), count, timeoutMs);
}

int Link::LinkReceive(void* buffer, size_t count, uint32_t timeoutMs) {
  return Transfer(false, static_cast<uint8_t*>(buffer), count, timeoutMs);
}

int Link::Transfer(bool sending, uint8_t* data, size_t count, uint32_t timeoutMs) {
  ByteChannel& ch = Current();
  // A closed link (a time-out closed it) fails at once: no waiting, no
  // second time-out.
  if (!ch.IsOpen()) return 0;
  if (transport == Transport::Ftdi) {
    PumpMessages();
    uint32_t t = timeoutMs > UINT32_MAX / 2 ? UINT32_MAX : timeoutMs * 2;
    IoResult r = sending ? ch.Send(data, count, t, *this) : ch.Receive(data, count, t, *this);
    return r.status == IoStatus::Done && r.moved == count ? 1 : 0;
  }
  IoResult r = sending ? ch.Send(data, count, timeoutMs, *this) : ch.Receive(data, count, timeoutMs, *this);
  if (r.status == IoStatus::Done) {
    PumpMessages();
    return 1;
  }
  // A device that went away is a lost link just like one that stopped
  // answering; it only ends sooner.
  return BulkLinkLost();
}

int Link::BulkLinkLost() {
  linkErrorState = 1;
  LinkClose();
  cycle_.LinkLost();
  if (timeoutCounter < kSilentTimeouts) {
    env_.clock.SleepMs(kTimeoutPauseMs);
  } else if (!cycle_.QuietFlag()) {
    env_.ui.ShowMessage(env_.T("MSG_USB_TIMEOUT"), "Kestro - Error:", mb::kIconStop);
  }
  ++timeoutCounter;
  PumpMessages();
  return 0;
}

void Link::PumpMessages() {
  uint64_t now = env_.clock.NowMs();
  if (now < pumpTimestamp) return;
  pumpTimestamp = now + kPumpIntervalMs;
  env_.ui.PumpMessages();
}

int Link::ChooseTransport() {
  transport = Transport::Ftdi;
  if (LinkOpen()) {
    LinkClose();
    return 1;
  }
  transport = Transport::Bulk;
  if (LinkOpen()) {
    LinkClose();
    return 1;
  }
  transport = Transport::Ftdi;
  return 0;
}

}  // namespace kestro
