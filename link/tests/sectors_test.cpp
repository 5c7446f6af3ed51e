// Card sector access against the simulated player, in-process on a virtual
// clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/sectors.h"
#include "sim/sim_rig.h"

namespace kestro {
namespace {

using sim::SimConfig;
using sim::SimRig;

SimConfig Card(Transport as = Transport::Ftdi) {
  SimConfig c;
  c.cardBytes = 1 << 20;
  c.mode = sim::Mode::Card;
  c.as = as;
  return c;
}

std::array<uint8_t, 512> Pattern(uint8_t seed) {
  std::array<uint8_t, 512> s;
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed + i * 7);
  return s;
}

class SectorTest : public ::testing::TestWithParam<Transport> {
 protected:
  SectorTest() : rig(Card(GetParam())), sectors(rig.link) {
    sectors.traceSink = [this](std::string_view l) { trace.emplace_back(l); };
    EXPECT_EQ(rig.link.LinkOpen(), 1);
    EXPECT_EQ(rig.player.CardAccessBegin(), 1);
    EXPECT_EQ(rig.player.CardAccessOpen(), 1);
  }
  // Sector commands the host sent, in hex.
  std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const auto& w : rig.sim.wire) {
      if (!w.fromHost || w.bytes.size() != 7 || w.bytes[0] != 0x55) continue;
      std::string s;
      for (uint8_t b : w.bytes) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
      }
      out.push_back(s);
    }
    return out;
  }
  SimRig rig;
  SectorAccess sectors;
  std::vector<std::string> trace;
  int& state = rig.link.linkErrorState;
};

INSTANTIATE_TEST_SUITE_P(BothTransports, SectorTest, ::testing::Values(Transport::Ftdi, Transport::Bulk),
                         [](const ::testing::TestParamInfo<Transport>& p) { return std::string(TransportName(p.param)); });

TEST_P(SectorTest, CommandsCarryTheSectorLowByteFirstAndWritesTheirSum) {
  std::array<uint8_t, 512> buf{};
  rig.sim.wire.clear();
  sectors.FlashReadSector(0x012345, buf.data());  // beyond this small card: refused, but sent
  auto data = Pattern(9);
  ASSERT_EQ(sectors.FlashWriteSector(0x000102, data.data()), 1);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"5502452301000A", "5501020100000A"}));
  // The data block: 512 bytes, FF FF, the sum high byte first.
  const sim::WireEntry* block = nullptr;
  for (const auto& w : rig.sim.wire) {
    if (w.fromHost && w.bytes.size() == 516) block = &w;
  }
  ASSERT_NE(block, nullptr);
  uint16_t sum = FileSum16(data.data(), 512);
  EXPECT_EQ(0, std::memcmp(block->bytes.data(), data.data(), 512));
  EXPECT_EQ(block->bytes[512], 0xFF);
  EXPECT_EQ(block->bytes[513], 0xFF);
  EXPECT_EQ(block->bytes[514], sum >> 8);
  EXPECT_EQ(block->bytes[515], sum & 0xFF);
}

TEST_P(SectorTest, RunsReadAndWriteTheCardWithATraceLineAndAProgressStepPerSector) {
  std::vector<uint8_t> out(3 * 512), in(3 * 512);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 13 + 1);
  sectors.areas = {32, 33, 97, 105};
  rig.ui.SetProgressTitle("t");
  rig.ui.ProgressStart(100);
  ASSERT_EQ(sectors.WriteSectors(96, 3, out.data()), 1);
  ASSERT_EQ(sectors.ReadSectors(96, 3, in.data()), 1);
  EXPECT_EQ(in, out);
  EXPECT_EQ(rig.ui.steps, 6);
  EXPECT_EQ(sectors.writeCount, 3u);
  EXPECT_EQ(sectors.traffic.reads, 3u);
  EXPECT_EQ(sectors.traffic.writes, 3u);
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace.front(), "Writing sector: 96 (3 sectors) [FAT]");
  EXPECT_EQ(trace.back(), "Reading sector: 96 (3 sectors) [FAT]");
  EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](auto& l) { return l.rfind("T=", 0) == 0; }), 3);
  std::array<uint8_t, 512> card{};
  ASSERT_TRUE(rig.sim.Card()->Read(97, card.data()));
  EXPECT_EQ(0, std::memcmp(card.data(), out.data() + 512, 512));
}

TEST_P(SectorTest, ARefusedReadFailsWithoutLookingAtTheSum) {
  std::array<uint8_t, 512> buf;
  buf.fill(0x5A);
  EXPECT_EQ(sectors.FlashReadSector(5000, buf.data()), 0);  // past the end of the card
  EXPECT_EQ(rig.link.linkErrorText, "Invalid char 15");
  EXPECT_EQ(state, 0);
  EXPECT_EQ(buf[0], 0x5A);
  // A run passes such a sector over after five retries and goes on.
  std::vector<uint8_t> run(2 * 512, 0x11);
  rig.sim.wire.clear();
  EXPECT_EQ(sectors.ReadSectors(2047, 2, run.data()), 1);
  EXPECT_EQ(sectors.failedSectors, 1u);
  EXPECT_EQ(Commands().size(), 1u + 6u);
}

TEST_P(SectorTest, AWrongSumIsRetriedFiveTimesThenPassedOver) {
  auto data = Pattern(3);
  ASSERT_TRUE(rig.sim.Card()->Write(10, data.data()));
  std::array<uint8_t, 512> buf{};
  rig.sim.faults.corruptReads = 1;
  EXPECT_EQ(sectors.FlashReadSector(10, buf.data()), 0);
  EXPECT_EQ(state, 3);
  EXPECT_EQ(buf, data);  // the data comes even with a wrong sum
  EXPECT_NE(std::find(trace.begin(), trace.end(), "Sector read: checksum error"), trace.end());

  struct Case {
    int corrupt;
    uint32_t failed;
    uint64_t exchanges;
  } cases[] = {{0, 0, 1}, {5, 0, 6}, {6, 1, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.corrupt);
    rig.sim.faults.corruptReads = c.corrupt;
    buf.fill(0);
    uint64_t before = sectors.traffic.reads;
    EXPECT_EQ(sectors.ReadSectors(10, 1, buf.data()), 1);
    EXPECT_EQ(sectors.failedSectors, c.failed);
    EXPECT_EQ(sectors.traffic.reads - before, c.exchanges);
    EXPECT_EQ(buf, data);
  }
  // The state 3 a failed sector leaves is cleared by the next sector.
  rig.sim.faults.corruptReads = 6;
  std::vector<uint8_t> two(1024);
  EXPECT_EQ(sectors.ReadSectors(10, 2, two.data()), 1);
  EXPECT_EQ(state, 0);
}

TEST_P(SectorTest, ANakedWriteIsRepeatedUntilTakenButNotForever) {
  auto data = Pattern(4);
  rig.sim.faults.nakWrites = 1;
  ASSERT_EQ(sectors.WriteSectors(20, 1, data.data()), 1);
  // The refused write, then the round of two.
  EXPECT_EQ(sectors.traffic.writes, 3u);
  EXPECT_EQ(rig.link.linkErrorText, "Checksum error 15 writeOPCNT=1");
  std::array<uint8_t, 512> card{};
  ASSERT_TRUE(rig.sim.Card()->Read(20, card.data()));
  EXPECT_EQ(card, data);

  rig.sim.faults.nakWrites = 1000;
  uint64_t before = sectors.traffic.writes;
  EXPECT_EQ(sectors.WriteSectors(21, 2, data.data()), 0);
  EXPECT_EQ(sectors.traffic.writes - before, 1u + 2u * SectorAccess::kWriteRetryRounds);
  EXPECT_EQ(state, 1);
  // Refused at once from now on.
  EXPECT_EQ(sectors.WriteSectors(21, 1, data.data()), 0);
  EXPECT_EQ(sectors.traffic.writes - before, 1u + 2u * SectorAccess::kWriteRetryRounds);
}

TEST_P(SectorTest, ALostLinkStopsTheRunAndEveryLaterOneAtOnce) {
  // The bulk link is lost at the first transfer that fails; the bridge's
  // failures leave the state to the sector's retries, and the link counts as
  // lost once a sector's read and all its retries got no answer.
  const uint64_t exchanges = GetParam() == Transport::Ftdi ? 1u + SectorAccess::kUnansweredLimit : 2u;
  std::vector<uint8_t> buf(8 * 512);
  for (bool drop : {true, false}) {
    SCOPED_TRACE(drop ? "hang-up" : "silence");
    state = 0;
    if (!rig.link.IsOpen()) {
      ASSERT_EQ(rig.link.LinkOpen(), 1);
      rig.player.CardAccessBegin();
      rig.player.CardAccessOpen();
    }
    // Partway through the second sector's answer.
    if (drop) {
      rig.sim.faults.dropAfterBytes = 516 + 100;
    } else {
      rig.sim.faults.stopAfterBytes = 516 + 100;
    }
    uint64_t before = sectors.traffic.reads;
    const uint64_t startMs = rig.clock.NowMs();
    EXPECT_EQ(sectors.ReadSectors(0, 8, buf.data()), 0);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(sectors.traffic.reads - before, exchanges);
    // Every wait is bounded: a silent player costs the time-outs of one
    // sector's retries, not of the whole run.
    EXPECT_LT(rig.clock.NowMs() - startMs, 60000u);
    EXPECT_EQ(sectors.ReadSectors(0, 1, buf.data()), 0);
    EXPECT_EQ(sectors.WriteSectors(0, 1, buf.data()), 0);
    EXPECT_EQ(sectors.FlashReadSector(0, buf.data()), 0);
    EXPECT_EQ(sectors.FlashWriteSector(0, buf.data()), 0);
    EXPECT_EQ(sectors.traffic.reads - before, exchanges);
    rig.sim.faults.stopAfterBytes = -1;
    rig.sim.faults.dropAfterBytes = -1;
    rig.link.LinkClose();
  }
}

TEST_P(SectorTest, AMissedAnswerIsRetriedOverTheBridgeAndLosesTheBulkLink) {
  const bool ftdi = GetParam() == Transport::Ftdi;
  std::vector<uint8_t> data(4 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 5 + 1);
  for (uint32_t k = 0; k < 4; ++k) ASSERT_TRUE(rig.sim.Card()->Write(30 + k, data.data() + k * 512));
  struct Case {
    const char* what;
    bool write;
    int lost;  // answers lost on the way, from the second sector on
  } cases[] = {{"one read answer", false, 1}, {"two read answers", false, 2}, {"one write answer", true, 1},
               {"three write answers", true, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    state = 0;
    if (!rig.link.IsOpen()) {
      ASSERT_EQ(rig.link.LinkOpen(), 1);
      rig.player.CardAccessBegin();
      rig.player.CardAccessOpen();
    }
    std::vector<uint8_t> buf(data.size(), 0);
    int done;
    if (c.write) {
      ASSERT_EQ(sectors.WriteSectors(40, 1, data.data()), 1);
      rig.sim.faults.loseReplies = c.lost;
      done = sectors.WriteSectors(41, 3, data.data() + 512);
    } else {
      ASSERT_EQ(sectors.ReadSectors(30, 1, buf.data()), 1);
      rig.sim.faults.loseReplies = c.lost;
      done = sectors.ReadSectors(31, 3, buf.data() + 512);
    }
    if (ftdi) {
      // The bridge's failed transfer is no lost link: the retries run and the
      // whole run gets through.
      EXPECT_EQ(done, 1);
      EXPECT_EQ(state, 0);
      if (c.write) {
        for (uint32_t k = 0; k < 4; ++k) {
          std::array<uint8_t, 512> got{};
          ASSERT_TRUE(rig.sim.Card()->Read(40 + k, got.data()));
          EXPECT_EQ(0, std::memcmp(got.data(), data.data() + k * 512, 512)) << k;
        }
      } else {
        EXPECT_EQ(sectors.failedSectors, 0u);
        EXPECT_EQ(buf, data);
      }
    } else {
      EXPECT_EQ(done, 0);
      EXPECT_EQ(state, 1);
    }
    rig.sim.faults.loseReplies = 0;
    rig.link.LinkClose();
  }
}

TEST_P(SectorTest, AClosedLinkIsRefusedBeforeAnyTraffic) {
  std::vector<uint8_t> buf(512);
  rig.link.linkOpenFlag = 0;
  EXPECT_EQ(sectors.ReadSectors(0, 1, buf.data()), 0);
  EXPECT_EQ(sectors.WriteSectors(0, 1, buf.data()), 0);
  EXPECT_EQ(sectors.traffic.reads + sectors.traffic.writes, 0u);
  rig.link.linkOpenFlag = 1;
  // Sector numbers beyond 24 bits would wrap onto other sectors.
  EXPECT_EQ(sectors.FlashWriteSector(0x1000000, buf.data()), 0);
  EXPECT_EQ(sectors.FlashWriteSector(kIdentifySectorNumber, buf.data()), 0);
  EXPECT_EQ(sectors.FlashReadSector(0x1000000, buf.data()), 0);
  EXPECT_EQ(sectors.traffic.reads + sectors.traffic.writes, 0u);
}

TEST_P(SectorTest, TheIdentificationPseudoSector) {
  std::array<uint8_t, 512> id{};
  ASSERT_EQ(sectors.ReadSectors(kIdentifySectorNumber, 1, id.data()), 1);
  EXPECT_EQ(id[0] | id[1] << 8, 0x848A);
  EXPECT_EQ(trace.front(), "Reading sector: 16777215 (1 sectors) [Flash Header]");
}

TEST(SectorAreaName, NamesTheAreasOfTheMountedVolume) {
  SectorAreas a{32, 33, 97, 105};
  struct Case {
    uint32_t sector;
    const char* name;
  } cases[] = {{0xFFFFFF, "Flash Header"}, {0, "MBR"},      {5, "PBR/MBR hidden"}, {32, "PBR"},
               {33, "FAT"},            {96, "FAT"},       {97, "RootDir"},       {104, "RootDir"},
               {105, "Data"},          {99999, "Data"}};
  for (const auto& c : cases) EXPECT_STREQ(SectorAreaName(a, c.sector), c.name) << c.sector;
  // Reserved sectors after the boot sector.
  SectorAreas r{0, 4, 10, 20};
  EXPECT_STREQ(SectorAreaName(r, 2), "PBR/MBR");
  // Nothing mounted.
  EXPECT_STREQ(SectorAreaName(SectorAreas{}, 7), "Data");
}

TEST(FatTimestamp, StampsTimesAndDatesOfTheEntry) {
  std::array<uint8_t, 32> e;
  e.fill(0xAA);
  FatTimestamp(e.data(), LocalDateTime{2024, 3, 17, 21, 45, 37});
  unsigned time = 21u << 11 | 45u << 5 | 18u;
  unsigned date = 44u << 9 | 3u << 5 | 17u;
  EXPECT_EQ(e[13], 100);
  for (int at : {14, 22}) EXPECT_EQ(e[at] | e[at + 1] << 8, static_cast<int>(time)) << at;
  for (int at : {16, 18, 24}) EXPECT_EQ(e[at] | e[at + 1] << 8, static_cast<int>(date)) << at;
  EXPECT_EQ(e[0], 0xAA);
  EXPECT_EQ(e[12], 0xAA);
  EXPECT_EQ(e[20], 0xAA);
  FatTimestamp(e.data(), LocalDateTime{2024, 3, 17, 21, 45, 36});
  EXPECT_EQ(e[13], 0);

  for (auto t : {std::optional<LocalDateTime>(), std::optional(LocalDateTime{1979, 12, 31, 0, 0, 0}),
                 std::optional(LocalDateTime{2108, 1, 1, 0, 0, 0})}) {
    std::array<uint8_t, 32> u;
    u.fill(0x55);
    FatTimestamp(u.data(), t);
    EXPECT_EQ(std::count(u.begin(), u.end(), 0x55), 32);
  }
}

}  // namespace
}  // namespace kestro
