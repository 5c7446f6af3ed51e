// The simulated player as the link sees it: card sectors, the firmware
// update, its memory and state folder, and the faults it can be told to
// make. Sector and firmware traffic is spoken here byte by byte, as the
// link's callers will.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "link/player.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "link/tests/made_up_firmware.h"
#include "sim/sim_rig.h"

namespace kestro::sim {
namespace {

namespace fs = std::filesystem;

struct SectorReply {
  uint8_t status = 0;
  Sector data{};
  bool sumOk = false;
  bool arrived = false;
};

SectorReply ReadSectorRaw(SimRig& rig, uint32_t sector) {
  const uint8_t cmd[7] = {0x55, 0x02, static_cast<uint8_t>(sector), static_cast<uint8_t>(sector >> 8),
                          static_cast<uint8_t>(sector >> 16), 0x00, 0x0A};
  SectorReply r;
  uint8_t buf[516] = {};
  if (!rig.link.LinkSend(cmd, 7, 2000)) return r;
  r.arrived = rig.link.LinkReceive(buf, 1, 2000) && rig.link.LinkReceive(buf + 1, 515, 2000);
  r.status = buf[0];
  std::memcpy(r.data.data(), buf + 1, 512);
  r.sumOk = FileSum16(buf + 1, 512) == (buf[514] << 8 | buf[515]);
  return r;
}

int WriteSectorRaw(SimRig& rig, uint32_t sector, const Sector& data, int sumDelta = 0) {
  const uint8_t cmd[7] = {0x55, 0x01, static_cast<uint8_t>(sector), static_cast<uint8_t>(sector >> 8),
                          static_cast<uint8_t>(sector >> 16), 0x00, 0x0A};
  uint8_t block[516];
  std::memcpy(block, data.data(), 512);
  uint16_t sum = static_cast<uint16_t>(FileSum16(data.data(), 512) + sumDelta);
  block[512] = block[513] = 0xFF;
  block[514] = static_cast<uint8_t>(sum >> 8);
  block[515] = static_cast<uint8_t>(sum);
  uint8_t reply = 0;
  if (!rig.link.LinkSend(cmd, 7, 1000) || !rig.link.LinkSend(block, 516, 2000) ||
      !rig.link.LinkReceive(&reply, 1, 2000))
    return -1;
  return reply;
}

Sector Filled(uint8_t seed) {
  Sector s;
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed * 7 + i);
  return s;
}

uint16_t Word(const Sector& s, int w) { return static_cast<uint16_t>(s[2 * w] | s[2 * w + 1] << 8); }

std::string SwappedText(const Sector& s, int firstWord, int words) {
  std::string t;
  for (int i = 0; i < words; ++i) {
    t += static_cast<char>(s[2 * (firstWord + i) + 1]);
    t += static_cast<char>(s[2 * (firstWord + i)]);
  }
  return t;
}

SimConfig CardConfig(uint64_t bytes) {
  SimConfig c;
  c.mode = Mode::Card;
  c.cardBytes = bytes;
  return c;
}

void OpenCardAccess(SimRig& rig) {
  ASSERT_EQ(rig.link.LinkOpen(), 1);
  ASSERT_EQ(rig.player.CardAccessBegin(), 1);
  ASSERT_EQ(rig.player.CardAccessOpen(), 1);
}

// --- Card ---

TEST(CardGeometry, LikeRealCardsOfTheSameSize) {
  struct Case {
    uint32_t sectors;
    uint16_t c, h, t;
  } cases[] = {
      {125440, 980, 4, 32},    // 64 MB
      {250880, 980, 8, 32},    // 128 MB
      {500736, 978, 16, 32},   // 256 MB
      {1000944, 993, 16, 63},  // 512 MB
      {16384, 256, 2, 32},     // 8 MB
      {65536, 1024, 2, 32},    // 32 MB
  };
  for (const auto& c : cases) {
    CardGeometry g = GeometryForSectors(c.sectors);
    EXPECT_EQ(g.cylinders, c.c) << c.sectors;
    EXPECT_EQ(g.heads, c.h) << c.sectors;
    EXPECT_EQ(g.sectorsPerTrack, c.t) << c.sectors;
    EXPECT_LE(static_cast<uint32_t>(g.cylinders) * g.heads * g.sectorsPerTrack, c.sectors);
  }
}

TEST(SimCard, IdentificationBlockInTheAtaLayout) {
  SimRig rig(CardConfig(125440u * 512));
  OpenCardAccess(rig);
  SectorReply r = ReadSectorRaw(rig, kIdentifySector);
  ASSERT_TRUE(r.arrived);
  EXPECT_EQ(r.status, 0x06);
  EXPECT_TRUE(r.sumOk);
  EXPECT_EQ(Word(r.data, 0), 0x848A);
  EXPECT_EQ(Word(r.data, 1), 980);
  EXPECT_EQ(Word(r.data, 3), 4);
  EXPECT_EQ(Word(r.data, 6), 32);
  EXPECT_EQ(Word(r.data, 7) << 16 | Word(r.data, 8), 125440);  // high half first
  EXPECT_EQ(Word(r.data, 54), 980);
  EXPECT_EQ(Word(r.data, 55), 4);
  EXPECT_EQ(Word(r.data, 56), 32);
  EXPECT_EQ(Word(r.data, 57) | Word(r.data, 58) << 16, 980 * 4 * 32);
  EXPECT_EQ(Word(r.data, 60) | Word(r.data, 61) << 16, 125440);
  // The texts come swapped in pairs and read right once swapped back.
  EXPECT_EQ(SwappedText(r.data, 27, 20), "ZUMBLA SIMULATED CF CARD                ");
  EXPECT_EQ(SwappedText(r.data, 10, 10), "ZSIM00000001        ");
  EXPECT_EQ(SwappedText(r.data, 23, 4), "SIM 1.0 ");
  EXPECT_NE(std::string(reinterpret_cast<const char*>(&r.data[54]), 6), "ZUMBLA");
}

TEST(SimCard, SectorsReadAndWriteTheImageWithTheirSums) {
  SimRig rig(CardConfig(40u << 20));
  OpenCardAccess(rig);
  size_t from = rig.sim.wire.size();
  Sector data = Filled(3);
  EXPECT_EQ(WriteSectorRaw(rig, 0x012345, data), 0x06);
  SectorReply r = ReadSectorRaw(rig, 0x012345);
  EXPECT_EQ(r.status, 0x06);
  EXPECT_TRUE(r.sumOk);
  EXPECT_EQ(r.data, data);
  // The sector number goes low byte first.
  EXPECT_EQ(rig.sim.WireSummary(from), "H:5501452301000A H:516 P:06 H:5502452301000A P:516");
  // And lands where a file system expects it.
  std::ifstream image(rig.dir / "card.img", std::ios::binary);
  image.seekg(0x012345 * 512);
  Sector onDisk{};
  image.read(reinterpret_cast<char*>(onDisk.data()), 512);
  EXPECT_EQ(onDisk, data);

  // A block whose sum is wrong is refused and not written.
  EXPECT_EQ(WriteSectorRaw(rig, 7, Filled(9), 1), 0x15);
  EXPECT_EQ(ReadSectorRaw(rig, 7).data, Sector{});
  // Beyond the card: the read reply keeps its length, the write is refused.
  SectorReply beyond = ReadSectorRaw(rig, rig.sim.Card()->SectorCount());
  EXPECT_TRUE(beyond.arrived);
  EXPECT_EQ(beyond.status, 0x15);
  EXPECT_EQ(WriteSectorRaw(rig, rig.sim.Card()->SectorCount(), data), 0x18);

  // Outside the card access the player lends no sectors.
  ASSERT_EQ(rig.player.CardAccessEnd(), 1);
  EXPECT_EQ(ReadSectorRaw(rig, 0x012345).status, 0x15);
  EXPECT_EQ(WriteSectorRaw(rig, 0x012345, Filled(4)), 0x18);
  rig.link.LinkClose();
}

TEST(SimCard, InjectedSumAndNakFaults) {
  SimRig rig(CardConfig(1u << 20));
  OpenCardAccess(rig);
  rig.sim.faults.corruptReads = 2;
  EXPECT_FALSE(ReadSectorRaw(rig, 1).sumOk);
  EXPECT_FALSE(ReadSectorRaw(rig, 1).sumOk);
  EXPECT_TRUE(ReadSectorRaw(rig, 1).sumOk);
  rig.sim.faults.nakWrites = 2;
  EXPECT_EQ(WriteSectorRaw(rig, 1, Filled(1)), 0x15);
  EXPECT_EQ(WriteSectorRaw(rig, 1, Filled(1)), 0x15);
  EXPECT_EQ(ReadSectorRaw(rig, 1).data, Sector{});
  EXPECT_EQ(WriteSectorRaw(rig, 1, Filled(1)), 0x06);
  EXPECT_EQ(ReadSectorRaw(rig, 1).data, Filled(1));
}

TEST(SimCard, OpensAnImageThatMkfsFatMade) {
  testing::TempDir dir;
  fs::path img = dir / "fat16.img";
  auto mk = testing::Run({"/sbin/mkfs.fat", "-F", "16", "-n", "ZUM-BLA-MF4", "-C", img.string(), "16384"});
  ASSERT_EQ(mk.status, 0) << mk.err;
  SimConfig cfg;
  cfg.cardImage = img;
  SimRig rig(cfg);
  ASSERT_NE(rig.sim.Card(), nullptr);
  EXPECT_EQ(rig.sim.Card()->SectorCount(), 32768u);
  OpenCardAccess(rig);
  SectorReply boot = ReadSectorRaw(rig, 0);
  ASSERT_EQ(boot.status, 0x06);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot.data[54]), 6), "FAT16 ");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot.data[43]), 11), "ZUM-BLA-MF4");
  EXPECT_EQ(boot.data[510], 0x55);
  EXPECT_EQ(boot.data[511], 0xAA);
}

// --- Firmware ---

using testing::SRecord;

class Firmware : public ::testing::Test {
 protected:
  SimRig rig;
  uint8_t Reply(uint32_t timeout = 5000) {
    uint8_t b = 0;
    rig.link.LinkReceive(&b, 1, timeout);
    return b;
  }
  uint8_t Command(uint8_t fn) {
    const uint8_t cmd[6] = {0x55, 0xAA, 0xFF, 0x00, 0x77, fn};
    rig.link.LinkSend(cmd, 6, 2000);
    return Reply();
  }
  uint8_t Control() {
    const uint8_t esc = 0x1B;
    rig.link.LinkSend(&esc, 1, 5000);
    return Reply();
  }
  uint8_t Line(const std::string& text) {
    std::string l = text + "\r";
    rig.link.LinkSend(l.data(), l.size(), 5000);
    return Reply();
  }
  void EnterUpdate() {
    ASSERT_EQ(rig.link.LinkOpen(), 1);
    EXPECT_EQ(Control(), 0);  // outside the update the wake-up bytes get no echo
    EXPECT_EQ(Command(0x80), 0x66);
    EXPECT_EQ(Command(0x81), 0x06);
  }
};

TEST_F(Firmware, UpdateSequenceProgramsTheFlash) {
  rig.sim.faults.softAck = true;  // the update answers 66 all the same, the confirmation 06
  EnterUpdate();
  EXPECT_EQ(Control(), 0x1B);
  EXPECT_EQ(Control(), 0x1B);
  for (int area : {2, 0, 1, 2, 5, 6}) {
    char l[8];
    std::snprintf(l, sizeof l, "ES %02x", area);
    EXPECT_EQ(Line(l), '\r');
  }
  EXPECT_EQ(rig.sim.firmware.erased, (std::vector<int>{2, 0, 1, 2, 5, 6}));
  EXPECT_EQ(Control(), 0x1B);
  EXPECT_EQ(Line("HEXDWL"), '\r');
  EXPECT_EQ(Line(SRecord('0', 0, {'h', 'd', 'r'})), '\r');
  EXPECT_EQ(Line(SRecord('1', 0x0010, {1, 2, 3})), '\r');
  EXPECT_EQ(Line(SRecord('2', 0x012340, {0xAA, 0xBB})), '\r');
  EXPECT_EQ(Line(SRecord('3', 0x00050000, {9})), '\r');
  EXPECT_EQ(Line(SRecord('9', 0, {})), '\r');
  EXPECT_EQ(rig.sim.firmware.records, 5);
  EXPECT_EQ(rig.sim.firmware.badRecords, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Control(), 0x1B);
  EXPECT_EQ(Line("RST"), '\r');
  rig.link.LinkClose();

  const Bytes& f = rig.sim.Flash();
  EXPECT_EQ(f[0x10], 1);
  EXPECT_EQ(f[0x12], 3);
  EXPECT_EQ(f[0x012340], 0xAA);
  EXPECT_EQ(f[0x012341], 0xBB);
  EXPECT_EQ(f[0x050000], 9);
  EXPECT_EQ(f[0x30000], 0xFF);
  EXPECT_EQ(rig.sim.firmware.resets, 1);
  EXPECT_EQ(rig.sim.mode(), Mode::Ram);
  EXPECT_TRUE(rig.sim.firmware.downloadStarted);
}

TEST_F(Firmware, AnErasedPlayerWithoutNewFirmwareWaitsInMode3) {
  EnterUpdate();
  Line("ES 02");
  rig.link.LinkClose();  // the update broke off
  EXPECT_EQ(rig.sim.mode(), Mode::Boot);
  ZumblaInfo info;
  ASSERT_EQ(rig.player.GetZumblaInfo(info), 1);
  EXPECT_EQ(info.Mode(), 3);

  // A bad record is not a programmed firmware either.
  EnterUpdate();
  Line("ES 00");
  Line("HEXDWL");
  std::string bad = SRecord('1', 0x20, {1, 2});
  bad.back() = bad.back() == '0' ? '1' : '0';
  Line(bad);
  Line("RST");
  EXPECT_EQ(rig.sim.firmware.badRecords, 1);
  EXPECT_EQ(rig.sim.mode(), Mode::Boot);
  rig.link.LinkClose();

  // The confirmation alone, without entering the update, is refused.
  rig.link.LinkOpen();
  EXPECT_EQ(Command(0x81), 0x15);
  rig.link.LinkClose();
}

// --- Memory, state folder and faults ---

TEST(SimMemory, TitlesFromThePackageHeaderInPlayerCodes) {
  SimRig rig;
  Bytes pkg(600, 0);
  std::memcpy(pkg.data(), "_MF4", 4);
  std::string title = "Caf\xE9 con le br\xFC" "cke e un titolo lungo";
  std::memcpy(pkg.data() + 122, title.data(), std::min<size_t>(title.size(), 32));
  std::memcpy(pkg.data() + 218, "Autore", 6);
  WriteBinaryFile(rig.dir / "p.mf4", pkg);
  ASSERT_EQ(rig.player.WriteRamFile(rig.dir / "p.mf4"), 1);
  ASSERT_EQ(rig.sim.Songs().size(), 1u);
  const Song& s = rig.sim.Songs()[0];
  EXPECT_EQ(s.title.size(), 29u);
  EXPECT_EQ(s.title.substr(0, 15), std::string("Caf\x05 con le br\x13"));
  EXPECT_EQ(s.author, "Autore");
  EXPECT_EQ(s.data, pkg);
}

TEST(SimState, TheStateFolderKeepsMemorySetupAndFlash) {
  testing::TempDir dir;
  SimConfig cfg;
  cfg.stateDir = dir.path();
  cfg.cardBytes = 1 << 20;
  {
    SimPlayer sim(cfg);
    ASSERT_NE(sim.Card(), nullptr);
    sim.AddSong("One", "A", Bytes(100, 1));
    uint16_t two = sim.AddSong(std::string("T\x05"), "B", Bytes(300, 2));
    sim.AddSong("Three", "C", Bytes(5, 3));
    // Through the wire: a delete and a new setup record.
    sim.Connect();
    Bytes del = {0x1B, 0x1B, 0x55, 0xAA, 0xFF, 0x00, 0x35, 0x83, static_cast<uint8_t>(two), 0};
    sim.FromHost(del.data(), del.size());
    Bytes setup = {0x1B, 0x1B, 0x55, 0xAA, 0xFF, 0x00, 0x36, 0x82};
    for (int i = 0; i < 30; ++i) setup.push_back(static_cast<uint8_t>(i + 1));
    sim.FromHost(setup.data(), setup.size());
    EXPECT_EQ(sim.WireSummary(), "H:10 P:06 P:06 H:38 P:06");
    sim.Disconnect();
  }
  EXPECT_TRUE(fs::exists(dir / "card.img"));
  SimPlayer again(cfg);
  ASSERT_EQ(again.Songs().size(), 2u);
  EXPECT_EQ(again.Songs()[0].title, "One");
  EXPECT_EQ(again.Songs()[1].code, 3);
  EXPECT_EQ(again.Songs()[1].data, Bytes(5, 3));
  EXPECT_EQ(again.setup[0], 1);
  EXPECT_EQ(again.setup[29], 30);
  EXPECT_EQ(again.FreeBytes(), 1024u * 1024 - 105);
  EXPECT_EQ(again.Card()->SectorCount(), 2048u);
}

TEST(SimState, AFaultFileIsReadWhenAConnectionFirstSpeaks) {
  testing::TempDir dir;
  SimConfig cfg;
  cfg.stateDir = dir.path();
  SimPlayer sim(cfg);
  testing::WriteFileOrDie(dir / "faults", "# next connection\nsoft-ack\nnak-writes 2\ncorrupt-reads 1\n");
  EXPECT_FALSE(sim.faults.softAck);
  sim.Connect();
  EXPECT_FALSE(sim.faults.softAck);  // a probe that says nothing leaves the file
  sim.Disconnect();
  sim.Connect();
  const uint8_t wake = 0x1B;
  sim.FromHost(&wake, 1);
  EXPECT_TRUE(sim.faults.softAck);
  EXPECT_EQ(sim.faults.nakWrites, 2);
  EXPECT_EQ(sim.faults.corruptReads, 1);
  EXPECT_FALSE(fs::exists(dir / "faults"));
  sim.Disconnect();
  testing::WriteFileOrDie(dir / "faults", "clear\nstop-after 3\n");
  sim.Connect();
  sim.FromHost(&wake, 1);
  EXPECT_FALSE(sim.faults.softAck);
  EXPECT_EQ(sim.faults.stopAfterBytes, 3);
}

TEST(SimCard, FaultsAtRandomRates) {
  SimRig rig(CardConfig(1u << 20));
  OpenCardAccess(rig);
  std::string err;
  ASSERT_TRUE(rig.sim.faults.Parse("corrupt-read-rate 1000\nnak-write-rate 1000", &err));
  EXPECT_FALSE(ReadSectorRaw(rig, 1).sumOk);
  EXPECT_EQ(WriteSectorRaw(rig, 1, Filled(1)), 0x15);
  ASSERT_TRUE(rig.sim.faults.Parse("corrupt-read-rate 0\nnak-write-rate 0", &err));
  EXPECT_TRUE(ReadSectorRaw(rig, 1).sumOk);
  EXPECT_EQ(WriteSectorRaw(rig, 1, Filled(1)), 0x06);

  // A share near the rate, the same for the same seed.
  auto draws = [](int seed) {
    Faults f;
    std::string e;
    EXPECT_TRUE(f.Parse("seed " + std::to_string(seed), &e));
    std::vector<bool> d;
    for (int i = 0; i < 2000; ++i) d.push_back(f.Draw(250));
    return d;
  };
  auto a = draws(7);
  EXPECT_EQ(a, draws(7));
  EXPECT_NE(a, draws(8));
  long hits = std::count(a.begin(), a.end(), true);
  EXPECT_GT(hits, 400);
  EXPECT_LT(hits, 600);
}

TEST(Faults, ParseRefusesWhatItDoesNotKnow) {
  Faults f;
  std::string err;
  EXPECT_TRUE(f.Parse("busy-handshake -1\ndrop-after 10\n\n", &err));
  EXPECT_EQ(f.busyHandshakes, -1);
  EXPECT_EQ(f.dropAfterBytes, 10);
  EXPECT_TRUE(f.Parse("lose-replies 2", &err));
  EXPECT_EQ(f.loseReplies, 2);
  EXPECT_TRUE(f.Parse("plain-ack-update", &err));
  EXPECT_TRUE(f.plainAckUpdate);
  EXPECT_TRUE(f.Parse("plain-ack-update 0", &err));
  EXPECT_FALSE(f.plainAckUpdate);
  EXPECT_FALSE(f.Parse("stop-after ten", &err));
  EXPECT_NE(err.find("not a number"), std::string::npos);
  EXPECT_FALSE(f.Parse("explode 1", &err));
  EXPECT_NE(err.find("explode"), std::string::npos);
}

TEST(SimWire, StopAndDropFaults) {
  SimRig rig;
  rig.sim.faults.stopAfterBytes = 5;
  ZumblaInfo info;
  EXPECT_EQ(rig.player.GetZumblaInfo(info), 0);
  EXPECT_EQ(rig.sim.WireSummary(), "H:1B H:1B H:55AAFF003680 P:06 P:5A554D42");
  // Silent until told otherwise, also on a new connection.
  EXPECT_EQ(rig.player.GetZumblaInfo(info), 0);
  rig.sim.faults.stopAfterBytes = -1;
  EXPECT_EQ(rig.player.GetZumblaInfo(info), 1);

  rig.sim.faults.dropAfterBytes = 3;
  uint64_t before = rig.clock.NowMs();
  EXPECT_EQ(rig.player.GetZumblaInfo(info), 0);
  EXPECT_EQ(rig.clock.NowMs(), before);  // a hung-up player fails the receive at once
  EXPECT_EQ(rig.player.GetZumblaInfo(info), 1);  // the drop strikes once
}

TEST(SimWire, TheWireLogFileHasEveryByteBothWays) {
  testing::TempDir dir;
  SimConfig cfg;
  cfg.wireLogPath = dir / "wire.log";
  SimRig rig(cfg);
  ZumblaInfo info;
  ASSERT_EQ(rig.player.GetZumblaInfo(info), 1);
  std::string log = testing::ReadFileOrEmpty(dir / "wire.log");
  EXPECT_EQ(log.substr(0, 44), "H> 1B\nH> 1B\nH> 55 AA FF 00 36 80\nP< 06\nP< 5A");
  EXPECT_NE(log.find("31 2E 31 32"), std::string::npos);  // "1.12"
}

}  // namespace
}  // namespace kestro::sim
