// The FTDI transport: the player's USB FIFO bridge driven through libftdi1,
// loaded at run time so that Kestro starts (and uses the bulk transport)
// where the library is missing.
//
// The link thinks in the ten entry points of the bridge's vendor library;
// each is found in libftdi1 under its own name:
//   FT_Write         ftdi_write_data
//   FT_Read          ftdi_read_data
//   FT_Open          ftdi_new, ftdi_usb_open_dev, ftdi_free
//   FT_OpenEx        ftdi_usb_open_desc_index
//   FT_ListDevices   ftdi_usb_find_all, ftdi_list_free
//   FT_Close         ftdi_usb_close
//   FT_ResetDevice   ftdi_usb_reset
//   FT_Purge         ftdi_usb_purge_buffers
//   FT_SetTimeouts   ftdi_get_library_version (the time-outs are fields of
//                    the library's context, written only when the library's
//                    major version is the one whose layout we know)
//   FT_GetQueueStatus ftdi_poll_modem_status
// Only the open, close, read, write and time-out roles are used.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "link/channel.h"
#include "platform/ui.h"

namespace kestro {

struct FtdiVersionInfo {
  int major;
  int minor;
  int micro;
  const char* versionStr;
  const char* snapshotStr;
};

struct FtdiDeviceList {
  FtdiDeviceList* next;
  void* dev;  // libusb_device*
};

// The loaded library. Never unloaded.
struct FtdiLibrary {
  void* handle = nullptr;
  int (*writeData)(void* ctx, const unsigned char* buf, int size) = nullptr;
  int (*readData)(void* ctx, unsigned char* buf, int size) = nullptr;
  void* (*newContext)() = nullptr;
  int (*openDev)(void* ctx, void* dev) = nullptr;
  void (*freeContext)(void* ctx) = nullptr;
  int (*openDescIndex)(void* ctx, int vendor, int product, const char* desc, const char* serial,
                       unsigned int index) = nullptr;
  int (*findAll)(void* ctx, FtdiDeviceList** list, int vendor, int product) = nullptr;
  void (*listFree)(FtdiDeviceList** list) = nullptr;
  int (*closeDev)(void* ctx) = nullptr;
  int (*resetDev)(void* ctx) = nullptr;
  int (*purgeBuffers)(void* ctx) = nullptr;
  FtdiVersionInfo (*libraryVersion)() = nullptr;
  int (*pollModemStatus)(void* ctx, unsigned short* status) = nullptr;

  bool CanOpen() const { return newContext && openDev && freeContext && findAll && listFree && closeDev; }
  // The context fields that hold the time-outs are where we expect them.
  bool CanSetTimeouts() const;
};

inline constexpr const char* kFtdiLibraryName = "libftdi1.so.2";

// LoadFtdiLibrary: loads the library and resolves the ten roles in the order
// of the table above. At the first failure it shows a plain message box
// (caption "Message", OK) and stops resolving: "Error: Can't Load
// ft8u245.dll" when the library does not load, else "Error: Can't Find
// FT_Write" and so on. Whatever was resolved stays usable.
FtdiLibrary LoadFtdiLibrary(Ui& ui, const char* libraryName = kFtdiLibraryName);

// FTDI's vendor id and the product ids of its bridges: what libftdi1 looks
// for when asked for vendor and product 0.
inline constexpr uint16_t kFtdiVendor = 0x0403;
inline constexpr uint16_t kFtdiProducts[] = {0x6001, 0x6010, 0x6011, 0x6014, 0x6015};

// The ids of the player's bridge; 0 stands for FTDI's standard ids.
struct FtdiIds {
  uint16_t vendor = 0;
  uint16_t product = 0;
};

// The (vendor, product) searches of one open, in order. Both 0: one search
// for (0, 0), the library's own list of FTDI's standard ids. A vendor of its
// own without a product: that vendor with each standard product. A product
// of its own without a vendor: FTDI's vendor with it.
std::vector<std::pair<int, int>> FtdiSearches(FtdiIds ids);

// The first FTDI device that the searches find, read and write time-outs
// 3000 ms after the open. A
// receive gathers bytes until all arrived or its time-out ran out (in real
// time). A missing write, read or time-out entry shows "FT_Write is not
// valid!", "FT_Read is not valid!" or "FT_SetTimeouts is not valid!"
// (caption "Message") and fails the transfer.
class FtdiChannel final : public ByteChannel {
 public:
  static constexpr int kOpenTimeoutMs = 3000;

  FtdiChannel(const FtdiLibrary& lib, Ui& ui, FtdiIds ids = {}) : lib_(lib), ui_(ui), ids_(ids) {}
  ~FtdiChannel() override;

  bool Open(IoWait& wait) override;
  bool Close() override;
  bool IsOpen() const override { return ctx_ != nullptr; }
  IoResult Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait& wait) override;
  IoResult Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait& wait) override;

 private:
  bool SetTimeouts(uint32_t readMs, uint32_t writeMs);

  const FtdiLibrary& lib_;
  Ui& ui_;
  FtdiIds ids_;
  void* ctx_ = nullptr;
};

}  // namespace kestro
