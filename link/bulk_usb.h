// The bulk transport: the player as a plain bulk USB device, driven through
// libusb-1.0. The player is the first present device with the configured
// vendor and product ids (settings "Link"/"BulkVid" and "BulkPid") that has
// an interface with a bulk OUT endpoint (`PIPE00`, to the player) and a bulk
// IN endpoint (`PIPE01`, from the player) and that can be opened; a device
// that cannot be opened or claimed is passed over. The search is made again
// at every open.
//
// Transfers complete like the driver's: a receive ends at the first short
// packet, so it may deliver fewer bytes than asked. Bytes that a packet
// brings beyond the request are kept for the next receive. Waiting is in
// real time, pumping the user interface every millisecond or so; at the
// deadline the transfer is cancelled and reported as timed out.
#pragma once

#include <cstdint>
#include <deque>

#include "link/channel.h"

struct libusb_context;
struct libusb_device_handle;

namespace kestro {

class BulkUsbChannel final : public ByteChannel {
 public:
  BulkUsbChannel(uint16_t vendorId, uint16_t productId) : vid_(vendorId), pid_(productId) {}
  ~BulkUsbChannel() override;
  BulkUsbChannel(const BulkUsbChannel&) = delete;
  BulkUsbChannel& operator=(const BulkUsbChannel&) = delete;

  bool Open(IoWait& wait) override;
  bool Close() override;
  bool IsOpen() const override { return handle_ != nullptr; }
  IoResult Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) override;
  IoResult Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) override;

 private:
  bool EnsureContext();
  IoResult Transfer(unsigned char endpoint, uint8_t* buffer, size_t length, uint32_t timeoutMs, IoWait& wait);

  uint16_t vid_;
  uint16_t pid_;
  libusb_context* ctx_ = nullptr;
  bool ctxFailed_ = false;
  libusb_device_handle* handle_ = nullptr;
  int interface_ = -1;
  unsigned char outEndpoint_ = 0;  // PIPE00
  unsigned char inEndpoint_ = 0;   // PIPE01
  int inPacketSize_ = 64;
  std::deque<uint8_t> pending_;  // received beyond an earlier request
};

}  // namespace kestro
