// Names, the free count and what the card shows.
#include <cstring>

#include "cardfs/tests/card_rig.h"

namespace kestro::cardtest {
namespace {

TEST(Names, TypedNamesAndTheDirectoryForm) {
  struct Case {
    const char* typed;
    const char* name11;
  } cases[] = {
      {"MINDEX0.DAT", "MINDEX0 DAT"}, {"msetup.dat", "MSETUP  DAT"}, {"ZUMBLA2.MH_", "ZUMBLA2 MH_"},
      {"0", "0          "},           {"30", "30         "},         {"00007.MF4", "00007   MF4"},
      {"A.B", "A       B  "},           {"LONGER~1.TXT", "LONGER~1TXT"},
  };
  for (const auto& c : cases) {
    auto n = ToName11(c.typed);
    ASSERT_TRUE(n) << c.typed;
    EXPECT_EQ(*n, c.name11);
  }
  for (const char* bad : {"", ".DAT", "TOOLONGNAME.DAT", "A.DATA", "A.B.C", "SP ACE.DAT", "STAR*.DAT", "A/B", "Q?"})
    EXPECT_FALSE(ToName11(bad)) << bad;
  EXPECT_EQ(FromName11("MINDEX0 DAT"), "MINDEX0.DAT");
  EXPECT_EQ(FromName11("0          "), "0");
  EXPECT_EQ(FromName11(".          "), ".");
  EXPECT_EQ(FromName11("\x05" "ABC    TXT"), "\xE5" "ABC.TXT");
  EXPECT_EQ(*ToName11("\xE5" "X.TXT"), "\x05" "X      TXT");
  EXPECT_EQ(FolderName11(7), "7          ");
  EXPECT_EQ(FolderName11(30), "30         ");
  EXPECT_EQ(SongName11(42), "00042   MF4");
  EXPECT_EQ(SongName11(65535, "MP3"), "65535   MP3");
}

TEST(NominalSize, NearestWithTheSmallerOnATie) {
  struct Case {
    uint32_t mb, nominal;
  } cases[] = {{1, 4}, {4, 4}, {6, 4}, {7, 8}, {60, 64}, {56, 48}, {57, 64}, {100, 128},
               {192, 128}, {193, 256}, {1000, 1024}, {3000, 2048}, {9000, 4096}};
  for (const auto& c : cases) EXPECT_EQ(NominalCardSizeMb(c.mb), c.nominal) << c.mb;
}

class Volume : public ::testing::Test {
 protected:
  Volume() : r(CardConfig(16 << 20)) {
    EXPECT_EQ(r.card.FormatCard(), 1);
    EXPECT_EQ(r.card.CheckCard(), 1);
  }
  CardRig r;
};

TEST_F(Volume, TheFreeCountTellsItsProgressAndClosesTheFirstConnectionMessage) {
  int hook = 0;
  r.card.onFreeCountStart = [&] { ++hook; };
  ASSERT_EQ(r.Write("", "BIG     DAT", Bytes(2000 * 512, 1)), 1);
  r.rig.ui.SetProgressTitle("t");
  r.rig.ui.ProgressStart(10);
  r.rig.ui.progressLog.clear();
  EXPECT_EQ(r.card.CountFreeClusters(), 32375u - 2000u);
  EXPECT_EQ(hook, 1);
  auto lines = r.rig.ui.Line1History();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), r.T("MSG_MESSAGE_CF1"));
  // Cluster 256 has seen 254 clusters, all of them taken; by cluster 32256
  // 30255 are free: (30255 / 2 x 1) / 1024 = 14 MB.
  EXPECT_EQ(lines[1], Fmt(r.T("MSG_MESSAGE_CF2"), 0));
  EXPECT_EQ(lines.back(), Fmt(r.T("MSG_MESSAGE_CF2"), 14));
  EXPECT_EQ(r.rig.ui.Progress().line2, r.T("MSG_MESSAGE_CF4"));
  EXPECT_EQ(r.card.CountChains(), 1u);
}

TEST_F(Volume, TheSpaceIsNotShownWhileTheLinkIsDown) {
  r.rig.ui.SetStatusLine(2, std::string_view("before"));
  ASSERT_EQ(r.card.MountVolume(), 1);  // a fresh FAT image, nothing loaded
  r.rig.sim.faults.dropAfterBytes = 0;
  EXPECT_EQ(r.card.ShowCardSpace(), 1);
  EXPECT_EQ(r.rig.ui.StatusLine(2), "before");
}

TEST_F(Volume, AnUnreadableFatSectorCountsAsTakenAndIsNotAllocatedOver) {
  ASSERT_EQ(r.card.MountVolume(), 1);
  ASSERT_EQ(r.card.ReadRootDirectory(), 1);
  // Every read of the first FAT sector comes with a wrong sum.
  r.rig.sim.faults.corruptReads = 6;
  EXPECT_EQ(r.card.FatGetEntry(5), 0xFFFF);
  EXPECT_EQ(r.card.FatSectorState(0), fat::kUnreadable);
  uint64_t reads = r.sectors.traffic.reads;
  EXPECT_EQ(r.card.FindFreeCluster(), 256);
  EXPECT_EQ(r.sectors.traffic.reads - reads, 1u);  // the second FAT sector only
  r.card.FatSetEntry(7, 0x1234);  // not written over what is unknown
  EXPECT_EQ(r.card.FatSectorState(0), fat::kUnreadable);
  // Of the clusters the player's firmware counts.
  EXPECT_EQ(r.card.CountFreeClusters(), 32375u - 254u);
  r.card.SetDeferredFlush(false);
  r.rig.sim.wire.clear();
  ASSERT_EQ(r.card.FlushFat(), 1);
  EXPECT_TRUE(r.Asked(true).empty());
  // The next mount reads it again.
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.card.FindFreeCluster(), 2);
  EXPECT_EQ(r.card.CountFreeClusters(), 32375u);
}

TEST(PlayerClusters, NothingIsAllocatedPastTheClustersThePlayerCounts) {
  for (uint64_t mb : {16, 64}) {
    SCOPED_TRACE(mb);
    CardRig r(CardConfig(mb << 20));
    ASSERT_EQ(r.card.FormatCard(), 1);
    ASSERT_EQ(r.card.CheckCard(), 1);
    const VolumeRecord& v = r.card.Volume();
    // The player's reckoning: the first data sector counted from the start of
    // the card, the sectors before the volume included.
    const uint32_t firstData = v.hiddenSectors + v.reservedSectors + v.numberOfFats * v.sectorsPerFat +
                               v.rootEntries * 32u / 512u;
    const uint32_t playerCount = (v.totalSectors - firstData) / v.sectorsPerCluster;
    ASSERT_LT(playerCount, v.clusterCount) << "the FAT describes more clusters than the player counts";
    EXPECT_EQ(r.card.CountFreeClusters(), playerCount - 2);

    // Every cluster the player knows of in use: the card is full, whatever
    // the FAT says of the clusters after them.
    for (uint32_t c = 2; c < playerCount; ++c) r.card.FatSetEntry(c, 0xFFFF);
    EXPECT_EQ(r.card.FindFreeCluster(), 0);
    EXPECT_EQ(r.card.CountFreeClusters(), 0u);
    EXPECT_EQ(r.card.FatGetEntry(playerCount), 0) << "left free, and readable";
    EXPECT_EQ(r.Write("", "ONE     DAT", Bytes(1, 1)), 0);
    EXPECT_TRUE(r.rig.ui.Showed(r.T("MSG_INSUFFICIENT_SPACE_ON_CARD")));
    EXPECT_EQ(r.card.MakeDirectory(FolderName11(3)), 0);
    // Once some are free again, those are the ones taken.
    for (uint32_t c = playerCount - 3; c < playerCount; ++c) r.card.FatSetEntry(c, 0);
    ASSERT_EQ(r.Write("", "THREE   DAT", Bytes(3 * v.bytesPerCluster, 3)), 1);
    for (uint32_t c = playerCount; c < v.clusterCount; ++c) EXPECT_EQ(r.card.FatGetEntry(c), 0) << c;
  }
}

TEST(PlayerClusters, TheFreeShareIsNeverShownAboveAHundredPerCent) {
  // 16 MB cards hold a little more than 16,000 KB: the share of a fresh one
  // comes to 101.
  CardRig r(CardConfig(16 << 20));
  ASSERT_EQ(r.card.FormatCard(), 1);
  ASSERT_EQ(r.card.CheckCard(), 1);
  struct Case {
    uint32_t used;  // clusters of 512 bytes
    int percent;
  } cases[] = {{0, 100}, {200, 100}, {16375, 50}, {31575, 2}};
  uint32_t usedSoFar = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.used);
    for (; usedSoFar < c.used; ++usedSoFar) r.card.FatSetEntry(2 + usedSoFar, 0xFFFF);
    EXPECT_EQ(r.card.ShowCardSpace(), 0);
    EXPECT_EQ(r.rig.ui.StatusLine(2), Fmt(r.T("MSG_MESSAGE_CF3"), 16, c.percent));
  }
}

TEST_F(Volume, TheReportOfAMountedCard) {
  fs::path report = r.dir() / "report.html";
  ASSERT_EQ(r.card.WriteCardReport(report), 1);
  std::string html = testing::ReadFileOrEmpty(report);
  for (const char* part : {
           "<html>", "Verdana, Arial, Helvetica, sans-serif", "12px",
           "<h1>Flash Card Hardware Info</h1>\n<table border=1 cellspacing=0 cellpadding=2><tr><th>Item</th>"
           "<th>Value</th></td>\n<tr><td>General configuration word 0x848A</td><td>0x848a</td></tr>\n",
           "<tr><td>Default Cylinders</td><td>512</td></tr>\n",
           "<tr><td>Default Sectors/Track</td><td>32</td></tr>\n",
           "<tr><td>Sectors Addressable in LBA</td><td>32768</td></tr>\n",
           "<tr><td>Serial Number</td><td>ZSIM00000001        </td></tr>\n",
           "<tr><td>Firmware Revision</td><td>SIM 1.0 </td></tr>\n",
           "</table>\n<h1>Flash Card MasterBootRecord Info</h1>\n",
           "<tr><td>PartOpSys</td><td>0x1</td></tr>\n",
           "<tr><td>PartPrecedingSecs</td><td>32</td></tr>\n",
           "<h1>Flash Card Bootsector Info</h1>\n",
           "<tr><td>OemName</td><td>Zumbla  </td></tr>\n",
           "<tr><td>Offset from MBR</td><td>32</td></tr>\n",
           "<tr><td>FATsecs</td><td>127</td></tr>\n",
           "<tr><td>HiddenSecs</td><td>32</td></tr>\n",
           "<tr><td>FileSysType</td><td>FAT16   </td></tr>\n</table>\n",
           "</html>",
       })
    EXPECT_NE(html.find(part), std::string::npos) << part;
  // Only partition entries that are in use.
  EXPECT_EQ(html.find("Partition 1"), std::string::npos);
  EXPECT_EQ(r.card.WriteCardReport(r.dir() / "no" / "such" / "folder.html"), 0);
}

}  // namespace
}  // namespace kestro::cardtest
