// Damaged cards and a failing link: Kestro reports and stops, never hangs,
// never reaches past the volume.
#include <cstring>

#include "cardfs/tests/card_rig.h"

namespace kestro::cardtest {
namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

// A formatted 16 MB card (clusters of one sector) with a few files on it.
class Damaged : public ::testing::Test {
 protected:
  Damaged() : r(CardConfig(16 << 20)) {
    EXPECT_EQ(r.card.FormatCard(), 1);
    EXPECT_EQ(r.card.CheckCard(), 1);
    EXPECT_EQ(r.card.MakeDirectory(FolderName11(4)), 1);
    EXPECT_EQ(r.Write("", "SONG    MF4", Pattern(5 * 512, 1)), 1);
    v = r.card.Volume();
  }
  // Sets a FAT entry on the card itself (both FATs) and mounts again.
  void SetOnCard(uint32_t cluster, uint16_t value) {
    for (uint32_t f = 0; f < 2; ++f) {
      uint32_t sector = v.firstFatSector + f * v.sectorsPerFat + cluster / 256;
      std::array<uint8_t, 512> s{};
      ASSERT_TRUE(r.rig.sim.Card()->Read(sector, s.data()));
      Put16(s.data() + (cluster % 256) * 2, value);
      ASSERT_TRUE(r.rig.sim.Card()->Write(sector, s.data()));
    }
  }
  void Remount() {
    r.rig.ui.messages.clear();
    ASSERT_EQ(r.card.CheckCard(), 1);
    r.rig.sim.wire.clear();
  }
  uint16_t FirstCluster(std::string_view dir, std::string_view name) {
    CardDirEntry e;
    EXPECT_EQ(r.card.FindEntry(dir, name, e), 1);
    return e.FirstCluster();
  }
  bool ShowedDamage() { return r.rig.ui.Showed(r.T("MSG_CF_INTERNAL_ERR")); }
  void ExpectInsideVolume() {
    for (bool w : {false, true})
      for (uint32_t s : r.Asked(w)) {
        EXPECT_GE(s, v.partitionOffset) << s;
        EXPECT_LT(s, v.VolumeEnd()) << s;
      }
  }
  CardRig r;
  VolumeRecord v;
};

TEST_F(Damaged, FileChainsThatLoopOrLeaveTheVolumeEndTheRead) {
  uint16_t c = FirstCluster("", "SONG    MF4");
  struct Case {
    const char* what;
    uint32_t at;
    uint16_t value;
  } cases[] = {
      {"loop back to the start", 2u, c},
      {"loop onto itself", 3u, static_cast<uint16_t>(c + 3)},
      {"past the last cluster", 1u, static_cast<uint16_t>(v.clusterCount + 10)},
      {"to the FAT's own entries", 1u, 1},
      {"a bad-cluster mark", 1u, 0xFFF7},
      {"ends early", 2u, 0xFFFF},
      {"into free clusters", 2u, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    // Restore the chain, then break it.
    for (uint32_t i = 0; i < 4; ++i) SetOnCard(c + i, static_cast<uint16_t>(c + i + 1));
    SetOnCard(c + 4u, 0xFFFF);
    SetOnCard(c + k.at, k.value);
    Remount();
    EXPECT_EQ(r.Read("", "SONG    MF4"), std::nullopt);
    EXPECT_TRUE(ShowedDamage());
    EXPECT_FALSE(FileExists(r.dir() / "readback.bin"));
    EXPECT_EQ(r.state(), 0);  // the card stays usable
    ExpectInsideVolume();
  }
  // Deleting the damaged file gives back what the chain reaches and ends.
  ASSERT_EQ(r.card.CardDeleteFile("", "SONG    MF4"), 1);
  EXPECT_EQ(r.card.FatGetEntry(c), 0);
  EXPECT_EQ(r.card.FatGetEntry(c + 1), 0);
  ExpectInsideVolume();
}

TEST_F(Damaged, DeletingACyclicChainEnds) {
  uint16_t c = FirstCluster("", "SONG    MF4");
  SetOnCard(c + 4u, c);
  Remount();
  uint32_t free0 = r.card.CountFreeClusters();
  ASSERT_EQ(r.card.CardDeleteFile("", "SONG    MF4"), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), free0 + 5);
  EXPECT_EQ(r.card.CountChains(), 1u);  // the folder
}

TEST_F(Damaged, AnEntryPointingOutsideTheVolume) {
  // The entry's first cluster lies past the last cluster.
  std::array<uint8_t, 512> root{};
  ASSERT_TRUE(r.rig.sim.Card()->Read(v.firstRootSector, root.data()));
  CardDirEntry e;
  ASSERT_EQ(r.card.FindEntry("", "SONG    MF4", e), 1);
  Put16(root.data() + e.index * 32 + 26, 0xFF00);
  ASSERT_TRUE(r.rig.sim.Card()->Write(v.firstRootSector, root.data()));
  Remount();
  EXPECT_EQ(r.Read("", "SONG    MF4"), std::nullopt);
  EXPECT_TRUE(ShowedDamage());
  EXPECT_EQ(r.card.CardDeleteFile("", "SONG    MF4"), 1);
  ExpectInsideVolume();
}

TEST_F(Damaged, AFolderWhoseChainBreaksIsReportedAndStops) {
  // A folder of two clusters, then its first cluster's FAT entry broken.
  for (uint16_t i = 0; i < 16; ++i) ASSERT_EQ(r.Write(FolderName11(4), SongName11(4 + 31 * i), Bytes(10, 1)), 1);
  uint16_t dir = FirstCluster("", FolderName11(4));
  ASSERT_NE(r.card.FatGetEntry(dir), 0xFFFF);
  struct Case {
    const char* what;
    uint16_t value;
  } cases[] = {{"free", 0}, {"itself", dir}, {"outside", 0xFF00}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    SetOnCard(dir, k.value);
    Remount();
    CardDirEntry e;
    // The last song sits in the second cluster.
    EXPECT_EQ(r.card.FindEntry(FolderName11(4), SongName11(4 + 31 * 15), e), 0);
    EXPECT_TRUE(ShowedDamage());
    EXPECT_EQ(r.state(), 1);
    r.state() = 0;
    r.rig.ui.messages.clear();
    uint8_t buf[32];
    int n = 0;
    for (int more = r.card.ListDirFirst(FolderName11(4), buf); more && n < 100; more = r.card.ListDirNext(buf)) ++n;
    EXPECT_EQ(n, 16);  // ".", "..", 14 songs: the rest cannot be reached
    EXPECT_TRUE(ShowedDamage());
    r.state() = 0;
    // No place for a new entry either: the folder cannot be walked.
    EXPECT_EQ(r.Write(FolderName11(4), SongName11(900), Bytes(3, 3)), 0);
    ExpectInsideVolume();
  }
  // A folder entry that points nowhere.
  std::array<uint8_t, 512> root{};
  ASSERT_TRUE(r.rig.sim.Card()->Read(v.firstRootSector, root.data()));
  CardDirEntry f;
  ASSERT_EQ(r.card.FindEntry("", FolderName11(4), f), 1);
  Put16(root.data() + f.index * 32 + 26, 0);
  ASSERT_TRUE(r.rig.sim.Card()->Write(v.firstRootSector, root.data()));
  Remount();
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry(FolderName11(4), SongName11(4), e), 0);
  EXPECT_TRUE(ShowedDamage());
}

// Boot sectors whose geometry cannot be a volume.
TEST(DamagedBootSector, IsAnUnusableFormatAndNothingIsReadBeyondTheSearch) {
  struct Case {
    const char* what;
    size_t at;
    int bytes;
    uint32_t value;
  } cases[] = {
      {"0 sectors per cluster", 13, 1, 0},  {"no reserved sectors", 14, 2, 0},
      {"no FAT", 16, 1, 0},                 {"no root directory", 17, 2, 0},
      {"0 sectors per FAT", 22, 2, 0},      {"0 sectors", 19, 2, 0},
      {"FATs larger than the volume", 22, 2, 0xFFFF},
      {"more than a card can address", 32, 4, 0xFFFFFFF0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    CardRig r(CardConfig(16 << 20));
    ASSERT_EQ(r.card.FormatCard(), 1);
    std::array<uint8_t, 512> pbr{};
    ASSERT_TRUE(r.rig.sim.Card()->Read(32, pbr.data()));
    for (int i = 0; i < k.bytes; ++i) pbr[k.at + static_cast<size_t>(i)] = static_cast<uint8_t>(k.value >> (8 * i));
    if (k.at == 32) Put16(pbr.data() + 19, 0);
    ASSERT_TRUE(r.rig.sim.Card()->Write(32, pbr.data()));
    r.rig.sim.wire.clear();
    r.rig.ui.answers = {kIdCancel};
    EXPECT_EQ(r.card.CheckCard(), 0);
    EXPECT_FALSE(r.card.MountProblem().empty());
    EXPECT_EQ(r.rig.ui.questionsAsked, 1);
    EXPECT_TRUE(r.rig.ui.Showed(r.T("MSG_FLAHBADFORMAT")));
    EXPECT_EQ(r.state(), 1);
    EXPECT_TRUE(r.Asked(true).empty());
    for (uint32_t s : r.Asked(false)) EXPECT_TRUE(s == 0xFFFFFF || s <= 255) << s;
  }
}

TEST(DamagedBootSector, ASectorSizeOtherThan512FailsTheCheckQuietly) {
  CardRig r(CardConfig(16 << 20));
  ASSERT_EQ(r.card.FormatCard(), 1);
  std::array<uint8_t, 512> pbr{};
  ASSERT_TRUE(r.rig.sim.Card()->Read(32, pbr.data()));
  Put16(pbr.data() + 11, 1024);
  ASSERT_TRUE(r.rig.sim.Card()->Write(32, pbr.data()));
  EXPECT_EQ(r.card.MountVolume(), 0);
  EXPECT_EQ(r.state(), 0);
  EXPECT_EQ(r.card.CheckCard(), 0);
  EXPECT_EQ(r.state(), 1);
  EXPECT_TRUE(r.rig.ui.messages.empty());
  EXPECT_FALSE(r.card.Mounted());
  // Nothing works on a card that is not mounted.
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry("", "ZUM-BLA-MF4", e), 0);
  EXPECT_EQ(r.card.CardWriteFile("", "X       DAT", r.PcFile("x", Bytes(1, 1))), 0);
  EXPECT_EQ(r.card.FindFreeCluster(), 0);
}

TEST(DamagedIdentification, OddGeometryStillFindsTheVolumeBySearching) {
  for (uint32_t t : {0u, 40u, 0xFFFFu}) {
    SCOPED_TRACE(t);
    CardRig r(CardConfig(16 << 20));
    ASSERT_EQ(r.card.FormatCard(), 1);
    auto id = r.rig.sim.Card()->Identify();
    Put16(id.data() + 12, t);
    Put16(id.data() + 14, 0);  // sectors per card: none
    Put16(id.data() + 16, 0);
    Put16(id.data() + 120, t == 40 ? 0 : 0x10);  // LBA sectors: none, or few
    Put16(id.data() + 122, 0);
    r.rig.sim.identify = id;
    r.rig.sim.wire.clear();
    ASSERT_EQ(r.card.CheckCard(), 1);
    EXPECT_EQ(r.card.Volume().partitionOffset, 32);
    for (uint32_t s : r.Asked(false)) EXPECT_TRUE(s == 0xFFFFFF || s < r.card.Volume().VolumeEnd()) << s;
  }
}

TEST(DamagedBootSector, Fat12AndNothingAreUnusableFat32IsNamed) {
  struct Case {
    const char* what;
    uint32_t sector;
    size_t at;
    const char* text;
    int state;
  } cases[] = {
      {"FAT12 at the start", 0, 54, "FAT12   ", 6},
      {"FAT12 found searching", 100, 54, "FAT12   ", 6},
      {"FAT32 at the start", 0, 82, "FAT32   ", 7},
      {"FAT32 at the format's place", 32, 82, "FAT32   ", 7},
      {"FAT32 found searching", 77, 82, "FAT32   ", 7},
      {"nothing", 300, 54, "FAT16   ", 6},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    CardRig r(CardConfig(16 << 20));
    std::array<uint8_t, 512> s{};
    std::memcpy(s.data() + k.at, k.text, 8);
    ASSERT_TRUE(r.rig.sim.Card()->Write(k.sector, s.data()));
    EXPECT_EQ(r.card.MountVolume(), 0);
    EXPECT_EQ(r.state(), k.state);
    EXPECT_FALSE(r.rig.ui.Progress().open);
  }
}

TEST(DamagedBootSector, ExtenCountsAsFat16AndHugeSectorsAreRead) {
  // mkfs.fat-like volume at sector 0 with "EXTEN" and the size in bytes 32-35.
  CardRig r(CardConfig(40 << 20));
  ASSERT_EQ(r.card.FormatCard(), 1);
  std::array<uint8_t, 512> pbr{};
  ASSERT_TRUE(r.rig.sim.Card()->Read(32, pbr.data()));
  EXPECT_EQ(pbr[19] | pbr[20] << 8, 0);  // 40 MB: more than 65535 sectors
  std::memcpy(pbr.data() + 54, "EXTEN   ", 8);
  ASSERT_TRUE(r.rig.sim.Card()->Write(32, pbr.data()));
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.card.Volume().totalSectors, static_cast<uint32_t>(pbr[32] | pbr[33] << 8 | pbr[34] << 16));
  EXPECT_GT(r.card.Volume().totalSectors, 65535u);
}

// --- The link fails while the card is written ---

class FailingLink : public ::testing::TestWithParam<Transport> {
 protected:
  FailingLink() : r(Config()) {
    EXPECT_EQ(r.card.FormatCard(), 1);
    EXPECT_EQ(r.card.CheckCard(), 1);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(r.card.MakeDirectory(FolderName11(f)), 1);
    EXPECT_EQ(r.card.FlushFat(), 1);
  }
  sim::SimConfig Config() {
    sim::SimConfig c = CardConfig(16 << 20);
    c.as = GetParam();
    return c;
  }
  CardRig r;
};

INSTANTIATE_TEST_SUITE_P(BothTransports, FailingLink, ::testing::Values(Transport::Ftdi, Transport::Bulk),
                         [](const ::testing::TestParamInfo<Transport>& p) { return std::string(TransportName(p.param)); });

TEST_P(FailingLink, RefusedWritesAndBadSumsAreRetriedAndTheFileArrives) {
  r.rig.sim.faults.nakWrites = 3;
  r.rig.sim.faults.corruptReads = 4;
  ASSERT_EQ(r.Write(FolderName11(1), SongName11(1), Pattern(20000, 1)), 1);
  r.rig.sim.faults.corruptReads = 5;
  EXPECT_EQ(r.Read(FolderName11(1), SongName11(1)), Pattern(20000, 1));
  EXPECT_EQ(r.state(), 0);
}

TEST_P(FailingLink, ALostLinkUnwindsTheBatchAndTheCardStaysSound) {
  r.card.SetDeferredFlush(true);
  ASSERT_EQ(r.Write(FolderName11(1), SongName11(1), Pattern(3000, 1)), 1);
  // The link goes in the middle of the second song's data: after the
  // folder's sector (516 bytes) and 30 acknowledged sector writes.
  r.rig.sim.faults.dropAfterBytes = 516 + 30;
  uint64_t before = r.sectors.traffic.reads + r.sectors.traffic.writes;
  EXPECT_EQ(r.Write(FolderName11(2), SongName11(2), Pattern(40000, 2)), 0);
  EXPECT_EQ(r.state(), 1);
  uint64_t spent = r.sectors.traffic.reads + r.sectors.traffic.writes - before;
  EXPECT_LT(spent, 40u);
  // Everything after it refuses at once.
  EXPECT_EQ(r.Write(FolderName11(0), SongName11(31), Pattern(100, 3)), 0);
  EXPECT_EQ(r.Read(FolderName11(1), SongName11(1)), std::nullopt);
  r.card.SetDeferredFlush(false);
  EXPECT_EQ(r.card.FlushFat(), 0);
  EXPECT_EQ(r.sectors.traffic.reads + r.sectors.traffic.writes - before, spent);

  // The next connection finds the card as it was before the batch: the
  // first song's entry waited for the FAT, which never came.
  r.rig.link.LinkClose();
  r.rig.sim.faults.dropAfterBytes = -1;
  r.Open();
  ASSERT_EQ(r.card.CheckCard(), 1);
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry(FolderName11(2), SongName11(2), e), 0);
  EXPECT_EQ(r.card.FindEntry(FolderName11(1), SongName11(1), e), 0);
  EXPECT_EQ(r.card.CountFreeClusters(), r.card.Volume().playerClusterCount - 2 - 3);
  if (HaveTools()) {
    auto fsck = Fsck(r.Image(), r.card.Volume().partitionOffset, r.card.Volume().totalSectors);
    EXPECT_EQ(fsck.status, 0) << fsck.out;
  }
}

}  // namespace
}  // namespace kestro::cardtest
