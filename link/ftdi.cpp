#include "link/ftdi.h"

#include <dlfcn.h>

#include <algorithm>
#include <climits>

#include "platform/clock.h"

namespace kestro {

namespace {

// The head of libftdi1's context: the libusb context and handle, then the
// two time-outs in milliseconds. Stable across the 1.x releases.
struct FtdiContextHead {
  void* usbCtx;
  void* usbDev;
  int usbReadTimeout;
  int usbWriteTimeout;
};

constexpr const char* kMessageCaption = "Message";

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn*& out) {
  void* sym = dlsym(handle, name);
  if (!sym) return false;
  out = reinterpret_cast<Fn*>(sym);
  return true;
}

}  // namespace

bool FtdiLibrary::CanSetTimeouts() const {
  if (!libraryVersion) return false;
  return libraryVersion().major == 1;
}

FtdiLibrary LoadFtdiLibrary(Ui& ui, const char* libraryName) {
  FtdiLibrary lib;
  lib.handle = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
  if (!lib.handle) {
    ui.SystemMessage("Error: Can't Load ft8u245.dll", kMessageCaption, mb::kOk);
    return lib;
  }
  void* h = lib.handle;
  // In the order of the roles; resolving stops at the first one missing.
  auto missing = [&](const char* role) {
    ui.SystemMessage(std::string("Error: Can't Find ") + role, kMessageCaption, mb::kOk);
    return lib;
  };
  if (!Resolve(h, "ftdi_write_data", lib.writeData)) return missing("FT_Write");
  if (!Resolve(h, "ftdi_read_data", lib.readData)) return missing("FT_Read");
  if (!Resolve(h, "ftdi_new", lib.newContext) || !Resolve(h, "ftdi_usb_open_dev", lib.openDev) ||
      !Resolve(h, "ftdi_free", lib.freeContext))
    return missing("FT_Open");
  if (!Resolve(h, "ftdi_usb_open_desc_index", lib.openDescIndex)) return missing("FT_OpenEx");
  if (!Resolve(h, "ftdi_usb_find_all", lib.findAll) || !Resolve(h, "ftdi_list_free", lib.listFree))
    return missing("FT_ListDevices");
  if (!Resolve(h, "ftdi_usb_close", lib.closeDev)) return missing("FT_Close");
  if (!Resolve(h, "ftdi_usb_reset", lib.resetDev)) return missing("FT_ResetDevice");
  if (!Resolve(h, "ftdi_usb_purge_buffers", lib.purgeBuffers)) return missing("FT_Purge");
  if (!Resolve(h, "ftdi_get_library_version", lib.libraryVersion)) return missing("FT_SetTimeouts");
  if (!Resolve(h, "ftdi_poll_modem_status", lib.pollModemStatus)) return missing("FT_GetQueueStatus");
  return lib;
}

FtdiChannel::~FtdiChannel() { Close(); }

bool FtdiChannel::SetTimeouts(uint32_t readMs, uint32_t writeMs) {
  if (!ctx_ || !lib_.CanSetTimeouts()) return false;
  auto* head = static_cast<FtdiContextHead*>(ctx_);
  head->usbReadTimeout = static_cast<int>(std::min<uint32_t>(readMs, INT_MAX));
  head->usbWriteTimeout = static_cast<int>(std::min<uint32_t>(writeMs, INT_MAX));
  return true;
}

std::vector<std::pair<int, int>> FtdiSearches(FtdiIds ids) {
  if (ids.vendor == 0 && ids.product == 0) return {{0, 0}};
  if (ids.product != 0) return {{ids.vendor != 0 ? ids.vendor : kFtdiVendor, ids.product}};
  std::vector<std::pair<int, int>> searches;
  for (uint16_t product : kFtdiProducts) searches.emplace_back(ids.vendor, product);
  return searches;
}

bool FtdiChannel::Open(IoWait&) {
  if (ctx_ || !lib_.CanOpen()) return false;
  void* ctx = lib_.newContext();
  if (!ctx) return false;
  int rc = -1;
  for (auto [vendor, product] : FtdiSearches(ids_)) {
    FtdiDeviceList* list = nullptr;
    int found = lib_.findAll(ctx, &list, vendor, product);
    if (found > 0 && list && list->dev) rc = lib_.openDev(ctx, list->dev);
    if (list) lib_.listFree(&list);
    if (rc >= 0) break;
  }
  if (rc < 0) {
    lib_.freeContext(ctx);
    return false;
  }
  ctx_ = ctx;
  SetTimeouts(kOpenTimeoutMs, kOpenTimeoutMs);
  return true;
}

bool FtdiChannel::Close() {
  if (!ctx_) return false;
  int rc = lib_.closeDev(ctx_);
  lib_.freeContext(ctx_);
  ctx_ = nullptr;
  return rc == 0;
}

IoResult FtdiChannel::Send(const uint8_t* data, size_t count, uint32_t timeoutMs, IoWait&) {
  if (!ctx_) return {IoStatus::Failed, 0};
  if (!SetTimeouts(timeoutMs, timeoutMs)) {
    ui_.SystemMessage("FT_SetTimeouts is not valid!", kMessageCaption, mb::kOk);
    return {IoStatus::Failed, 0};
  }
  if (!lib_.writeData) {
    ui_.SystemMessage("FT_Write is not valid!", kMessageCaption, mb::kOk);
    return {IoStatus::Failed, 0};
  }
  if (count > INT_MAX) return {IoStatus::Failed, 0};
  if (count == 0) return {IoStatus::Done, 0};
  int n = lib_.writeData(ctx_, data, static_cast<int>(count));
  if (n < 0) return {IoStatus::Failed, 0};
  return {static_cast<size_t>(n) == count ? IoStatus::Done : IoStatus::TimedOut, static_cast<size_t>(n)};
}

IoResult FtdiChannel::Receive(uint8_t* buffer, size_t count, uint32_t timeoutMs, IoWait&) {
  if (!ctx_) return {IoStatus::Failed, 0};
  if (!SetTimeouts(timeoutMs, timeoutMs)) {
    ui_.SystemMessage("FT_SetTimeouts is not valid!", kMessageCaption, mb::kOk);
    return {IoStatus::Failed, 0};
  }
  if (!lib_.readData) {
    ui_.SystemMessage("FT_Read is not valid!", kMessageCaption, mb::kOk);
    return {IoStatus::Failed, 0};
  }
  if (count > INT_MAX) return {IoStatus::Failed, 0};
  // The bridge hands over whatever it holds at each poll; gather until all
  // arrived or the time-out ran out. A real device waits in real time.
  RealClock clock;
  uint64_t deadline = clock.NowMs() + timeoutMs;
  size_t moved = 0;
  while (moved < count) {
    int n = lib_.readData(ctx_, buffer + moved, static_cast<int>(count - moved));
    if (n < 0) return {IoStatus::Failed, moved};
    moved += static_cast<size_t>(n);
    if (moved == count) break;
    if (clock.NowMs() >= deadline) return {IoStatus::TimedOut, moved};
    if (n == 0) clock.SleepMs(1);
  }
  return {IoStatus::Done, moved};
}

}  // namespace kestro
