#include "link/channels.h"

#include "link/bulk_usb.h"
#include "link/socket_channel.h"

namespace kestro {

LinkChannels MakeLinkChannels(const Env& env, const FtdiLibrary& ftdi) {
  LinkChannels c;
  std::string sim = env.GetText(settings::kSimulator);
  if (!sim.empty()) {
    c.ftdi = std::make_unique<SocketChannel>(sim, Transport::Ftdi);
    c.bulk = std::make_unique<SocketChannel>(sim, Transport::Bulk);
    return c;
  }
  c.ftdi = std::make_unique<FtdiChannel>(ftdi, env.ui, FtdiIdsOf(env));
  int vid = env.GetInt(settings::kBulkVid);
  int pid = env.GetInt(settings::kBulkPid);
  c.bulk = std::make_unique<BulkUsbChannel>(static_cast<uint16_t>(vid & 0xFFFF), static_cast<uint16_t>(pid & 0xFFFF));
  return c;
}

FtdiIds FtdiIdsOf(const Env& env) {
  return {static_cast<uint16_t>(env.GetInt(settings::kFtdiVid) & 0xFFFF),
          static_cast<uint16_t>(env.GetInt(settings::kFtdiPid) & 0xFFFF)};
}

}  // namespace kestro
