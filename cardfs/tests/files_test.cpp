// FAT, directories and files on a card the format made.
#include <cstring>
#include <set>

#include "cardfs/tests/card_rig.h"

namespace kestro::cardtest {
namespace {

// 16 MB: clusters of one sector; 64 MB: clusters of four.
class Files : public ::testing::TestWithParam<uint64_t> {
 protected:
  Files() : r(CardConfig(GetParam() << 20)) {
    EXPECT_EQ(r.card.FormatCard(), 1);
    EXPECT_EQ(r.card.CheckCard(), 1);
    bpc = r.card.Volume().bytesPerCluster;
  }
  // The chain of a file as the FAT on the card has it.
  std::vector<uint32_t> CardChain(uint32_t first) {
    const VolumeRecord& v = r.card.Volume();
    std::vector<uint32_t> out;
    for (uint32_t c = first; c >= 2 && c < 0xFFF8 && out.size() < 70000;) {
      out.push_back(c);
      std::array<uint8_t, 512> s{};
      r.rig.sim.Card()->Read(v.firstFatSector + c / 256, s.data());
      c = s[(c % 256) * 2] | s[(c % 256) * 2 + 1] << 8;
    }
    return out;
  }
  CardRig r;
  uint32_t bpc = 0;
};

INSTANTIATE_TEST_SUITE_P(ClusterSizes, Files, ::testing::Values(16, 64),
                         [](const ::testing::TestParamInfo<uint64_t>& p) { return std::to_string(p.param) + "MB"; });

TEST_P(Files, WrittenFilesComeBackByteForByteWithExactSizesAndChains) {
  struct Case {
    const char* name;
    size_t size;
    size_t clusters;
  } cases[] = {
      {"EMPTY   DAT", 0, 0},
      {"ONEBYTE DAT", 1, 1},
      {"THREE   DAT", 3 * bpc + 1, 4},
      {"EXACT   DAT", 5 * bpc, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = Pattern(c.size, static_cast<uint32_t>(c.size));
    ASSERT_EQ(r.Write("", c.name, data), 1);
    CardDirEntry e;
    ASSERT_EQ(r.card.FindEntry("", c.name, e), 1);
    EXPECT_EQ(e.Size(), c.size);
    EXPECT_EQ(e.Attribute(), 0);
    auto chain = CardChain(e.FirstCluster());
    EXPECT_EQ(chain.size(), c.clusters);
    if (c.size == 0) {
      EXPECT_EQ(e.FirstCluster(), 0);
    }
    // The last cluster is zero-padded on the card.
    if (c.size % bpc != 0) {
      std::vector<uint8_t> last(bpc);
      ASSERT_EQ(r.card.ReadCluster(chain.back(), last.data()), 1);
      size_t used = c.size % bpc;
      EXPECT_TRUE(std::all_of(last.begin() + static_cast<long>(used), last.end(), [](uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(r.Read("", c.name), data);
    EXPECT_EQ(r.card.CardFileSectors(c.name), c.clusters * bpc / 512);
  }
  EXPECT_EQ(r.card.CardFileSectors("NONE    DAT"), 0u);
  EXPECT_EQ(r.card.CountChains(), 3u);
  EXPECT_TRUE(r.rig.ui.messages.empty());
}

TEST_P(Files, SongsGoIntoFoldersAndAreListed) {
  for (int f : {0, 7, 30}) ASSERT_EQ(r.card.MakeDirectory(FolderName11(f)), 1);
  EXPECT_EQ(r.card.MakeDirectory(FolderName11(7)), 0);  // exists: nothing done
  std::map<uint16_t, Bytes> songs;
  for (uint16_t code : {7, 69, 38, 30, 0}) {
    songs[code] = Pattern(1000 + code * 97u, code);
    ASSERT_EQ(r.Write(FolderName11(code % 31), SongName11(code), songs[code]), 1) << code;
  }
  for (auto& [code, data] : songs) EXPECT_EQ(r.Read(FolderName11(code % 31), SongName11(code)), data) << code;
  // The directory argument counts only up to a backslash.
  EXPECT_EQ(r.Read(FolderName11(7) + "\\whatever", SongName11(38)), songs[38]);
  // Not in another folder, nor in the root.
  EXPECT_EQ(r.Read(FolderName11(0), SongName11(7)), std::nullopt);
  EXPECT_EQ(r.Read("", SongName11(7)), std::nullopt);
  EXPECT_EQ(r.Read(FolderName11(12), SongName11(7)), std::nullopt);

  std::vector<std::string> names;
  uint8_t e[32];
  ASSERT_EQ(r.card.ListDirFirst(FolderName11(7), e), 1);
  do {
    names.push_back(FromName11(e));
  } while (r.card.ListDirNext(e));
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "00007.MF4", "00069.MF4", "00038.MF4"}));
  EXPECT_EQ(r.card.ListDirNext(e), 0);
  EXPECT_EQ(r.card.ListDirFirst("", e), 0);
  EXPECT_NE(std::find(r.trace.begin(), r.trace.end(), "Root dir not supported"), r.trace.end());
  EXPECT_EQ(r.card.ListDirFirst(FolderName11(5), e), 0);
}

TEST_P(Files, ListingSurvivesReadingFilesInBetween) {
  ASSERT_EQ(r.card.MakeDirectory(FolderName11(3)), 1);
  size_t perCluster = bpc / 32;
  std::vector<std::string> expect{".", ".."};
  for (uint16_t i = 0; i < perCluster + 3; ++i) {
    uint16_t code = static_cast<uint16_t>(3 + 31 * i);
    ASSERT_EQ(r.Write(FolderName11(3), SongName11(code), Pattern(40, code)), 1);
    expect.push_back(FromName11(SongName11(code)));
  }
  std::vector<std::string> names;
  uint8_t e[32];
  for (int more = r.card.ListDirFirst(FolderName11(3), e); more; more = r.card.ListDirNext(e)) {
    names.push_back(FromName11(e));
    if (e[0] != '.') {
      EXPECT_TRUE(r.Read(FolderName11(3), std::string_view(reinterpret_cast<char*>(e), 11)).has_value());
    }
  }
  EXPECT_EQ(names, expect);
}

TEST_P(Files, AFullFolderGrowsByAZeroedClusterAtTheEndOfItsChain) {
  ASSERT_EQ(r.card.MakeDirectory(FolderName11(1)), 1);
  CardDirEntry folder;
  ASSERT_EQ(r.card.FindEntry("", FolderName11(1), folder), 1);
  size_t perCluster = bpc / 32;
  // "." and ".." take two places of the first cluster.
  for (uint16_t i = 0; i < perCluster - 2; ++i) ASSERT_EQ(r.Write(FolderName11(1), SongName11(1 + 31 * i), Bytes(10, 1)), 1);
  EXPECT_EQ(CardChain(folder.FirstCluster()).size(), 1u);
  uint16_t code = static_cast<uint16_t>(1 + 31 * (perCluster - 2));
  ASSERT_EQ(r.Write(FolderName11(1), SongName11(code), Bytes(10, 2)), 1);
  auto chain = CardChain(folder.FirstCluster());
  ASSERT_EQ(chain.size(), 2u);
  CardDirEntry e;
  ASSERT_EQ(r.card.FindEntry(FolderName11(1), SongName11(code), e), 1);
  EXPECT_EQ(e.dirCluster, chain[1]);
  EXPECT_EQ(e.index, 0);
  std::vector<uint8_t> grown(bpc);
  ASSERT_EQ(r.card.ReadCluster(chain[1], grown.data()), 1);
  EXPECT_TRUE(std::all_of(grown.begin() + 32, grown.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(r.Read(FolderName11(1), SongName11(code)), Bytes(10, 2));
}

TEST_P(Files, OverwritingAndDeletingGiveTheClustersBack) {
  uint32_t free0 = r.card.CountFreeClusters();
  ASSERT_EQ(r.Write("", "SONG    MF4", Pattern(4 * bpc, 1)), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), free0 - 4);
  ASSERT_EQ(r.Write("", "SONG    MF4", Pattern(2 * bpc, 2)), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), free0 - 2);
  EXPECT_EQ(r.Read("", "SONG    MF4"), Pattern(2 * bpc, 2));
  // One entry of that name, in the first place.
  CardDirEntry e;
  ASSERT_EQ(r.card.FindEntry("", "SONG    MF4", e), 1);
  EXPECT_EQ(e.index, 1);
  EXPECT_EQ(r.card.RootEntry(2)[0], 0);

  r.rig.sim.wire.clear();
  EXPECT_EQ(r.card.CardDeleteFile("", "NOTHERE MF4"), 0);
  EXPECT_TRUE(r.Asked(true).empty());
  ASSERT_EQ(r.card.CardDeleteFile("", "SONG    MF4"), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), free0);
  EXPECT_EQ(r.card.RootEntry(1)[0], 0xE5);
  EXPECT_EQ(r.card.FindEntry("", "SONG    MF4", e), 0);
  // The card agrees once mounted again.
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), free0);
  EXPECT_EQ(r.card.RootEntry(1)[0], 0xE5);
  // The freed entry is taken again.
  ASSERT_EQ(r.Write("", "OTHER   MF4", Bytes(3, 3)), 1);
  ASSERT_EQ(r.card.FindEntry("", "OTHER   MF4", e), 1);
  EXPECT_EQ(e.index, 1);
  // Folders and the label are not files.
  ASSERT_EQ(r.card.MakeDirectory(FolderName11(4)), 1);
  EXPECT_EQ(r.card.CardDeleteFile("", FolderName11(4)), 0);
  EXPECT_EQ(r.card.CardDeleteFile("", "ZUM-BLA-MF4"), 0);
  EXPECT_EQ(r.card.FindEntry("", FolderName11(4), e), 1);
}

TEST_P(Files, EveryChangedFatSectorIsFlushedToBothFatsAndOnlyThen) {
  const VolumeRecord& v = r.card.Volume();
  r.card.SetDeferredFlush(true);
  r.rig.sim.wire.clear();
  ASSERT_EQ(r.Write("", "A       DAT", Pattern(300 * bpc, 5)), 1);  // crosses a FAT sector
  for (uint32_t s : r.Asked(true)) EXPECT_FALSE(s >= v.firstFatSector && s < v.firstRootSector) << s;
  EXPECT_EQ(r.card.FatSectorState(0), fat::kChanged);
  EXPECT_EQ(r.card.FatSectorState(1), fat::kChanged);
  EXPECT_EQ(r.card.FatSectorState(2), fat::kLoaded);
  r.card.SetDeferredFlush(false);
  r.rig.sim.wire.clear();
  ASSERT_EQ(r.card.FlushFat(), 1);
  // The FAT first, then the entry that relies on it.
  auto written = r.Asked(true);
  ASSERT_EQ(written.size(), 5u);
  std::multiset<uint32_t> fats(written.begin(), written.begin() + 4);
  uint32_t f = v.firstFatSector, n = v.sectorsPerFat;
  EXPECT_EQ(fats, (std::multiset<uint32_t>{f, f + 1, f + n, f + n + 1}));
  EXPECT_EQ(written[4], v.firstRootSector);
  EXPECT_EQ(r.card.FatSectorState(0), fat::kLoaded);
  // Nothing changed since: nothing to write.
  r.rig.sim.wire.clear();
  ASSERT_EQ(r.card.FlushFat(), 1);
  EXPECT_TRUE(r.Asked(true).empty());
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.Read("", "A       DAT"), Pattern(300 * bpc, 5));
}

TEST_P(Files, TheFatIsReadOneSectorAtATimeWhenNeeded) {
  CardDirEntry e;
  // A fresh mount, without the free count.
  ASSERT_EQ(r.card.MountVolume(), 1);
  ASSERT_EQ(r.card.ReadRootDirectory(), 1);
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(r.card.FatSectorState(k), fat::kNotLoaded);
  r.rig.sim.wire.clear();
  EXPECT_EQ(r.card.FatGetEntry(300), 0);
  EXPECT_EQ(r.Asked(false), (std::vector<uint32_t>{r.card.Volume().firstFatSector + 1}));
  EXPECT_EQ(r.card.FatSectorState(1), fat::kLoaded);
  EXPECT_EQ(r.card.FatSectorState(0), fat::kNotLoaded);
  EXPECT_EQ(r.card.FatGetEntry(1), 0xFFFF);
  EXPECT_EQ(r.card.FatGetEntry(0), 0xFFF8);
  EXPECT_EQ(r.card.FatGetEntry(r.card.Volume().clusterCount), 0);  // beyond the volume
  EXPECT_EQ(r.card.FindFreeCluster(), 2);
  r.card.FatSetEntry(r.card.Volume().clusterCount + 5, 7);  // not written
  EXPECT_EQ(r.card.FatGetEntry(r.card.Volume().clusterCount + 5), 0);
}

TEST_P(Files, CancellingAWriteLeavesNoEntryAndTakesNoCluster) {
  ASSERT_EQ(r.card.MakeDirectory(FolderName11(2)), 1);
  uint32_t free0 = r.card.CountFreeClusters();
  r.rig.ui.SetProgressTitle("copy");
  r.rig.ui.ProgressStart(1000);
  // The user closes the window while the fourth cluster is written.
  r.rig.ui.abortAfterSteps = r.rig.ui.steps + static_cast<int>(3 * r.card.Volume().sectorsPerCluster + 1);
  EXPECT_EQ(r.Write(FolderName11(2), SongName11(2), Pattern(10 * bpc, 9)), 0);
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry(FolderName11(2), SongName11(2), e), 0);
  EXPECT_EQ(r.card.CountFreeClusters(), free0);
  r.rig.ui.ProgressEnd();
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), free0);

  // A cancelled read removes the PC copy.
  ASSERT_EQ(r.Write(FolderName11(2), SongName11(2), Pattern(10 * bpc, 9)), 1);
  r.rig.ui.ProgressStart(1000);
  r.rig.ui.abortAfterSteps = r.rig.ui.steps + static_cast<int>(2 * r.card.Volume().sectorsPerCluster);
  EXPECT_EQ(r.Read(FolderName11(2), SongName11(2)), std::nullopt);
  EXPECT_FALSE(FileExists(r.dir() / "readback.bin"));
}

TEST_P(Files, AFullCardRefusesTheWriteAndGivesItsClustersBack) {
  const VolumeRecord& v = r.card.Volume();
  // Every cluster but the last three the player counts in use.
  for (uint32_t c = 2; c + 3 < v.playerClusterCount; ++c) r.card.FatSetEntry(c, 0xFFFF);
  ASSERT_EQ(r.card.FlushFat(), 1);
  EXPECT_EQ(r.card.CountFreeClusters(), 3u);
  r.rig.sim.wire.clear();
  EXPECT_EQ(r.Write("", "MORE    DAT", Bytes(5 * bpc, 0x44)), 0);
  EXPECT_TRUE(r.rig.ui.Showed(r.T("MSG_INSUFFICIENT_SPACE_ON_CARD")));
  EXPECT_EQ(r.card.CountFreeClusters(), 3u);
  CardDirEntry e;
  EXPECT_EQ(r.card.FindEntry("", "MORE    DAT", e), 0);
  ASSERT_EQ(r.Write("", "FITS    DAT", Pattern(3 * bpc, 3)), 1);
  EXPECT_EQ(r.card.FindFreeCluster(), 0);
  EXPECT_EQ(r.card.MakeDirectory(FolderName11(9)), 0);
  // No write went past the volume.
  for (uint32_t s : r.Asked(true)) EXPECT_LT(s, v.VolumeEnd());
  ASSERT_EQ(r.card.CheckCard(), 1);
  EXPECT_EQ(r.Read("", "FITS    DAT"), Pattern(3 * bpc, 3));
}

TEST_P(Files, AReplacedFileStaysUntilTheNewOneIsInPlace) {
  const VolumeRecord& v = r.card.Volume();
  const std::string dir = FolderName11(3);
  ASSERT_EQ(r.card.MakeDirectory(dir), 1);
  const Bytes keep = Pattern(10 * bpc, 7);
  struct Case {
    const char* what;
    uint32_t room;      // free clusters besides the old file's ten
    uint32_t clusters;  // of the new file
    long cutAfter;      // the player hangs up after this many answer bytes, -1 never
    bool replaced;
  } cases[] = {
      {"too large even in the old file's place", 4, 15, -1, false},
      {"fits only in the old file's place", 4, 12, -1, true},
      {"fits beside the old file", 20, 12, -1, true},
      // Beside the old file, the link goes while the new data is written.
      {"the link goes during the copy", 20, 12, 5, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(r.Write(dir, "KEEP    BIN", keep), 1);
    // Everything else taken, but `room` clusters.
    std::vector<uint32_t> taken;
    uint32_t free = r.card.CountFreeClusters();
    for (uint32_t k = 2; k < v.playerClusterCount && free > c.room; ++k) {
      if (r.card.FatGetEntry(k) != 0) continue;
      r.card.FatSetEntry(k, 0xFFFF);
      taken.push_back(k);
      --free;
    }
    ASSERT_EQ(r.card.FlushFat(), 1);
    ASSERT_EQ(r.card.CountFreeClusters(), c.room);
    r.rig.ui.messages.clear();
    const Bytes next = Pattern(c.clusters * bpc, 8);
    r.rig.sim.faults.dropAfterBytes = c.cutAfter;

    EXPECT_EQ(r.Write(dir, "KEEP    BIN", next), c.replaced ? 1 : 0);
    if (c.cutAfter < 0) {
      EXPECT_EQ(r.rig.ui.Showed(r.T("MSG_INSUFFICIENT_SPACE_ON_CARD")), !c.replaced);
      EXPECT_EQ(r.card.CountFreeClusters(), c.replaced ? c.room + 10 - c.clusters : c.room);
    }
    // As the next connection finds the card.
    r.rig.link.LinkClose();
    r.rig.sim.faults.dropAfterBytes = -1;
    r.Open();
    ASSERT_EQ(r.card.CheckCard(), 1);
    EXPECT_EQ(r.Read(dir, "KEEP    BIN"), c.replaced ? next : keep);
    EXPECT_EQ(r.card.CountFreeClusters(), c.replaced ? c.room + 10 - c.clusters : c.room);
    for (uint32_t k : taken) r.card.FatSetEntry(k, 0);
    ASSERT_EQ(r.card.FlushFat(), 1);
  }
  // The name of a folder is no file to write over.
  EXPECT_EQ(r.Write("", dir, Bytes(5, 5)), 0);
  CardDirEntry e;
  ASSERT_EQ(r.card.FindEntry("", dir, e), 1);
  EXPECT_TRUE(e.Attribute() & fat::kAttrDirectory);
}

TEST_P(Files, AFullRootDirectoryHasNoPlace) {
  for (int i = 1; i < 128; ++i) ASSERT_EQ(r.Write("", SongName11(static_cast<uint16_t>(i)), Bytes(1, 1)), 1) << i;
  EXPECT_EQ(r.Write("", "ONEMORE DAT", Bytes(1, 1)), 0);
  CardDirEntry place;
  EXPECT_EQ(r.card.FindFreeEntry("", place), 0);
  EXPECT_EQ(place.index, -1);
  EXPECT_EQ(r.card.MakeDirectory(FolderName11(0)), 0);
  // Overwriting an existing file frees its place first.
  EXPECT_EQ(r.Write("", SongName11(5), Bytes(2, 2)), 1);
}

TEST_P(Files, AnEntryIsWrittenAsTheOneSectorThatHoldsIt) {
  ASSERT_EQ(r.card.MakeDirectory(FolderName11(6)), 1);
  ASSERT_EQ(r.Write(FolderName11(6), SongName11(6), Bytes(100, 6)), 1);
  r.rig.sim.wire.clear();
  uint64_t reads = r.sectors.traffic.reads;
  uint64_t writes = r.sectors.traffic.writes;
  ASSERT_EQ(r.Write(FolderName11(6), SongName11(37), Bytes(100, 7)), 1);
  const VolumeRecord& v = r.card.Volume();
  CardDirEntry folder;
  ASSERT_EQ(r.card.FindEntry("", FolderName11(6), folder), 1);
  uint32_t dirSector = v.ClusterSector(folder.FirstCluster());
  // One data cluster, the folder's sector, the FAT sector in both FATs; the
  // folder's sector was read before and is not read again.
  EXPECT_EQ(r.sectors.traffic.reads - reads, 0u);
  EXPECT_EQ(r.sectors.traffic.writes - writes, v.sectorsPerCluster + 1u + 2u);
  auto w = r.Asked(true);
  EXPECT_EQ(std::count(w.begin(), w.end(), dirSector), 1);
}

TEST(FilesRootEntry, TimestampsAndAttributeOfWrittenEntries) {
  CardRig r(CardConfig(16 << 20));
  ASSERT_EQ(r.card.FormatCard(), 1);
  ASSERT_EQ(r.card.CheckCard(), 1);
  ASSERT_EQ(r.Write("", "STAMPED DAT", Bytes(5, 5)), 1);
  CardDirEntry e;
  ASSERT_EQ(r.card.FindEntry("", "STAMPED DAT", e), 1);
  EXPECT_EQ(e.bytes[22] | e.bytes[23] << 8, 7 << 11 | 8 << 5 | 5);
  EXPECT_EQ(e.bytes[24] | e.bytes[25] << 8, 44 << 9 | 5 << 5 | 6);
  // Without a local time the entry has no date, and nothing else breaks.
  r.card.localTime = [] { return std::optional<LocalDateTime>(); };
  ASSERT_EQ(r.Write("", "NOTIME  DAT", Bytes(5, 5)), 1);
  ASSERT_EQ(r.card.FindEntry("", "NOTIME  DAT", e), 1);
  EXPECT_EQ(e.bytes[24] | e.bytes[25] << 8, 0);
  EXPECT_EQ(e.Size(), 5u);
}

TEST(FilesPcSide, UnreadableSourceAndUncreatableTarget) {
  CardRig r(CardConfig(16 << 20));
  ASSERT_EQ(r.card.FormatCard(), 1);
  ASSERT_EQ(r.card.CheckCard(), 1);
  fs::path missing = r.dir() / "missing.mf4";
  ASSERT_EQ(r.Write("", "THERE   MF4", Bytes(5, 5)), 1);
  EXPECT_EQ(r.card.CardWriteFile("", "THERE   MF4", missing), 0);
  EXPECT_TRUE(r.rig.ui.Showed(Fmt(r.T("MSG_CANTOPEN"), missing.string())));
  // The card keeps its copy.
  EXPECT_EQ(r.Read("", "THERE   MF4"), Bytes(5, 5));
  fs::path bad = r.dir() / "no-such-folder" / "x.mf4";
  EXPECT_EQ(r.card.CardReadFile("", "THERE   MF4", bad), 0);
  EXPECT_TRUE(r.rig.ui.Showed(Fmt(r.T("MSG_CANTCREATE"), bad.string())));
  // Player codes in the target path become the letters they stand for.
  ASSERT_EQ(r.card.CardReadFile("", "THERE   MF4", r.dir() / "caf\x05.mf4"), 1);
  EXPECT_TRUE(FileExists(r.dir() / "caf\xC3\xA9.mf4"));
}

}  // namespace
}  // namespace kestro::cardtest
