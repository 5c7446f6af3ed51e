// The card format, the card check and the volume record of a fresh card.
#include <cstring>

#include "cardfs/tests/card_rig.h"

namespace kestro::cardtest {
namespace {

std::array<uint8_t, 512> Identify(uint16_t c, uint16_t h, uint16_t t, uint32_t sectors, uint16_t config = 0x848A) {
  std::array<uint8_t, 512> id{};
  auto put = [&](int w, uint16_t v) {
    id[static_cast<size_t>(w) * 2] = static_cast<uint8_t>(v & 0xFF);
    id[static_cast<size_t>(w) * 2 + 1] = static_cast<uint8_t>(v >> 8);
  };
  put(0, config);
  put(1, c);
  put(3, h);
  put(6, t);
  put(7, static_cast<uint16_t>(sectors >> 16));
  put(8, static_cast<uint16_t>(sectors & 0xFFFF));
  put(60, static_cast<uint16_t>(sectors & 0xFFFF));
  put(61, static_cast<uint16_t>(sectors >> 16));
  return id;
}

TEST(FormatLayout, SectorsPerClusterFollowTheCardSize) {
  struct Case {
    uint32_t sectors;
    uint8_t spc;
  } cases[] = {{65000, 1}, {65001, 2}, {130000, 2}, {130002, 4}, {3 * 65000, 4}, {1000000, 16}, {4000000, 64}};
  for (const auto& c : cases) {
    // Geometry that fills the card: 63 sectors per track, 16 heads.
    uint16_t cyl = static_cast<uint16_t>(c.sectors / (16 * 63));
    FormatLayout l = ComputeFormatLayout(Identify(cyl, 16, 63, c.sectors));
    ASSERT_TRUE(l.problem.empty()) << c.sectors << ": " << l.problem;
    EXPECT_EQ(l.sectorsPerCluster, c.spc) << c.sectors;
    EXPECT_EQ(l.partitionStart, 63u);
    EXPECT_EQ(l.partitionSectors, 63u * (16u * (cyl - 1u) - 1u));
    // The FAT has an entry for every cluster, and the volume is FAT16 to
    // every other system.
    EXPECT_GE(l.sectorsPerFat * 256u, l.dataClusters + 2);
    EXPECT_GE(l.dataClusters, 4085u);
    EXPECT_LE(l.dataClusters, 65524u);
  }
}

TEST(FormatLayout, SectorsPerFatByTheRule) {
  // 16 MB card as the simulator reports it: 512 x 2 x 32.
  FormatLayout l = ComputeFormatLayout(Identify(512, 2, 32, 32768));
  ASSERT_TRUE(l.problem.empty()) << l.problem;
  EXPECT_EQ(l.partitionSectors, 32672u);
  EXPECT_EQ(l.sectorsPerCluster, 1);
  // (32543 - trunc(32543 x 256 / 258)) / 2 + 1
  EXPECT_EQ(l.sectorsPerFat, 127);
}

TEST(FormatLayout, RefusesGeometryNoCardCanHave) {
  struct Case {
    const char* what;
    std::array<uint8_t, 512> id;
  } cases[] = {
      {"no sectors per track", Identify(512, 2, 0, 32768)},
      {"no heads", Identify(512, 0, 32, 32768)},
      {"one cylinder", Identify(1, 2, 32, 32768)},
      {"more sectors per track than CHS holds", Identify(512, 2, 200, 32768)},
      {"more heads than CHS holds", Identify(16, 300, 32, 32768)},
      {"partition past the card's end", Identify(1024, 16, 63, 32768)},
      {"no sectors at all", Identify(512, 2, 32, 0)},
      {"too small for FAT16", Identify(64, 2, 32, 4096)},
      {"too large for FAT16", Identify(16383, 16, 63, 0xFFFFFE)},
  };
  for (const auto& c : cases) {
    FormatLayout l = ComputeFormatLayout(c.id);
    EXPECT_FALSE(l.problem.empty()) << c.what;
  }
}

class Format : public ::testing::Test {
 protected:
  Format() : r(CardConfig(16 << 20)) {}
  CardRig r;
};

TEST_F(Format, AFreshCardHasTheLayoutTheFormatPromises) {
  ASSERT_EQ(r.card.FormatCard(), 1);
  const VolumeRecord& v = r.card.Volume();
  EXPECT_EQ(v.partitionOffset, 32);
  EXPECT_EQ(v.hiddenSectors, 32);
  EXPECT_EQ(v.numberOfFats, 2);
  EXPECT_EQ(v.rootEntries, 128);
  EXPECT_EQ(v.sectorsPerCluster, 1);
  EXPECT_EQ(v.sectorsPerFat, 127);
  EXPECT_EQ(v.totalSectors, 32672u);
  EXPECT_EQ(v.mediaDescriptor, 0xF8);
  EXPECT_EQ(v.firstFatSector, 33u);
  EXPECT_EQ(v.firstRootSector, 33u + 254u);
  EXPECT_EQ(v.firstDataSector, 33u + 254u + 8u);
  EXPECT_EQ(v.clusterCount, 32409u + 2u);
  // (32672 - (32 + 1 + 2 x 127 + 8)) / 1: clusters 2 to 32376.
  EXPECT_EQ(v.playerClusterCount, 32377u);
  EXPECT_EQ(r.rig.profile.GetString("Settings", "mediaChange", "", 10), "1");

  // The sectors as another system sees them.
  sim::CardImage& img = *r.rig.sim.Card();
  std::array<uint8_t, 512> mbr{}, pbr{}, fat{}, fat2{}, root{};
  img.Read(0, mbr.data());
  img.Read(32, pbr.data());
  img.Read(33, fat.data());
  img.Read(33 + 127, fat2.data());
  img.Read(33 + 254, root.data());
  const uint8_t expectEntry[16] = {0, 1, 1, 0, 1, 1, static_cast<uint8_t>(32 + ((510 >> 2) & 0xC0)), 510 & 0xFF,
                                   32, 0, 0, 0, 0xA0, 0x7F, 0, 0};
  EXPECT_EQ(0, std::memcmp(mbr.data() + 446, expectEntry, 16));
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  EXPECT_EQ(0, std::memcmp(pbr.data() + 3, "Zumbla  ", 8));
  EXPECT_EQ(0, std::memcmp(pbr.data() + 43, "ZUM-BLA-MF4FAT16   ", 19));
  EXPECT_EQ(pbr[36], 0x82);
  EXPECT_EQ(pbr[38], 0x29);
  EXPECT_EQ(pbr[0], 0xEB);
  EXPECT_EQ(pbr[510], 0x55);
  EXPECT_EQ(pbr[511], 0xAA);
  const uint8_t fatStart[6] = {0xF8, 0xFF, 0xFF, 0xFF, 0, 0};
  EXPECT_EQ(0, std::memcmp(fat.data(), fatStart, 6));
  EXPECT_EQ(fat, fat2);
  EXPECT_EQ(0, std::memcmp(root.data(), "ZUM-BLA-MF4\x28", 12));
  unsigned date = 44u << 9 | 5u << 5 | 6u;
  EXPECT_EQ(root[24] | root[25] << 8, static_cast<int>(date));
  EXPECT_TRUE(std::all_of(root.begin() + 32, root.end(), [](uint8_t b) { return b == 0; }));

  std::string report = testing::ReadFileOrEmpty(r.dir() / "FormatFresh.html");
  EXPECT_NE(report.find("<h1>Flash Card Hardware Info</h1>\n"), std::string::npos);
  EXPECT_NE(report.find("<tr><td>Default Heads</td><td>2</td></tr>\n"), std::string::npos);
  EXPECT_NE(report.find("<tr><th colspan=2>Partition 0</th></tr>\n"), std::string::npos);
  EXPECT_NE(report.find("<tr><td>PartLengthInSecs</td><td>32672</td></tr>\n"), std::string::npos);
  EXPECT_NE(report.find("<tr><td>VolumeLabel</td><td>ZUM-BLA-MF4</td></tr>\n"), std::string::npos);
  EXPECT_NE(report.find("<tr><td>Model Number</td><td>ZUMBLA SIMULATED CF CARD"), std::string::npos);
  EXPECT_NE(report.find("<tr><td>Media</td><td>0xf8</td></tr>\n"), std::string::npos);
}

TEST_F(Format, TheCheckMountsTheFreshCardAndShowsItsSpace) {
  ASSERT_EQ(r.card.FormatCard(), 1);
  r.rig.ui.progressLog.clear();
  r.rig.sim.wire.clear();
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.state(), 0);
  EXPECT_TRUE(r.rig.ui.messages.empty());
  CardDirEntry label;
  ASSERT_EQ(r.card.RootFindEntry("ZUM-BLA-MF4", label), 1);
  EXPECT_EQ(label.Attribute(), 0x28);
  // 16 MB nominal; 32375 free clusters of 512 bytes: 16187 KB, 101 % of
  // 16000 KB, as the count of 1000 KB to the MB gives, shown as 100 %.
  EXPECT_EQ(r.card.Volume().cardSizeMb, 16u);
  EXPECT_EQ(r.rig.ui.StatusLine(2), Fmt(r.T("MSG_MESSAGE_CF3"), 16, 100));
  // The mount found the boot sector with its second probe.
  auto reads = r.Asked(false);
  ASSERT_GE(reads.size(), 6u);
  EXPECT_EQ(std::vector<uint32_t>(reads.begin(), reads.begin() + 6),
            (std::vector<uint32_t>{0xFFFFFF, 0, 1, 2, 0, 32}));
  auto lines = r.rig.ui.Line1History();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Lettura MBR"), lines.end());
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "Ricerca PBR"), lines.end());
  EXPECT_EQ(r.card.CountFreeClusters(), 32375u);
  EXPECT_EQ(r.card.CountChains(), 0u);
  // Trace lines name the areas of the mounted volume.
  auto traced = [&](const char* line) { return std::find(r.trace.begin(), r.trace.end(), line) != r.trace.end(); };
  EXPECT_TRUE(traced("Connecting to ZUM-Flash"));
  EXPECT_TRUE(traced("Reading sector: 287 (8 sectors) [RootDir]"));
  EXPECT_TRUE(traced("Reading sector: 33 (1 sectors) [FAT]"));
  EXPECT_TRUE(traced("Reading sector: 32 (1 sectors) [PBR]"));
}

TEST_F(Format, UnformattedCardIsOfferedTheFormatAndCancelLeavesItUntouched) {
  r.rig.ui.answers = {kIdCancel};
  EXPECT_EQ(r.card.CheckCard(), 0);
  EXPECT_EQ(r.state(), 1);
  ASSERT_EQ(r.rig.ui.messages.size(), 1u);
  EXPECT_EQ(r.rig.ui.messages[0].text, r.T("MSG_FLAHBADFORMAT"));
  EXPECT_EQ(r.rig.ui.messages[0].caption, r.T("MSG_INVALIDE_FORMAT"));
  EXPECT_EQ(r.rig.ui.messages[0].style, 33u);
  EXPECT_TRUE(r.Asked(true).empty());
  EXPECT_FALSE(r.rig.ui.Progress().open);
  EXPECT_EQ(r.card.CheckRefusal(), 6) << "refused for its format, not for the link";

  r.rig.ui.answers = {kIdOk};
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.state(), 0);
  EXPECT_EQ(r.card.Volume().partitionOffset, 32);
  EXPECT_EQ(r.card.CountFreeClusters(), 32375u);
  EXPECT_EQ(r.card.CheckRefusal(), 0);
}

TEST_F(Format, AFat32CardIsToldOnceAndNotOffered) {
  std::array<uint8_t, 512> boot{};
  std::memcpy(boot.data() + 82, "FAT32   ", 8);
  boot[510] = 0x55;
  boot[511] = 0xAA;
  ASSERT_TRUE(r.rig.sim.Card()->Write(0, boot.data()));
  EXPECT_EQ(r.card.CheckCard(), 0);
  EXPECT_EQ(r.state(), 1);
  ASSERT_EQ(r.rig.ui.messages.size(), 1u);
  EXPECT_EQ(r.rig.ui.messages[0].text, r.T("MSG_FLAHFAT32FORMAT"));
  EXPECT_EQ(r.rig.ui.messages[0].style, 64u);
  EXPECT_EQ(r.rig.ui.questionsAsked, 0);
  EXPECT_TRUE(r.Asked(true).empty());
}

TEST_F(Format, ACardThatIsNoCompactFlashIsNotWritten) {
  auto id = r.rig.sim.Card()->Identify();
  id[0] = 0x40;
  id[1] = 0x04;
  r.rig.sim.identify = id;
  EXPECT_EQ(r.card.FormatCard(), 0);
  ASSERT_EQ(r.rig.ui.messages.size(), 1u);
  EXPECT_EQ(r.rig.ui.messages[0].text, "Flash invalida in Zumbla (Header chunk error)");
  EXPECT_EQ(r.rig.ui.messages[0].caption, r.T("MSG_CAPTION_WARNING"));
  EXPECT_EQ(r.rig.ui.messages[0].style, 4112u);
  EXPECT_TRUE(r.Asked(true).empty());
}

TEST_F(Format, AbsurdIdentificationDataIsNotWritten) {
  // Geometry that reaches past the card: the partition would be written
  // outside it.
  auto id = Identify(4000, 16, 63, 32768);
  r.rig.sim.identify = id;
  EXPECT_EQ(r.card.FormatCard(), 0);
  EXPECT_TRUE(r.rig.ui.Showed("Flash invalida in Zumbla (Header chunk error)"));
  EXPECT_TRUE(r.Asked(true).empty());
  EXPECT_FALSE(r.card.MountProblem().empty());
}

TEST_F(Format, WithoutTheTemplatesNothingIsWritten) {
  RemoveFile(r.dir() / "MBRPBR.DAT");
  EXPECT_EQ(r.card.FormatCard(), 0);
  ASSERT_EQ(r.rig.ui.messages.size(), 1u);
  EXPECT_EQ(r.rig.ui.messages[0].text, Fmt(r.T("MSG_CANTOPEN"), (r.dir() / "MBRPBR.DAT").string()));
  EXPECT_EQ(r.rig.ui.messages[0].caption, r.T("MSG_READERROR"));
  EXPECT_TRUE(r.Asked(true).empty());
  // A short file is no template either.
  WriteBinaryFile(r.dir() / "MBRPBR.DAT", Bytes(600, 0));
  EXPECT_EQ(r.card.LoadMbrPbrTemplates(), 0);
}

TEST_F(Format, TheStructureCallbackRunsOnTheFreshVolumeAndItsTemplatesGo) {
  int calls = 0;
  r.card.createStructure = [&](CardFs& card) {
    ++calls;
    EXPECT_TRUE(card.Mounted());
    WriteBinaryFile(r.dir() / "EMPTY.DAT", Bytes(32, 0));
    WriteBinaryFile(r.dir() / "MINUS1FILE.DAT", Bytes(52, 0xFF));
    card.MakeDirectory(FolderName11(0));
    return card.CardWriteFile("", "MINDEX0 DAT", r.dir() / "EMPTY.DAT");
  };
  ASSERT_EQ(r.card.FormatCard(), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(FileExists(r.dir() / "EMPTY.DAT"));
  EXPECT_FALSE(FileExists(r.dir() / "MINUS1FILE.DAT"));
  ASSERT_EQ(r.card.CheckCard(), 1);
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry("", "MINDEX0 DAT", e), 1);
  EXPECT_EQ(e.Size(), 32u);
  EXPECT_EQ(r.card.FindEntry("", FolderName11(0), e), 1);

  r.card.createStructure = [](CardFs&) { return 0; };
  EXPECT_EQ(r.card.FormatCard(), 0);
}

TEST_F(Format, AFormatCutOffLeavesAtWorstLostClusters) {
  if (!HaveTools()) GTEST_SKIP() << "dosfstools and mtools are not installed";
  // A card with a folder and files on it.
  ASSERT_EQ(r.card.FormatCard(), 1);
  ASSERT_EQ(r.card.MakeDirectory(FolderName11(3)), 1);
  fs::path song = r.PcFile("song.bin", Pattern(5000));
  ASSERT_EQ(r.card.CardWriteFile(FolderName11(3), SongName11(3), song), 1);
  ASSERT_EQ(r.card.CardWriteFile("", "MINDEX0 DAT", song), 1);
  ASSERT_EQ(r.card.FlushFat(), 1);

  // The format again, the player gone a few sectors into each area it
  // erases: the root directory, the first FAT, the second one.
  for (const char* area : {"[RootDir]", "[FAT]"}) {
    for (uint32_t after : {1u, 20u, 130u}) {
      SCOPED_TRACE(std::string(area) + " +" + std::to_string(after));
      r.sectors.traceSink = [&](std::string_view l) {
        if (l.find("Writing sector") != std::string_view::npos && l.find(area) != std::string_view::npos &&
            r.rig.sim.faults.dropAfterBytes < 0)
          r.rig.sim.faults.dropAfterBytes = after;
      };
      EXPECT_EQ(r.card.FormatCard(), 0);
      r.sectors.traceSink = nullptr;
      r.rig.sim.faults.dropAfterBytes = -1;
      auto fsck = Fsck(r.Image(), 32, 32672);
      std::string head = fsck.out.substr(0, fsck.out.find("Checking for unused clusters."));
      EXPECT_EQ(head.find("free cluster"), std::string::npos) << fsck.out;
      EXPECT_EQ(head.find("Truncating"), std::string::npos) << fsck.out;
      // Put the card back as it was for the next cut.
      r.rig.link.LinkClose();
      r.Open();
      r.state() = 0;
      ASSERT_EQ(r.card.FormatCard(), 1);
      ASSERT_EQ(r.card.MakeDirectory(FolderName11(3)), 1);
      ASSERT_EQ(r.card.CardWriteFile(FolderName11(3), SongName11(3), song), 1);
      ASSERT_EQ(r.card.CardWriteFile("", "MINDEX0 DAT", song), 1);
      ASSERT_EQ(r.card.FlushFat(), 1);
    }
  }
}

TEST(FormatSizes, LargerCardsGetLargerClustersAndStillMount) {
  for (uint64_t mb : {4, 64, 256}) {
    SCOPED_TRACE(mb);
    CardRig r(CardConfig(mb << 20));
    ASSERT_EQ(r.card.FormatCard(), 1);
    ASSERT_EQ(r.card.CheckCard(), 1);
    const VolumeRecord& v = r.card.Volume();
    EXPECT_EQ(v.cardSizeMb, mb);
    uint32_t sectors = static_cast<uint32_t>(mb << 11);
    uint32_t spc = 1;
    while (sectors / spc > 65000) spc *= 2;
    EXPECT_EQ(v.sectorsPerCluster, spc);
    EXPECT_EQ(r.card.CountFreeClusters(), v.playerClusterCount - 2);
    EXPECT_EQ(r.rig.ui.StatusLine(2),
              Fmt(r.T("MSG_MESSAGE_CF3"), static_cast<int>(mb),
                  std::min(100, static_cast<int>((v.playerClusterCount - 2) * spc / 2 / (mb * 10)))));
  }
}

}  // namespace
}  // namespace kestro::cardtest
