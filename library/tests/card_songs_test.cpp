// The card's structure, index files and song list, on the simulated player's
// card and on a card in a card reader.
#include <gtest/gtest.h>

#include "cardfs/tests/card_rig.h"
#include "library/index_files.h"
#include "library/library.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;
using cardtest::CardRig;

SongRecord Song(uint16_t code, std::string title, std::string author, bool mp3 = false) {
  SongRecord r;
  r.code = code;
  r.title = std::move(title);
  r.author = std::move(author);
  r.fileName = SongFileName(code, mp3);
  return r;
}

class CardSongs : public ::testing::Test {
 protected:
  CardSongs() : card(cardtest::CardConfig(16 << 20)), lib(card.rig.env) {
    lib.medium = kMediumCard;
    lib.link = &card.rig.link;
    lib.playerLink = &card.rig.player;
    lib.card = &card.card;
    card.card.createStructure = [this](CardFs&) { return lib.CreateCardStructure(); };
  }
  Bytes CardFile(std::string_view name11) { return card.Read("", name11).value_or(Bytes{0xEE}); }

  CardRig card;
  Library lib;
};

TEST_F(CardSongs, AFormatGivesTheCardItsStructure) {
  ASSERT_EQ(card.card.FormatCard(), 1);
  EXPECT_TRUE(lib.CheckCardStructure());
  Bytes setup(35, 0);
  setup[1] = 3;
  setup[3] = setup[4] = setup[5] = setup[6] = 1;
  EXPECT_EQ(CardFile("MSETUP  DAT"), setup);
  EXPECT_EQ(CardFile("MINDEX0 DAT"), Bytes(32, 0));
  EXPECT_EQ(CardFile("MALPHA2 DAT"), Bytes(52, 0xFF));
  CardDirEntry e;
  EXPECT_FALSE(card.card.FindEntry("", "ZUMBLA2 MH_", e));  // no firmware file in the install folder yet
  for (const char* t : {"EMPTY.DAT", "SETUP.DAT", "MINUS1FILE.DAT"}) EXPECT_FALSE(fs::exists(card.dir() / t)) << t;
  if (cardtest::HaveTools()) {
    const VolumeRecord& v = card.card.Volume();
    auto fsck = cardtest::Fsck(card.Image(), v.partitionOffset, v.totalSectors);
    EXPECT_EQ(fsck.status, 0) << fsck.out;
    auto dir = cardtest::Mtools("mdir", card.Image(), uint64_t{v.partitionOffset} * 512, {"-b", "::/"});
    EXPECT_NE(dir.out.find("::/30"), std::string::npos) << dir.out;
  }
}

TEST_F(CardSongs, AFormatCutDuringItsStructureStepIsNoFormat) {
  // The link goes while the song folders are made, at the folder named.
  struct Case {
    const char* what;
    std::string line;  // the progress line at which the player hangs up
    long after;        // player bytes after that line
  } cases[] = {{"the index files", card.T("MSG_VERIFY_INDEXES"), 3},
               {"folder 0", Fmt(card.T("MSG_VERIFY_HASH_TABLE"), 0), 0},
               {"folder 30", Fmt(card.T("MSG_VERIFY_HASH_TABLE"), 30), 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    card.rig.ui.onLine1 = [&](const std::string& line) {
      if (line == c.line) card.rig.sim.faults.dropAfterBytes = c.after;
    };
    EXPECT_EQ(card.card.FormatCard(), 0);
    EXPECT_EQ(card.state(), 1);
    card.rig.ui.onLine1 = nullptr;
    card.rig.sim.faults.dropAfterBytes = -1;
    // Cleared the same way.
    card.rig.link.LinkClose();
    card.Open();
    card.rig.ui.onLine1 = [&](const std::string& line) {
      if (line == c.line) card.rig.sim.faults.dropAfterBytes = c.after;
    };
    EXPECT_EQ(lib.ClearCard(), 0);
    card.rig.ui.onLine1 = nullptr;
    card.rig.sim.faults.dropAfterBytes = -1;
    // The card as the next connection finds it lacks part of its structure.
    card.rig.link.LinkClose();
    card.Open();
    card.rig.ui.answers = {kIdCancel};
    if (card.card.CheckCard() == 1) {
      EXPECT_FALSE(lib.CheckCardStructure());
    }
    card.rig.link.LinkClose();
    card.Open();
  }
  // Without a cut both say so.
  ASSERT_EQ(card.card.FormatCard(), 1);
  EXPECT_EQ(lib.ClearCard(), 1);
  EXPECT_TRUE(lib.CheckCardStructure());
}

TEST_F(CardSongs, OnlyWhatIsMissingIsAdded) {
  ASSERT_EQ(card.card.FormatCard(), 1);
  ASSERT_EQ(card.Write("", "MINDEX0 DAT", Bytes(64, 0x11)), 1);
  ASSERT_EQ(card.card.CardDeleteFile("", "MALPHA0 DAT"), 1);
  EXPECT_FALSE(lib.CheckCardStructure());
  ASSERT_TRUE(WriteBinaryFile(card.dir() / "ZUMBLA2.MHX", Bytes(300, 'S')));
  EXPECT_EQ(lib.CreateCardStructure(), 1);
  EXPECT_TRUE(lib.CheckCardStructure());
  EXPECT_EQ(CardFile("MINDEX0 DAT"), Bytes(64, 0x11));  // kept as it was
  EXPECT_EQ(CardFile("MALPHA0 DAT"), Bytes(52, 0xFF));
  EXPECT_EQ(CardFile("ZUMBLA2 MH_"), Bytes(300, 'S'));
}

TEST_F(CardSongs, IndexesRebuiltOnTheCardAndLoadedBack) {
  ASSERT_EQ(card.card.FormatCard(), 1);
  lib.player = {Song(5, "VOLARE", "MODUGNO"), Song(2, "AZZURRO", "CELENTANO", true),
                Song(9, "NEL BLU DIPINTO DI BLU E ANCORA", "MODUGNO")};
  SongList copy = lib.player;
  IndexFiles expected = BuildIndexFiles(copy);
  ASSERT_TRUE(lib.RebuildCardIndexes());
  EXPECT_EQ(CardFile("MINDEX0 DAT"), expected.mindex0);
  EXPECT_EQ(CardFile("MINDEX2 DAT"), expected.mindex2);
  EXPECT_EQ(CardFile("MINDEX4 DAT"), expected.mindex4);
  EXPECT_EQ(CardFile("MALPHA0 DAT"), expected.malpha0);
  EXPECT_EQ(CardFile("MALPHA2 DAT"), expected.malpha2);
  EXPECT_EQ(card.rig.profile.GetInt("Settings", "mediaChange", 0), 1);

  lib.player.clear();
  ASSERT_TRUE(lib.LoadCardSongList());
  ASSERT_EQ(lib.player.size(), 3u);
  EXPECT_EQ(lib.player[0].title, "AZZURRO");
  EXPECT_EQ(lib.player[0].fileName, "00002.MP3");
  EXPECT_EQ(lib.player[0].author, "CELENTANO");
  EXPECT_EQ(lib.player[1].title, std::string("NEL BLU DIPINTO DI BLU E ANCORA").substr(0, 26));
  EXPECT_EQ(lib.player[2].author, "MODUGNO");
  // The local copies of the card's indexes.
  EXPECT_EQ(ReadBinaryFile(card.dir() / "MINDEX0.DAT").value(), expected.mindex0);
}

TEST_F(CardSongs, DecliningTheStructureLeavesAnEmptyList) {
  ASSERT_EQ(card.card.FormatCard(), 1);
  ASSERT_EQ(card.card.CardDeleteFile("", "MINDEX2 DAT"), 1);
  card.rig.ui.answers = {kIdNo};
  EXPECT_FALSE(lib.LoadCardSongList());
  EXPECT_TRUE(lib.moduleError);
  EXPECT_TRUE(lib.player.empty());
  EXPECT_EQ(card.rig.ui.Last()->text, card.T("MSG_CARD_NO_OK_ZUMBLA"));
  card.rig.ui.answers = {kIdYes};
  lib.moduleError = false;
  EXPECT_TRUE(lib.LoadCardSongList());
  EXPECT_TRUE(lib.CheckCardStructure());
}

class CardReaderSongs : public ::testing::Test {
 protected:
  CardReaderSongs() : lib(env) {
    testing::FillInstallDir(dir.path());
    EXPECT_TRUE(dict.Load(dir.path(), profile, ui));
    fs::create_directories(drive);
    lib.medium = kMediumCardReader;
    lib.flashDrive = drive;
  }
  testing::TempDir dir;
  fs::path drive = dir / "card";
  ProfileFile profile{dir / "Zumbla.INI"};
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
  Library lib;
};

TEST_F(CardReaderSongs, StructureIndexesAndList) {
  EXPECT_FALSE(lib.CheckCardStructure());
  ASSERT_TRUE(WriteBinaryFile(drive / "MINDEX0.DAT", Bytes(64, 7)));
  ASSERT_TRUE(WriteBinaryFile(dir / "ZUMBLA2.MHX", Bytes(10, 'F')));
  EXPECT_EQ(lib.CreateCardStructure(), 1);
  EXPECT_TRUE(lib.CheckCardStructure());
  EXPECT_EQ(ReadBinaryFile(drive / "MINDEX0.DAT").value(), Bytes(64, 7));  // an existing file stays
  EXPECT_EQ(ReadBinaryFile(drive / "ZUMBLA2.MH_").value(), Bytes(10, 'F'));
  EXPECT_TRUE(fs::is_directory(drive / "0"));
  EXPECT_TRUE(fs::is_directory(drive / "30"));

  lib.player = {Song(1, "UNO", "A"), Song(40000, "DUE", "B")};
  ASSERT_TRUE(lib.RebuildCardIndexes());
  EXPECT_EQ(fs::file_size(drive / "MINDEX0.DAT"), 96u);
  ASSERT_TRUE(lib.LoadCardSongList());
  ASSERT_EQ(lib.player.size(), 2u);
  EXPECT_EQ(lib.player[0].title, "DUE");
  EXPECT_EQ(lib.player[0].code, 40000);
  EXPECT_EQ(lib.player[1].author, "A");
}

TEST_F(CardReaderSongs, UnreadableOrUnwritableIndexes) {
  ASSERT_EQ(lib.CreateCardStructure(), 1);
  // An index that cannot be replaced stops the rebuild at that file.
  fs::remove(drive / "MINDEX2.DAT");
  fs::create_directories(drive / "MINDEX2.DAT" / "x");
  lib.player = {Song(1, "UNO", "A")};
  EXPECT_FALSE(lib.RebuildCardIndexes());
  EXPECT_EQ(ui.Last()->text, env.TF("MSG_CANTCREATE", (drive / "MINDEX2.DAT").string()));
  EXPECT_EQ(fs::file_size(drive / "MINDEX0.DAT"), 64u);  // written before it
  EXPECT_EQ(fs::file_size(drive / "MINDEX4.DAT"), 32u);  // not after it
  // ... and one that cannot be read makes the medium unusable.
  ui.answers = {kIdYes};
  EXPECT_FALSE(lib.LoadCardSongList());
  EXPECT_TRUE(lib.indexUnreadable);
  EXPECT_EQ(ui.Last()->text, env.TF("MSG_CANTOPEN", (drive / "MINDEX2.DAT").string()));
}

}  // namespace
}  // namespace kestro::library
