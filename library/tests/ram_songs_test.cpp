// Songs between the PC and the player's internal memory, against the
// simulated player on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "library/library.h"
#include "library/lists.h"
#include "platform/fileutil.h"
#include "sim/sim_rig.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;

Bytes Package(const std::string& title, const std::string& performer, size_t body = 700) {
  Bytes b(512 + body, 0x5A);
  std::memset(b.data(), 0, 512);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + 122, title.data(), title.size());
  std::memcpy(b.data() + 218, performer.data(), performer.size());
  return b;
}

class RamSongs : public ::testing::Test {
 protected:
  RamSongs() : lib(rig.env) {
    lib.link = &rig.link;
    lib.playerLink = &rig.player;
    lib.medium = kMediumRam;
    songs = rig.dir / "songs";
    fs::create_directories(songs);
    rig.profile.WriteString("PATH", "OLD_MF4", songs.string());
    lib.pcFolder = songs;
  }
  void AddPcSong(const std::string& file, const std::string& title, const std::string& performer, size_t body = 700) {
    ASSERT_TRUE(WriteBinaryFile(songs / file, Package(title, performer, body)));
  }
  void SelectPc(std::initializer_list<std::string> titles) {
    for (auto& r : lib.pc) {
      r.selected = false;
      for (const auto& t : titles) r.selected |= r.title == t;
    }
  }
  void Reload() {
    lib.ReloadPcList();
    lib.LoadRamSongList();
    CompareLists(lib.pc, lib.player);
  }
  std::vector<std::string> SimTitles() {
    std::vector<std::string> t;
    for (const auto& s : rig.sim.Songs()) t.push_back(s.title);
    return t;
  }

  sim::SimRig rig;
  Library lib;
  fs::path songs;
};

TEST_F(RamSongs, SendThenListThenCopyBack) {
  AddPcSong("a.MF4", "VOLARE", "MODUGNO");
  AddPcSong("b.MF4", "AZZURRO", "CELENTANO", 1500);
  AddPcSong("c.MF4", "NOT SENT", "X");
  Reload();
  SelectPc({"VOLARE", "AZZURRO"});
  lib.pc[0].infoEdited = true;
  ASSERT_EQ(lib.SendSongsToRam(), 1);
  EXPECT_EQ(SimTitles(), (std::vector<std::string>{"VOLARE", "AZZURRO"}));  // PC list order (by file name)
  EXPECT_FALSE(lib.pc[0].infoEdited);
  // The player-side list grew by the two songs with new codes.
  ASSERT_EQ(lib.player.size(), 2u);
  EXPECT_EQ(lib.player[0].fileName, "00000.MF4");
  EXPECT_EQ(lib.player[1].code, 1);
  auto lines = rig.ui.Line1History();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], rig.env.TF("MSG_COPY_IN_ZUMBLA", "VOLARE", 1, 2));

  Reload();
  ASSERT_EQ(lib.player.size(), 2u);
  EXPECT_EQ(lib.player[0].title, "VOLARE");
  EXPECT_EQ(lib.player[0].author, "MODUGNO");
  EXPECT_TRUE(lib.player[0].existsOnTarget);

  // Back to the PC: the existing copy of VOLARE is replaced only on Yes.
  for (auto& r : lib.player) r.selected = true;
  rig.ui.answers = {kIdYes, kIdNo};  // VOLARE: yes; AZZURRO: no
  ASSERT_EQ(lib.CopyRamSongsToPc(), 1);
  EXPECT_TRUE(fs::exists(songs / "b.MF4"));
  EXPECT_FALSE(fs::exists(songs / "a.MF4"));  // the old copy of VOLARE went
  EXPECT_EQ(ReadBinaryFile(songs / "VOLARE.MF4").value(), Package("VOLARE", "MODUGNO"));
  EXPECT_FALSE(fs::exists(songs / "AZZURRO.MF4"));
}

TEST_F(RamSongs, ReplacingAskedAndDeclined) {
  AddPcSong("a.MF4", "VOLARE", "MODUGNO", 100);
  Reload();
  SelectPc({"VOLARE"});
  ASSERT_EQ(lib.SendSongsToRam(), 1);
  Reload();
  ASSERT_TRUE(lib.pc[0].existsOnTarget);
  SelectPc({"VOLARE"});
  rig.ui.answers = {kIdNo};
  ASSERT_EQ(lib.SendSongsToRam(), 1);
  EXPECT_EQ(rig.sim.Songs().size(), 1u);
  EXPECT_TRUE(lib.pc[0].existsOnTarget);  // declining leaves the flag
  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib.SendSongsToRam(), 1);
  ASSERT_EQ(rig.sim.Songs().size(), 1u);  // the old copy was deleted first
  EXPECT_EQ(rig.sim.Songs()[0].code, 1);
}

TEST_F(RamSongs, NotEnoughRoomSendsNothingButReplacedCopiesStayDeleted) {
  AddPcSong("a.MF4", "SMALL", "P", 100);
  Reload();
  SelectPc({"SMALL"});
  ASSERT_EQ(lib.SendSongsToRam(), 1);
  AddPcSong("big.MF4", "HUGE", "P", 2 * 1024 * 1024);
  Reload();
  for (auto& r : lib.pc) r.selected = true;
  rig.ui.answers = {kIdYes};  // replace SMALL
  EXPECT_EQ(lib.SendSongsToRam(), 0);
  EXPECT_EQ(rig.ui.Last()->text, rig.env.T("MSG_INSUFFICIENT_SPACE_ON_RAM"));
  EXPECT_TRUE(rig.sim.Songs().empty());
}

TEST_F(RamSongs, OldPlayersHoldFortySongs) {
  rig.sim.SetRelease("1.11");
  for (int i = 0; i < 40; ++i) rig.sim.AddSong("T" + std::to_string(i), "P", Package("T", "P", 10));
  AddPcSong("a.MF4", "ONE MORE", "P", 10);
  Reload();
  SelectPc({"ONE MORE"});
  EXPECT_EQ(lib.SendSongsToRam(), 0);
  EXPECT_EQ(rig.ui.Last()->text, rig.env.T("MSG_INSUFFICIENT_SPACE_ON_RAM"));
  rig.sim.SetRelease("1.12");
  ZumblaInfo info;
  ASSERT_EQ(rig.player.GetZumblaInfo(info), 1);
  EXPECT_EQ(lib.SendSongsToRam(), 1);
  EXPECT_EQ(rig.sim.Songs().size(), 41u);
}

TEST_F(RamSongs, ClosingTheProgressWindowStopsAfterTheCurrentSong) {
  for (int i = 0; i < 4; ++i) AddPcSong("s" + std::to_string(i) + ".MF4", "SONG" + std::to_string(i), "P", 100);
  Reload();
  for (auto& r : lib.pc) r.selected = true;
  rig.ui.abortAfterSteps = 5;  // during the second song (four steps a song)
  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib.SendSongsToRam(), 1);
  EXPECT_EQ(rig.sim.Songs().size(), 2u);
  EXPECT_EQ(rig.ui.Last()->text, rig.env.T("MSG_ASK_ABORT"));
}

TEST_F(RamSongs, ACopyReplacingAPcSongKeepsTheOldOneUntilTheNewOneIsWhole) {
  // On the PC: the song itself under another name, and a different song (same
  // title, another performer) under the name the copy would take.
  const Bytes own = Package("VOLARE", "MODUGNO", 300), other = Package("VOLARE", "ALTRI", 400);
  const Bytes onPlayer = Package("VOLARE", "MODUGNO", 900);
  ASSERT_TRUE(WriteBinaryFile(songs / "volare.MF4", own));
  ASSERT_TRUE(WriteBinaryFile(songs / "VOLARE.MF4", other));
  rig.sim.AddSong("VOLARE", "MODUGNO", onPlayer);
  struct Case {
    const char* what;
    long dropAfter;  // player bytes before it hangs up, -1 never
    int badSums;
    bool copied;
  } cases[] = {{"the link goes during the read", 300, 0, false},
               {"the song comes with a wrong sum", -1, 1, false},
               {"the song comes whole", -1, 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reload();
    ASSERT_EQ(lib.player.size(), 1u);
    ASSERT_TRUE(lib.player[0].existsOnTarget);
    lib.player[0].selected = true;
    rig.ui.answers = {kIdYes};
    rig.ui.messages.clear();
    rig.sim.faults.dropAfterBytes = c.dropAfter;
    rig.sim.faults.corruptSongSums = c.badSums;
    ASSERT_EQ(lib.CopyRamSongsToPc(), 1);
    ASSERT_EQ(lib.outcomes.size(), 1u);
    EXPECT_EQ(lib.outcomes[0].outcome, c.copied ? Library::Outcome::Done : Library::Outcome::Failed);
    // The other song's file is never written over.
    EXPECT_EQ(ReadBinaryFile(songs / "VOLARE.MF4").value(), other);
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(songs)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    if (c.copied) {
      EXPECT_EQ(files, (std::vector<std::string>{"VOLARE (2).MF4", "VOLARE.MF4"}));
      EXPECT_EQ(ReadBinaryFile(songs / "VOLARE (2).MF4").value(), onPlayer);
      EXPECT_EQ(lib.outcomes[0].target, (songs / "VOLARE (2).MF4").string());
    } else {
      EXPECT_EQ(files, (std::vector<std::string>{"VOLARE.MF4", "volare.MF4"}));
      EXPECT_EQ(ReadBinaryFile(songs / "volare.MF4").value(), own);
    }
    rig.sim.faults = {};
  }
  // The whole copy was asked for and told nothing more.
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, rig.env.TF("MSG_ALREADY_EXIST", "VOLARE"));
}

TEST_F(RamSongs, SameTitlesAndUnsafeTitlesOnThePc) {
  rig.sim.AddSong("LA MIA/CANZONE", "A", Package("X", "A", 10));
  rig.sim.AddSong("..", "B", Package("Y", "B", 10));
  rig.sim.AddSong("caf\x05", "C", Package("Z", "C", 10));
  rig.sim.AddSong("caf\x05", "D", Package("W", "D", 10));
  Reload();
  for (auto& r : lib.player) r.selected = true;
  ASSERT_EQ(lib.CopyRamSongsToPc(), 1);
  EXPECT_TRUE(fs::exists(songs / "LA MIA_CANZONE.MF4"));
  EXPECT_TRUE(fs::exists(songs / "_...MF4"));
  EXPECT_TRUE(fs::exists(songs / "caf\xC3\xA9.MF4"));
  EXPECT_TRUE(fs::exists(songs / "caf\xC3\xA9 (2).MF4"));
  size_t files = 0;
  for (auto& e : fs::directory_iterator(songs)) files += e.is_regular_file();
  EXPECT_EQ(files, 4u);
}

TEST_F(RamSongs, DeletingAllOrSomeSongs) {
  for (int i = 0; i < 4; ++i) rig.sim.AddSong("S" + std::to_string(i), "P", Package("S", "P", 10));
  Reload();
  lib.player[1].selected = lib.player[3].selected = true;
  rig.ui.answers = {kIdYes};
  uint64_t before = rig.clock.SleptMs();
  ASSERT_EQ(lib.DeleteRamSongs(), 1);
  EXPECT_GE(rig.clock.SleptMs() - before, 2000u);  // a second after each song
  ASSERT_EQ(lib.player.size(), 2u);
  EXPECT_EQ(lib.player[0].title, "S0");
  EXPECT_EQ(lib.player[1].title, "S2");
  EXPECT_EQ(lib.player[1].listIndex, 1);
  EXPECT_EQ(rig.sim.Songs().size(), 2u);

  for (auto& r : lib.player) r.selected = true;
  rig.ui.answers = {kIdNo};
  EXPECT_EQ(lib.DeleteRamSongs(), 0);
  EXPECT_EQ(rig.sim.Songs().size(), 2u);
  rig.ui.answers = {kIdYes};
  std::string wireBefore = rig.sim.WireSummary();
  ASSERT_EQ(lib.DeleteRamSongs(), 1);
  EXPECT_TRUE(lib.player.empty());
  EXPECT_TRUE(rig.sim.Songs().empty());
  EXPECT_NE(rig.sim.WireSummary().find("55AAFF003584"), std::string::npos);  // one erase-all command
}

TEST_F(RamSongs, DeletingPcSongsLeavesOtherSongsOfTheSameName) {
  fs::path arrivals = rig.dir / "new";
  fs::create_directories(arrivals);
  rig.profile.WriteString("PATH", "NEW_MF4", arrivals.string());
  AddPcSong("song.MP3", "MP3 SONG", "P");
  AddPcSong("song.MF4", "MF4 SONG", "P");
  ASSERT_TRUE(WriteBinaryFile(arrivals / "song.MF4", Package("PENDING", "P")));
  lib.ReloadPcList();
  for (auto& r : lib.pc) r.selected = r.fileName == (songs / "song.MP3").string();
  rig.ui.answers = {kIdYes};
  ASSERT_EQ(lib.DeletePcSongs("Cancella"), 1);
  EXPECT_FALSE(fs::exists(songs / "song.MP3"));
  EXPECT_TRUE(fs::exists(songs / "song.MF4"));     // another song
  EXPECT_FALSE(fs::exists(arrivals / "song.MF4"));  // would come back at the next start
  EXPECT_EQ(rig.ui.messages[0].caption, "Cancella");
}

TEST_F(RamSongs, RefreshComparesCountsAndSorts) {
  AddPcSong("a.MF4", "ZETA", "P");
  AddPcSong("b.MF4", "ALFA", "P");
  rig.sim.AddSong("ALFA", "P", Package("ALFA", "P", 10));
  Reload();
  rig.profile.WriteString("SETTINGS", "LISTSORTORDER", "0100");
  lib.RefreshLists(true);
  EXPECT_EQ(lib.pc[0].title, "ZETA");  // title, descending
  EXPECT_FALSE(lib.pc[0].existsOnTarget);
  EXPECT_TRUE(lib.pc[1].existsOnTarget);
  EXPECT_TRUE(lib.player[0].existsOnTarget);
  EXPECT_EQ(rig.ui.StatusLine(0), rig.env.TF("MSG_MF3INFOLDER", 2));
  EXPECT_EQ(rig.ui.StatusLine(1), rig.env.TF("MSG_MF3INCARD", 1));
  lib.RefreshLists(false);
  EXPECT_TRUE(lib.player.empty());
  EXPECT_FALSE(lib.pc[1].existsOnTarget);
  EXPECT_EQ(rig.ui.StatusLine(1), rig.env.TF("MSG_MF3INCARD", 0));
}

TEST(SongCodes, NumberingAndTheTopOfTheRange) {
  sim::SimRig rig;
  Library lib(rig.env);
  EXPECT_EQ(lib.FirstNewCode(), 0u);
  for (uint16_t c : {0, 1, 7}) {
    SongRecord r;
    r.code = c;
    lib.player.push_back(r);
  }
  EXPECT_EQ(lib.FirstNewCode(), 8u);  // not the first gap
  EXPECT_EQ(lib.UsableCode(8).value(), 8);
  lib.player[2].code = 0xFFFF;
  EXPECT_EQ(lib.FirstNewCode(), 0x10000u);
  EXPECT_EQ(lib.UsableCode(0x10000).value(), 2);  // lowest code not in use
}

}  // namespace
}  // namespace kestro::library
