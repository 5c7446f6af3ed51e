// End to end: the real link and protocol against zumbla-sim over its socket,
// on the real clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "link/channels.h"
#include "link/player.h"
#include "link/socket_channel.h"
#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

namespace kestro::sim {
namespace {

namespace fs = std::filesystem;

class NoWait final : public IoWait {
 public:
  Clock& WaitClock() override { return clock; }
  void WaitPump() override {}
  RealClock clock;
};

class SimSocket : public ::testing::Test {
 protected:
  SimSocket() { profile.WriteString("Link", "Simulator", sock); }

  std::unique_ptr<SimProcess> Start(std::vector<std::string> args = {}) {
    auto p = std::make_unique<SimProcess>(testing::BuiltProgram("zumbla-sim"), state, sock, args);
    EXPECT_TRUE(p->Running());
    return p;
  }
  std::unique_ptr<Link> NewLink() { return std::make_unique<Link>(env, MakeLinkChannels(env, ftdi), cycle); }
  uint64_t Ms() { return clock.NowMs(); }

  testing::TempDir dir;
  fs::path state = dir / "state";
  std::string sock = (dir / "zumbla.sock").string();
  ScriptedUi ui;
  RealClock clock;
  ProfileFile profile{dir / "Zumbla.INI"};
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
  FtdiLibrary ftdi;
  BasicCycleSide cycle;
};

TEST_F(SimSocket, SongsRoundTripAndStayAcrossRuns) {
  Bytes song(1000);
  for (size_t i = 0; i < song.size(); ++i) song[i] = static_cast<uint8_t>(i * 13);
  WriteBinaryFile(dir / "in.mf4", song);
  {
    auto sim = Start({"--as", "bulk", "--release", "1.11", "--wire-log", (dir / "wire.log").string()});
    auto link = NewLink();
    Player p(*link);
    ASSERT_EQ(link->ChooseTransport(), 1);
    EXPECT_EQ(link->transport, Transport::Bulk);
    ZumblaInfo info;
    ASSERT_EQ(p.GetZumblaInfo(info), 1);
    EXPECT_EQ(info.Release(), "1.11");
    EXPECT_EQ(info.Mode(), 0);
    ASSERT_EQ(p.WriteRamFile(dir / "in.mf4"), 1);
    RamSongTable t;
    ASSERT_EQ(p.GetRamFileInfo(t), 1);
    ASSERT_EQ(t.SongCount(), 1);
    ASSERT_EQ(p.ReadRamFile(dir / "out.mf4", t.Code(0)), 1);
    EXPECT_EQ(ReadBinaryFile(dir / "out.mf4"), song);
    EXPECT_TRUE(ui.messages.empty());
  }
  std::string log = testing::ReadFileOrEmpty(dir / "wire.log");
  EXPECT_NE(log.find("H> 55 AA FF 00 35 82"), std::string::npos);
  EXPECT_NE(log.find("P< 06"), std::string::npos);

  auto sim = Start();  // plays FTDI this time
  auto link = NewLink();
  Player p(*link);
  ASSERT_EQ(link->ChooseTransport(), 1);
  EXPECT_EQ(link->transport, Transport::Ftdi);
  RamSongTable t;
  ASSERT_EQ(p.GetRamFileInfo(t), 1);
  EXPECT_EQ(t.SongCount(), 1);
  EXPECT_EQ(t.FreeBytes(), 1024u * 1024 - 1000);
}

TEST_F(SimSocket, OneConnectionAtATime) {
  auto sim = Start();
  auto link = NewLink();
  ASSERT_EQ(link->LinkOpen(), 1);
  SocketChannel second(sock, Transport::Ftdi);
  NoWait w;
  uint64_t before = Ms();
  EXPECT_FALSE(second.Open(w));
  EXPECT_LT(Ms() - before, 900u);  // refused, not timed out
  link->LinkClose();
  EXPECT_TRUE(second.Open(w));
  // The wrong transport does not open.
  SocketChannel bulk(sock, Transport::Bulk);
  second.Close();
  EXPECT_FALSE(bulk.Open(w));
}

TEST_F(SimSocket, FaultFileAndDroppedConnection) {
  auto sim = Start();
  auto link = NewLink();
  Player p(*link);
  ASSERT_EQ(link->ChooseTransport(), 1);
  testing::WriteFileOrDie(state / "faults", "drop-after 3\n");
  ZumblaInfo info;
  uint64_t before = Ms();
  EXPECT_EQ(p.GetZumblaInfo(info), 0);
  EXPECT_LT(Ms() - before, 2000u);  // the hang-up is noticed at once
  EXPECT_EQ(p.GetZumblaInfo(info), 1);
  EXPECT_FALSE(fs::exists(state / "faults"));
}

TEST_F(SimSocket, BusyPlayerAndCardSectorsOfAnImage) {
  fs::path img = dir / "card.img";
  auto mk = testing::Run({"/sbin/mkfs.fat", "-F", "16", "-C", img.string(), "16384"});
  ASSERT_EQ(mk.status, 0) << mk.err;
  {
    auto sim = Start({"--mode", "busy", "--card", img.string()});
    auto link = NewLink();
    Player p(*link);
    ASSERT_EQ(link->ChooseTransport(), 1);
    ZumblaInfo info;
    ASSERT_EQ(p.GetZumblaInfo(info), 1);
    EXPECT_EQ(info.Mode(), 2);
    ASSERT_EQ(link->LinkOpen(), 1);
    EXPECT_EQ(p.CardAccessBegin(), 0);
    link->LinkClose();
    EXPECT_EQ(link->linkErrorState, 1);
    EXPECT_EQ(ui.CountText("MSG_ZUMNET_BUSY: String Error"), 1);
  }
  auto sim = Start({"--mode", "card", "--card", img.string()});
  auto link = NewLink();
  Player p(*link);
  ASSERT_EQ(link->ChooseTransport(), 1);
  ASSERT_EQ(link->LinkOpen(), 1);
  ASSERT_EQ(p.CardAccessBegin(), 1);
  ASSERT_EQ(p.CardAccessOpen(), 1);
  const uint8_t cmd[7] = {0x55, 0x02, 0, 0, 0, 0x00, 0x0A};
  uint8_t reply[516] = {};
  ASSERT_EQ(link->LinkSend(cmd, 7, 2000), 1);
  ASSERT_EQ(link->LinkReceive(reply, 1, 2000), 1);
  ASSERT_EQ(link->LinkReceive(reply + 1, 515, 2000), 1);
  EXPECT_EQ(reply[0], 0x06);
  EXPECT_EQ(std::memcmp(reply + 1 + 54, "FAT16 ", 6), 0);
  EXPECT_EQ(FileSum16(reply + 1, 512), reply[514] << 8 | reply[515]);
  EXPECT_EQ(p.CardAccessEnd(), 1);
  link->LinkClose();
}

TEST_F(SimSocket, ProgramRefusesBadArguments) {
  auto r = testing::Run({testing::BuiltProgram("zumbla-sim").string(), "--mode", "sleepy", "--dir", state.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--mode"), std::string::npos);
  r = testing::Run({testing::BuiltProgram("zumbla-sim").string()});
  EXPECT_EQ(r.status, 2);
  r = testing::Run({testing::BuiltProgram("zumbla-sim").string(), "--dir", state.string(), "--card",
                    (dir / "missing.img").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.img"), std::string::npos);
}

}  // namespace
}  // namespace kestro::sim
