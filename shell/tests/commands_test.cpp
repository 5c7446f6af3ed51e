// The main window's song commands on a whole application, against the
// simulated player on a virtual clock and a card-reader folder.
#include "shell/commands.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cardfs/names.h"
#include "library/lists.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_channel.h"
#include "sim/sim_rig.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using library::SongRecord;

Bytes Package(const std::string& title, const std::string& performer, size_t body = 1500) {
  Bytes b(512 + body, 0x5A);
  std::memset(b.data(), 0, 512);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + 122, title.data(), title.size());
  std::memcpy(b.data() + 218, performer.data(), performer.size());
  return b;
}

LinkChannels Channels(sim::SimPlayer& sim) {
  LinkChannels c;
  c.ftdi = std::make_unique<sim::SimChannel>(sim, Transport::Ftdi);
  c.bulk = std::make_unique<sim::SimChannel>(sim, Transport::Bulk);
  return c;
}

sim::SimConfig Config(sim::Mode mode, Transport as = Transport::Ftdi) {
  sim::SimConfig c;
  c.mode = mode;
  c.as = as;
  if (mode == sim::Mode::Card) c.cardBytes = 16 << 20;
  return c;
}

class RecordingView : public ConnectionView {
 public:
  int refreshes = 0;
  void RefreshListViews() override { ++refreshes; }
};

// A whole application on a simulated player.
class Bench {
 public:
  explicit Bench(sim::SimConfig cfg) : rig(std::move(cfg)), app(Prepared(rig), Channels(rig.sim), &view) {
    app.cycle.mountSources = {rig.dir / "no-mounts", {}};
    app.card.localTime = [] { return std::optional(LocalDateTime{2024, 5, 6, 7, 8, 10}); };
    songs = rig.dir / "songs";
    fs::create_directories(songs);
    rig.profile.WriteString("PATH", "OLD_MF4", songs.string());
    app.lib.pcFolder = songs;
  }
  static Env& Prepared(sim::SimRig& rig) {
    testing::FillInstallDir(rig.dir);
    EXPECT_TRUE(rig.dict.Load(rig.dir, rig.profile, rig.ui));
    return rig.env;
  }
  std::string T(const char* key) { return rig.env.T(key); }
  void AddPc(const std::string& file, const std::string& title, const std::string& performer) {
    ASSERT_TRUE(WriteBinaryFile(songs / file, Package(title, performer)));
  }
  int Settle() {
    app.lib.ReloadPcList();
    return app.SettleMedium(8, 300);
  }
  void SelectPc(std::initializer_list<std::string> files) {
    for (auto& r : app.lib.pc) {
      r.selected = false;
      for (const auto& f : files) r.selected |= fs::path(r.fileName).filename() == f;
    }
  }
  void SelectPlayer(std::initializer_list<std::string> titles) {
    for (auto& r : app.lib.player) {
      r.selected = false;
      for (const auto& t : titles) r.selected |= r.title == t;
    }
  }
  std::vector<std::string> PlayerTitles() const {
    std::vector<std::string> t;
    for (const auto& r : app.lib.player) t.push_back(r.title);
    std::sort(t.begin(), t.end());
    return t;
  }
  int MediaChange() { return rig.profile.GetInt("Settings", "mediaChange", 0); }
  void ClearMediaChange() { rig.profile.WriteString("Settings", "mediaChange", "0"); }

  sim::SimRig rig;
  RecordingView view;
  App app;
  fs::path songs;
};

TEST(Commands, IgnoredWhileBusyAndRefusedWithoutASettledMedium) {
  Bench b(Config(sim::Mode::Ram));
  b.AddPc("a.MF4", "A", "P");
  b.app.lib.ReloadPcList();
  for (auto& r : b.app.lib.pc) r.selected = true;
  b.app.cycle.busy = true;
  for (auto* cmd : {TransferToPlayer, TransferToPc, DeletePcSelection, DeletePlayerSelection, DeleteSelection})
    EXPECT_EQ(cmd(b.app), CommandStatus::Busy);
  EXPECT_TRUE(b.rig.sim.wire.empty());
  EXPECT_TRUE(b.rig.ui.messages.empty());
  EXPECT_TRUE(fs::exists(b.songs / "a.MF4"));
  b.app.cycle.busy = false;

  // Nothing settled yet: the busy message, and the flag is down again.
  EXPECT_EQ(TransferToPlayer(b.app), CommandStatus::NotReady);
  ASSERT_EQ(b.rig.ui.messages.size(), 1u);
  EXPECT_EQ(b.rig.ui.messages[0].text, b.T("MSG_ZUMNET_BUSY"));
  EXPECT_EQ(b.rig.ui.messages[0].caption, b.T("MSG_ERROR"));
  EXPECT_EQ(b.rig.ui.messages[0].style, 16u);
  EXPECT_FALSE(b.app.cycle.busy);
  EXPECT_EQ(b.MediaChange(), 0);  // nothing connected: no change to tell
  // The card commands do not apply without a card.
  EXPECT_EQ(RegenerateCardIndexes(b.app), CommandStatus::NotAvailable);
  EXPECT_EQ(FormatCardCommand(b.app), CommandStatus::NotAvailable);
}

TEST(Commands, PlayersMemory) {
  Bench b(Config(sim::Mode::Ram, Transport::Bulk));
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  b.AddPc("b.MF4", "AZZURRO", "CELENTANO");
  ASSERT_EQ(b.Settle(), 2);
  b.SelectPc({"a.MF4", "b.MF4"});
  ASSERT_EQ(TransferToPlayer(b.app), CommandStatus::Done);
  EXPECT_EQ(b.MediaChange(), 1);
  // The list is the player's own, with the codes it gave.
  ASSERT_EQ(b.app.lib.player.size(), 2u);
  for (const auto& r : b.app.lib.player) {
    ASSERT_NE(b.rig.sim.FindSong(r.code), nullptr) << r.code;
    EXPECT_EQ(b.rig.sim.FindSong(r.code)->title, r.title);
    EXPECT_TRUE(r.existsOnTarget);  // compared by the refresh
  }
  EXPECT_EQ(b.rig.ui.StatusLine(1), b.rig.env.TF("MSG_MF3INCARD", 2));

  // Back to the PC, into a PC folder without them.
  fs::remove(b.songs / "a.MF4");
  b.app.lib.ReloadPcList();
  library::CompareLists(b.app.lib.pc, b.app.lib.player);
  b.SelectPlayer({"VOLARE"});
  ASSERT_EQ(TransferToPc(b.app), CommandStatus::Done);
  EXPECT_TRUE(fs::exists(b.songs / "VOLARE.MF4"));
  EXPECT_EQ(b.app.lib.pc.size(), 2u);  // the PC list was read again

  // Delete: a PC selection is the PC's, and a No there goes no further.
  b.SelectPc({"b.MF4"});
  b.SelectPlayer({"AZZURRO"});
  b.rig.ui.answers = {kIdNo};
  EXPECT_EQ(DeleteSelection(b.app), CommandStatus::NothingDone);
  EXPECT_EQ(b.rig.ui.Last()->caption, b.T("MSG_DELETE_SONG_FROM_HD"));
  EXPECT_EQ(b.rig.sim.Songs().size(), 2u);
  EXPECT_TRUE(fs::exists(b.songs / "b.MF4"));
  // Without a PC selection, the player's.
  b.SelectPc({});
  b.SelectPlayer({"AZZURRO"});
  b.rig.ui.answers = {kIdYes};
  b.ClearMediaChange();
  EXPECT_EQ(DeleteSelection(b.app), CommandStatus::Done);
  EXPECT_EQ(b.MediaChange(), 1);
  EXPECT_EQ(b.PlayerTitles(), std::vector<std::string>{"VOLARE"});
  ASSERT_EQ(b.rig.sim.Songs().size(), 1u);
  EXPECT_EQ(b.rig.sim.Songs()[0].title, "VOLARE");
  EXPECT_EQ(RegenerateCardIndexes(b.app), CommandStatus::NotAvailable);
}

TEST(Commands, NoSongsIntoTheMemoryOverTheFtdiBridge) {
  Bench b(Config(sim::Mode::Ram, Transport::Ftdi));
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  ASSERT_EQ(b.Settle(), 2);
  b.SelectPc({"a.MF4"});
  EXPECT_EQ(TransferToPlayer(b.app), CommandStatus::NothingDone);
  EXPECT_EQ(b.rig.ui.Last()->text, "Non \xE8 possibile trasferire alcuna canzone nella memoria interna di Zumbla2.\n\n");
  EXPECT_EQ(b.rig.ui.Last()->style, mb::kIconInformation);
  EXPECT_TRUE(b.rig.sim.Songs().empty());
}

TEST(Commands, PlayersCard) {
  Bench b(Config(sim::Mode::Card));
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  b.AddPc("b.MF4", "AZZURRO", "CELENTANO");
  b.AddPc("c.MF4", "MARE", "X");
  b.rig.ui.answers = {kIdOk};  // format the blank card at the connection
  ASSERT_EQ(b.Settle(), 1);
  ASSERT_TRUE(b.app.card.Mounted());

  b.SelectPc({"a.MF4", "b.MF4", "c.MF4"});
  ASSERT_EQ(TransferToPlayer(b.app), CommandStatus::Done);
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"AZZURRO", "MARE", "VOLARE"}));
  EXPECT_EQ(b.MediaChange(), 1);
  EXPECT_FALSE(b.rig.sim.InCardAccess());  // the bracket was closed
  EXPECT_FALSE(b.rig.sim.connected());
  EXPECT_FALSE(b.app.cycle.busy);

  // A lost link in the middle of the next transfer.
  b.AddPc("d.MF4", "NUOVA", "Y");
  b.app.lib.ReloadPcList();
  library::CompareLists(b.app.lib.pc, b.app.lib.player);
  b.SelectPc({"d.MF4"});
  b.rig.sim.faults.dropAfterBytes = 2 + 516 + 2;  // the handshake, the folder, two sectors
  size_t wire = b.rig.sim.wire.size();
  EXPECT_EQ(TransferToPlayer(b.app), CommandStatus::Done);
  EXPECT_EQ(b.app.link.linkErrorState, 1);
  int writes = 0;
  for (size_t i = wire; i < b.rig.sim.wire.size(); ++i) {
    const auto& w = b.rig.sim.wire[i];
    writes += w.fromHost && w.bytes.size() == 7 && w.bytes[0] == 0x55 && w.bytes[1] == 0x01;
  }
  EXPECT_EQ(writes, 3);  // the third one found the player gone
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"AZZURRO", "MARE", "VOLARE"}));

  // The next command mounts the card afresh; the rebuild lists what is
  // there.
  b.rig.ui.answers = {kIdYes};
  ASSERT_EQ(RegenerateCardIndexes(b.app), CommandStatus::Done);
  EXPECT_EQ(b.rig.ui.Last()->text, b.T("MSG_PROCEDURE_MAY_BE_LONG"));
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"AZZURRO", "MARE", "VOLARE"}));
  EXPECT_FALSE(b.rig.sim.InCardAccess());

  // Back to the PC.
  fs::remove(b.songs / "c.MF4");
  b.app.lib.ReloadPcList();
  library::CompareLists(b.app.lib.pc, b.app.lib.player);
  b.SelectPlayer({"MARE"});
  ASSERT_EQ(TransferToPc(b.app), CommandStatus::Done);
  EXPECT_EQ(ReadBinaryFile(b.songs / "MARE.MF4"), Package("MARE", "X"));

  // Delete on the card.
  b.SelectPc({});
  b.SelectPlayer({"VOLARE"});
  b.rig.ui.answers = {kIdYes};
  ASSERT_EQ(DeleteSelection(b.app), CommandStatus::Done);
  EXPECT_EQ(b.rig.ui.Last()->caption, b.T("MSG_DELETE_SONG_FROM_CARD"));
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"AZZURRO", "MARE"}));
  EXPECT_FALSE(b.rig.sim.InCardAccess());

  // The format: asked with the second button the default; No keeps all.
  b.rig.ui.answers = {kIdNo};
  EXPECT_EQ(FormatCardCommand(b.app), CommandStatus::NothingDone);
  EXPECT_EQ(b.rig.ui.Last()->text, b.T("MSG_SURE_TO_FORMAT_CARD"));
  EXPECT_EQ(b.rig.ui.Last()->style, 0x124u);
  EXPECT_EQ(b.app.lib.player.size(), 2u);
  b.rig.ui.answers = {kIdYes};
  ASSERT_EQ(FormatCardCommand(b.app), CommandStatus::Done);
  EXPECT_TRUE(b.app.lib.player.empty());
  EXPECT_FALSE(b.rig.sim.InCardAccess());
  // A fresh card with the player's structure and no songs.
  b.app.cycle.LoadPlayerSongList();
  EXPECT_FALSE(b.app.lib.moduleError);
  EXPECT_TRUE(b.app.lib.player.empty());
  EXPECT_NE(b.rig.ui.StatusLine(2), "");  // the card's size and free space
}

TEST(Commands, ACutDuringTheIndexRewriteIsToldAfterTheSongsMoved) {
  Bench b(Config(sim::Mode::Card));
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  b.AddPc("b.MF4", "AZZURRO", "CELENTANO");
  b.AddPc("c.MF4", "MARE", "X");
  b.rig.ui.answers = {kIdOk};
  ASSERT_EQ(b.Settle(), 1);
  b.SelectPc({"a.MF4", "b.MF4"});
  ASSERT_EQ(TransferToPlayer(b.app), CommandStatus::Done);
  // The player hangs up this many bytes into the rewrite of the index files
  // on the card: the first index file, or the last ones.
  struct Case {
    const char* what;
    bool send;  // else delete
    long after;
  } cases[] = {{"a send, at the first index file", true, 0},
               {"a delete, at a later index file", false, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    b.rig.ui.onLine1 = [&](const std::string& line) {
      if (line.rfind("Aggiornamento in corso...", 0) == 0) b.rig.sim.faults.dropAfterBytes = c.after;
    };
    CommandStatus st;
    if (c.send) {
      b.app.lib.ReloadPcList();
      library::CompareLists(b.app.lib.pc, b.app.lib.player);
      b.SelectPc({"c.MF4"});
      st = TransferToPlayer(b.app);
    } else {
      b.SelectPc({});
      b.SelectPlayer({"VOLARE"});
      b.rig.ui.answers = {kIdYes};
      st = DeletePlayerSelection(b.app);
    }
    b.rig.ui.onLine1 = nullptr;
    EXPECT_EQ(st, CommandStatus::IndexFilesStale);
    ASSERT_EQ(b.app.lib.outcomes.size(), 1u);
    EXPECT_EQ(b.app.lib.outcomes[0].outcome, library::Library::Outcome::Done);
    EXPECT_EQ(b.app.link.linkErrorState, 1);
    // The recovery writes the index anew.
    b.rig.ui.answers = {kIdYes};
    ASSERT_EQ(RegenerateCardIndexes(b.app), CommandStatus::Done);
    EXPECT_FALSE(b.app.lib.indexFilesStale);
  }
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"AZZURRO", "MARE"}));
}

TEST(Commands, NothingIsSentAfterAPlayerListThatCouldNotBeRead) {
  Bench b(Config(sim::Mode::Card));
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  b.AddPc("b.MF4", "AZZURRO", "CELENTANO");
  b.AddPc("c.MF4", "MARE", "X");
  b.rig.ui.answers = {kIdOk};
  ASSERT_EQ(b.Settle(), 1);
  b.SelectPc({"a.MF4", "b.MF4"});
  ASSERT_EQ(TransferToPlayer(b.app), CommandStatus::Done);

  // The player is connected again; its card's list is cut off while it is
  // read, at the card check or at the index files.
  for (long cut : {2000L, 60000L}) {
    SCOPED_TRACE(cut);
    b.app.cycle.ForgetPlayer();
    b.app.cycle.lastReading = -1;
    b.rig.link.LinkClose();
    b.rig.sim.faults.dropAfterBytes = cut;
    b.app.lib.ReloadPcList();
    int medium = b.app.SettleMedium(2, 300);
    b.rig.sim.faults.dropAfterBytes = -1;
    if (medium == 1) {
      if (b.app.lib.playerListRead) continue;  // the cut came after the list was read
      b.SelectPc({"c.MF4"});
      size_t wire = b.rig.sim.wire.size();
      EXPECT_EQ(TransferToPlayer(b.app), CommandStatus::PlayerListUnknown);
      for (size_t i = wire; i < b.rig.sim.wire.size(); ++i) EXPECT_FALSE(b.rig.sim.wire[i].fromHost) << "nothing said";
    }
  }
  // A list read whole: the songs are there, and the new one gets a code of
  // its own.
  b.app.cycle.ForgetPlayer();
  b.app.cycle.lastReading = -1;
  b.rig.link.LinkClose();
  ASSERT_EQ(b.Settle(), 1);
  ASSERT_TRUE(b.app.lib.playerListRead);
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"AZZURRO", "VOLARE"}));
  library::CompareLists(b.app.lib.pc, b.app.lib.player);
  b.SelectPc({"c.MF4"});
  ASSERT_EQ(TransferToPlayer(b.app), CommandStatus::Done);
  ASSERT_EQ(b.app.lib.outcomes.size(), 1u);
  EXPECT_EQ(b.app.lib.outcomes[0].target, "00002.MF4");
}

TEST(Commands, TheStartBringsInTheSongsWaitingToArrive) {
  Bench b(Config(sim::Mode::Ram));
  fs::path fresh = b.rig.dir / "new", downloaded = b.rig.dir / "download";
  fs::create_directories(fresh);
  fs::create_directories(downloaded);
  b.rig.profile.WriteString("PATH", "NEW_MF4", fresh.string());
  b.rig.profile.WriteString("PATH", "DOWNLOAD_MF4", downloaded.string());
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  ASSERT_TRUE(WriteBinaryFile(fresh / "nuova.MF4", Package("NUOVA", "N")));
  ASSERT_TRUE(WriteBinaryFile(downloaded / "scaricata.MF4", Package("SCARICATA", "S")));
  b.app.Start();
  std::vector<std::string> titles;
  for (const auto& r : b.app.lib.pc) titles.push_back(r.title);
  std::sort(titles.begin(), titles.end());
  EXPECT_EQ(titles, (std::vector<std::string>{"NUOVA", "SCARICATA", "VOLARE"}));
  EXPECT_EQ(ReadBinaryFile(b.songs / "nuova.MF4"), Package("NUOVA", "N"));
  EXPECT_FALSE(fs::exists(fresh / "nuova.MF4"));
  EXPECT_FALSE(fs::exists(downloaded / "scaricata.MF4"));
}

TEST(Commands, CardInACardReader) {
  Bench b(Config(sim::Mode::Ram));
  b.rig.sim.attached = false;
  fs::path card = b.rig.dir / "card";
  fs::create_directories(card);
  ASSERT_TRUE(WriteBinaryFile(card / "MINDEX0.DAT", Bytes(32, 0)));
  b.rig.profile.WriteString("PATH", "Flashdrive", card.string());
  b.AddPc("a.MF4", "VOLARE", "MODUGNO");
  b.rig.ui.answers = {kIdYes};  // give the card its structure
  ASSERT_EQ(b.Settle(), 0);

  b.SelectPc({"a.MF4"});
  ASSERT_EQ(TransferToPlayer(b.app), CommandStatus::Done);
  EXPECT_EQ(ReadBinaryFile(card / "0" / "00000.MF4"), Package("VOLARE", "MODUGNO"));
  EXPECT_EQ(b.PlayerTitles(), std::vector<std::string>{"VOLARE"});

  ASSERT_TRUE(WriteBinaryFile(card / "3" / "00034.MF4", Package("TROVATA", "Z")));
  b.rig.ui.answers = {kIdYes};
  ASSERT_EQ(RegenerateCardIndexes(b.app), CommandStatus::Done);
  EXPECT_EQ(b.PlayerTitles(), (std::vector<std::string>{"TROVATA", "VOLARE"}));

  b.rig.ui.answers = {kIdYes};
  ASSERT_EQ(FormatCardCommand(b.app), CommandStatus::Done);
  EXPECT_EQ(b.rig.ui.messages.back().text, b.rig.env.TF("MSG_SURE_TO_FORMAT_THIS_UNIT", card.string()));
  EXPECT_FALSE(fs::exists(card / "0" / "00000.MF4"));
  EXPECT_FALSE(fs::exists(card / "3" / "00034.MF4"));
  EXPECT_EQ(ReadBinaryFile(card / "MINDEX0.DAT"), Bytes(32, 0));
  EXPECT_TRUE(b.app.lib.player.empty());
}

}  // namespace
}  // namespace kestro
