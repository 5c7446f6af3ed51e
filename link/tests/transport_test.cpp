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

}  // namespace
}  // namespace kestro
