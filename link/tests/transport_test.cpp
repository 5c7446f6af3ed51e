// The real transports on a machine without a player: the FTDI loader and
// both devices fail cleanly; the settings key points the link at a
// simulator's socket.
#include <gtest/gtest.h>

#include "link/bulk_usb.h"
#include "link/channels.h"
#include "link/ftdi.h"
#include "link/socket_channel.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

class NoWait final : public IoWait {
 public:
  Clock& WaitClock() override { return clock; }
  void WaitPump() override {}
  VirtualClock clock;
};

TEST(LoadFtdiLibrary, MessagesForAMissingLibraryOrEntryPoint) {
  struct Case {
    const char* library;
    const char* message;
  } cases[] = {
      {"libkestro-no-such-library.so", "Error: Can't Load ft8u245.dll"},
      {FAKE_FTDI_NOREAD, "Error: Can't Find FT_Read"},
      {FAKE_FTDI_PARTIAL, "Error: Can't Find FT_OpenEx"},
  };
  for (const auto& c : cases) {
    ScriptedUi ui;
    FtdiLibrary lib = LoadFtdiLibrary(ui, c.library);
    ASSERT_EQ(ui.messages.size(), 1u) << c.library;
    EXPECT_EQ(ui.messages[0].text, c.message);
    EXPECT_EQ(ui.messages[0].caption, "Message");
    EXPECT_EQ(ui.messages[0].style, 0u);
    EXPECT_EQ(ui.messages[0].kind, BoxKind::System);
    EXPECT_FALSE(lib.CanOpen());
    // With the library unusable the FTDI transport simply finds no device.
    FtdiChannel ch(lib, ui);
    NoWait w;
    EXPECT_FALSE(ch.Open(w));
    uint8_t b[1] = {0};
    EXPECT_EQ(ch.Send(b, 1, 100, w).status, IoStatus::Failed);
    EXPECT_EQ(ui.messages.size(), 1u);
  }
}

TEST(LoadFtdiLibrary, TheInstalledLibraryHasEveryEntryPoint) {
  ScriptedUi ui;
  FtdiLibrary lib = LoadFtdiLibrary(ui);
  ASSERT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  EXPECT_TRUE(lib.CanOpen());
  EXPECT_TRUE(lib.CanSetTimeouts());
  EXPECT_NE(lib.writeData, nullptr);
  EXPECT_NE(lib.readData, nullptr);
  EXPECT_NE(lib.pollModemStatus, nullptr);
}

TEST(RealTransports, NoDeviceMeansNoOpenAndNoMessage) {
  ScriptedUi ui;
  FtdiLibrary lib = LoadFtdiLibrary(ui);
  NoWait w;
  FtdiChannel ftdi(lib, ui);
  EXPECT_FALSE(ftdi.Open(w));
  EXPECT_FALSE(ftdi.IsOpen());
  EXPECT_FALSE(ftdi.Close());
  // Ids no device carries.
  BulkUsbChannel bulk(0xFFFE, 0xFFFE);
  EXPECT_FALSE(bulk.Open(w));
  EXPECT_FALSE(bulk.IsOpen());
  uint8_t b[4] = {};
  EXPECT_EQ(bulk.Send(b, 4, 100, w).status, IoStatus::Failed);
  EXPECT_EQ(bulk.Receive(b, 4, 100, w).status, IoStatus::Failed);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(MakeLinkChannels, TheSimulatorKeyTurnsBothTransportsIntoItsSocket) {
  testing::TempDir dir;
  ScriptedUi ui;
  VirtualClock clock;
  ProfileFile profile(dir / "Zumbla.INI");
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
  FtdiLibrary none;

  LinkChannels real = MakeLinkChannels(env, none);
  EXPECT_NE(dynamic_cast<FtdiChannel*>(real.ftdi.get()), nullptr);
  EXPECT_NE(dynamic_cast<BulkUsbChannel*>(real.bulk.get()), nullptr);

  profile.WriteString("Link", "Simulator", (dir / "sim.sock").string());
  LinkChannels sim = MakeLinkChannels(env, none);
  EXPECT_NE(dynamic_cast<SocketChannel*>(sim.ftdi.get()), nullptr);
  EXPECT_NE(dynamic_cast<SocketChannel*>(sim.bulk.get()), nullptr);
  // Nobody listens: no player.
  NoWait w;
  EXPECT_FALSE(sim.ftdi->Open(w));
  EXPECT_FALSE(sim.bulk->Open(w));
}

// A libftdi1 in memory with one bridge on the bus: it records every search
// and finds the bridge only under the bridge's own ids.
struct FakeBus {
  static inline std::vector<std::pair<int, int>> searches;
  static inline std::pair<int, int> bridge;
  static inline int device = 0;
  static inline int context = 0;
  static inline FtdiDeviceList entry{nullptr, &device};

  static FtdiLibrary Library() {
    FtdiLibrary lib;
    lib.newContext = [] { return static_cast<void*>(&context); };
    lib.freeContext = [](void*) {};
    lib.findAll = [](void*, FtdiDeviceList** list, int vendor, int product) {
      searches.emplace_back(vendor, product);
      // The library's own list when asked for 0, 0.
      const bool standard = vendor == 0 && product == 0 && bridge.first == 0x0403 && bridge.second == 0x6001;
      if (!standard && std::pair(vendor, product) != bridge) return 0;
      *list = &entry;
      return 1;
    };
    lib.listFree = [](FtdiDeviceList** list) { *list = nullptr; };
    lib.openDev = [](void*, void* dev) { return dev == &device ? 0 : -1; };
    lib.closeDev = [](void*) { return 0; };
    return lib;
  }
};

TEST(MakeLinkChannels, TheFtdiIdsOfTheSettingsReachTheSearch) {
  using Searches = std::vector<std::pair<int, int>>;
  const Searches standardProducts = {{0x1234, 0x6001}, {0x1234, 0x6010}, {0x1234, 0x6011},
                                     {0x1234, 0x6014}, {0x1234, 0x6015}};
  struct Case {
    const char* vid;  // nullptr: not in the file
    const char* pid;
    std::pair<int, int> bridge;
    bool found;
    Searches searches;
  } cases[] = {
      // Nothing set: the library's list of FTDI's standard ids, as before.
      {nullptr, nullptr, {0x0403, 0x6001}, true, {{0, 0}}},
      {"", "", {0x0403, 0x6001}, true, {{0, 0}}},
      {nullptr, nullptr, {0x1234, 0x5678}, false, {{0, 0}}},
      // Ids of its own, hexadecimal or decimal.
      {"0x1234", "0x5678", {0x1234, 0x5678}, true, {{0x1234, 0x5678}}},
      {"4660", "22136", {0x1234, 0x5678}, true, {{0x1234, 0x5678}}},
      {"0x1234", "0x5678", {0x0403, 0x6001}, false, {{0x1234, 0x5678}}},
      // A product of its own under FTDI's vendor id.
      {nullptr, "0xABCD", {0x0403, 0xABCD}, true, {{0x0403, 0xABCD}}},
      // A vendor of its own with one of FTDI's products: each is tried, up
      // to the one that is there.
      {"0x1234", nullptr, {0x1234, 0x6011}, true, {{0x1234, 0x6001}, {0x1234, 0x6010}, {0x1234, 0x6011}}},
      {"0x1234", "0", {0x1234, 0x9999}, false, standardProducts},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    ScriptedUi ui;
    VirtualClock clock;
    ProfileFile profile(dir / "Zumbla.INI");
    Dictionary dict;
    Env env{ui, clock, profile, dict, dir.path()};
    if (c.vid) profile.WriteString("Link", "FtdiVid", c.vid);
    if (c.pid) profile.WriteString("Link", "FtdiPid", c.pid);
    FakeBus::searches.clear();
    FakeBus::bridge = c.bridge;
    const FtdiLibrary lib = FakeBus::Library();
    LinkChannels channels = MakeLinkChannels(env, lib);
    NoWait w;
    const std::string name = std::string(c.vid ? c.vid : "-") + "/" + (c.pid ? c.pid : "-");
    EXPECT_EQ(channels.ftdi->Open(w), c.found) << name;
    EXPECT_EQ(FakeBus::searches, c.searches) << name;
    EXPECT_EQ(channels.ftdi->Close(), c.found) << name;
  }
}

}  // namespace
}  // namespace kestro
