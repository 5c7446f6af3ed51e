#include "link/bulk_usb.h"

#include <libusb.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/clock.h"

namespace kestro {

namespace {

struct Endpoints {
  int interfaceNumber = -1;
  int altSetting = 0;
  unsigned char out = 0;
  unsigned char in = 0;
  int inPacketSize = 64;
};

// The first interface setting with both a bulk OUT and a bulk IN endpoint.
bool FindBulkPair(const libusb_config_descriptor* cfg, Endpoints* found) {
  for (int i = 0; i < cfg->bNumInterfaces; ++i) {
    const libusb_interface& itf = cfg->interface[i];
    for (int a = 0; a < itf.num_altsetting; ++a) {
      const libusb_interface_descriptor& d = itf.altsetting[a];
      Endpoints e;
      for (int k = 0; k < d.bNumEndpoints; ++k) {
        const libusb_endpoint_descriptor& ep = d.endpoint[k];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
          if (!e.in) {
            e.in = ep.bEndpointAddress;
            e.inPacketSize = ep.wMaxPacketSize > 0 ? ep.wMaxPacketSize : 64;
          }
        } else if (!e.out) {
          e.out = ep.bEndpointAddress;
        }
      }
      if (e.in && e.out) {
        e.interfaceNumber = d.bInterfaceNumber;
        e.altSetting = d.bAlternateSetting;
        *found = e;
        return true;
      }
    }
  }
  return false;
}

void LIBUSB_CALL TransferDone(libusb_transfer* t) { *static_cast<int*>(t->user_data) = 1; }

}  // namespace

BulkUsbChannel::~BulkUsbChannel() {
  Close();
  if (ctx_) libusb_exit(ctx_);
}

bool BulkUsbChannel::EnsureContext() {
  if (ctx_) return true;
  if (ctxFailed_) return false;
  // No USB subsystem (a container, a machine without usbfs) is just "no
  // device": quietly.
  if (libusb_init(&ctx_) != 0) {
    ctx_ = nullptr;
    ctxFailed_ = true;
    return false;
  }
  libusb_set_option(ctx_, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
  return true;
}

bool BulkUsbChannel::Open(IoWait&) {
  if (handle_) return false;
  if (!EnsureContext()) return false;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(ctx_, &list);
  if (n < 0) return false;
  for (ssize_t i = 0; i < n && !handle_; ++i) {
    libusb_device* dev = list[i];
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != 0) continue;
    if (desc.idVendor != vid_ || desc.idProduct != pid_) continue;
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_active_config_descriptor(dev, &cfg) != 0 && libusb_get_config_descriptor(dev, 0, &cfg) != 0)
      continue;
    Endpoints e;
    bool ok = FindBulkPair(cfg, &e);
    libusb_free_config_descriptor(cfg);
    if (!ok) continue;
    libusb_device_handle* h = nullptr;
    if (libusb_open(dev, &h) != 0) continue;
    libusb_set_auto_detach_kernel_driver(h, 1);
    if (libusb_claim_interface(h, e.interfaceNumber) != 0) {
      libusb_close(h);
      continue;
    }
    if (e.altSetting != 0 && libusb_set_interface_alt_setting(h, e.interfaceNumber, e.altSetting) != 0) {
      libusb_release_interface(h, e.interfaceNumber);
      libusb_close(h);
      continue;
    }
    handle_ = h;
    interface_ = e.interfaceNumber;
    outEndpoint_ = e.out;
    inEndpoint_ = e.in;
    inPacketSize_ = e.inPacketSize;
  }
  libusb_free_device_list(list, 1);
  pending_.clear();
  return handle_ != nullptr;
}

bool BulkUsbChannel::Close() {
  pending_.clear();
  if (!handle_) return false;
  libusb_release_interface(handle_, interface_);
  libusb_close(handle_);
  handle_ = nullptr;
  interface_ = -1;
  return true;
}

IoResult BulkUsbChannel::Transfer(unsigned char endpoint, uint8_t* buffer, size_t length, uint32_t timeoutMs,
                                  IoWait& wait) {
  if (length > INT_MAX) return {IoStatus::Failed, 0};
  RealClock clock;
  uint64_t deadline = clock.NowMs() + timeoutMs;
  libusb_transfer* t = libusb_alloc_transfer(0);
  if (!t) return {IoStatus::Failed, 0};
  // On the heap: a transfer that never completes keeps pointing at it.
  int* done = new int(0);
  int& completed = *done;
  libusb_fill_bulk_transfer(t, handle_, endpoint, buffer, static_cast<int>(length), TransferDone, done, 0);
  if (libusb_submit_transfer(t) != 0) {
    libusb_free_transfer(t);
    delete done;
    return {IoStatus::Failed, 0};
  }
  clock.SleepMs(1);
  bool timedOut = false;
  while (!completed) {
    if (clock.NowMs() >= deadline) {
      timedOut = true;
      libusb_cancel_transfer(t);
      // The cancellation completes through the event loop; a vanished device
      // completes it too. Bounded so that a broken stack cannot hold us.
      for (int i = 0; i < 200 && !completed; ++i) {
        timeval tv{0, 10000};
        libusb_handle_events_timeout_completed(ctx_, &tv, &completed);
      }
      break;
    }
    timeval tv{0, 1000};
    libusb_handle_events_timeout_completed(ctx_, &tv, &completed);
    wait.WaitPump();
  }
  if (!completed) {
    // Still owned by libusb: leak it (and its flag) rather than free it
    // under its feet.
    return {IoStatus::TimedOut, 0};
  }
  size_t moved = static_cast<size_t>(std::max(0, t->actual_length));
  libusb_transfer_status status = t->status;
  libusb_free_transfer(t);
  delete done;
  if (timedOut) return {IoStatus::TimedOut, moved};
  return {status == LIBUSB_TRANSFER_COMPLETED ? IoStatus::Done : IoStatus::Failed, moved};
}

IoResult BulkUsbChannel::Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) {
  if (!handle_) return {IoStatus::Failed, 0};
  std::vector<uint8_t> copy(data, data + count);
  return Transfer(outEndpoint_, copy.data(), copy.size(), timeoutMs, wait);
}

IoResult BulkUsbChannel::Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) {
  if (!handle_) return {IoStatus::Failed, 0};
  if (!pending_.empty()) {
    size_t n = std::min(count, pending_.size());
    std::copy_n(pending_.begin(), n, buffer);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(n));
    return {IoStatus::Done, n};
  }
  // Whole packets, so that a packet longer than the request is not an
  // overflow; the rest waits for the next receive.
  size_t packet = static_cast<size_t>(inPacketSize_);
  size_t asked = count == 0 ? 0 : (count + packet - 1) / packet * packet;
  std::vector<uint8_t> rx(asked);
  IoResult r = Transfer(inEndpoint_, rx.data(), asked, timeoutMs, wait);
  size_t n = std::min(count, r.moved);
  std::copy_n(rx.begin(), n, buffer);
  if (r.moved > count) pending_.insert(pending_.end(), rx.begin() + static_cast<long>(count), rx.begin() + static_cast<long>(r.moved));
  return {r.status, n};
}

}  // namespace kestro
