// The connection cycle against the simulated player on a virtual clock.
#include "shell/connection.h"

#include <gtest/gtest.h>

#include "cardfs/card_fs.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_rig.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

class RecordingView : public ConnectionView {
 public:
  std::vector<int> statuses;
  int refreshes = 0;
  int cleared = 0;
  void ShowPlayerStatus(int reading) override { statuses.push_back(reading); }
  void RefreshListViews() override { ++refreshes; }
  void ClearPlayerListView() override { ++cleared; }
};

class Cycle : public ::testing::Test {
 protected:
  Cycle() : lib(rig.env), cycle(rig.env, rig.link, rig.player, lib, view) {
    cycle.mountSources = {rig.dir / "no-mounts", {}};
  }
  // Runs n cycles and returns the medium after each.
  std::vector<int> Ticks(int n) {
    std::vector<int> m;
    for (int i = 0; i < n; ++i) {
      cycle.ConnectMedia();
      m.push_back(cycle.currentMedium);
    }
    return m;
  }
  sim::SimRig rig;
  library::Library lib;
  RecordingView view;
  ConnectionCycle cycle;
};

TEST_F(Cycle, PlayerInMemoryModeIsTakenOverAfterTwoEqualReadingsWithALink) {
  rig.sim.SetMode(sim::Mode::Ram);
  rig.sim.AddSong("VOLARE", "MODUGNO", Bytes(600, 1));
  EXPECT_EQ(Ticks(5), (std::vector<int>{-1, -1, -1, 2, 2}));
  EXPECT_TRUE(cycle.PlayerReady());
  ASSERT_EQ(lib.player.size(), 1u);  // the memory's list was loaded at the commit
  EXPECT_EQ(lib.player[0].title, "VOLARE");
  EXPECT_EQ(lib.medium, 2);
  EXPECT_EQ(rig.ui.StatusLine(3), rig.env.TF("MSG_MESSAGE_CF5", static_cast<int>(rig.player.ramFreeBytes / 9600 > 100 ? 100 : rig.player.ramFreeBytes / 9600)));

  // Unplugged: two readings of nothing bring the medium back to -1.
  rig.sim.attached = false;
  EXPECT_EQ(Ticks(2), (std::vector<int>{2, -1}));
  EXPECT_FALSE(cycle.PlayerReady());
  EXPECT_TRUE(lib.player.empty());
  EXPECT_EQ(rig.ui.StatusLine(2), rig.env.T("MSG_MESSAGE_CF6"));
}

TEST_F(Cycle, BusyAndBootingPlayersAreNeverCommitted) {
  rig.sim.SetMode(sim::Mode::Busy);
  EXPECT_EQ(Ticks(6), std::vector<int>(6, -1));
  EXPECT_EQ(view.statuses.back(), 3);
  rig.sim.SetMode(sim::Mode::Ram);
  Ticks(4);
  ASSERT_EQ(cycle.currentMedium, 2);
  // Busy later on changes nothing.
  rig.sim.SetMode(sim::Mode::Busy);
  EXPECT_EQ(Ticks(4), std::vector<int>(4, 2));
  rig.sim.SetMode(sim::Mode::Boot);
  EXPECT_EQ(Ticks(3), std::vector<int>(3, 2));
  EXPECT_EQ(view.statuses.back(), 4);
}

TEST_F(Cycle, AlternatingReadingsNeverCommit) {
  // The player is asked every other tick; its mode changes between asks.
  for (int i = 0; i < 16; ++i) {
    rig.sim.SetMode((i / 2) % 2 ? sim::Mode::Card : sim::Mode::Ram);
    cycle.ConnectMedia();
    EXPECT_EQ(cycle.currentMedium, -1) << i;
  }
  // A card reader that comes and goes on every tick.
  rig.sim.attached = false;
  fs::path card = rig.dir / "card";
  fs::create_directories(card);
  ASSERT_TRUE(rig.profile.WriteString("PATH", "Flashdrive", card.string()));
  for (int i = 0; i < 8; ++i) {
    if (i % 2) fs::remove(card / "MINDEX0.DAT");
    else ASSERT_TRUE(WriteBinaryFile(card / "MINDEX0.DAT", Bytes(32, 0)));
    cycle.ConnectMedia();
    EXPECT_EQ(cycle.currentMedium, -1) << i;
  }
}

TEST_F(Cycle, AnotherProgramHoldingThePlayer) {
  rig.sim.SetMode(sim::Mode::Ram);
  ASSERT_TRUE(rig.profile.WriteString("SETTINGS", "USB_Agent", "7"));
  for (int tick = 1; tick <= 21; ++tick) {
    cycle.ConnectMedia();
    EXPECT_EQ(rig.profile.GetInt("SETTINGS", "USB_Agent", -1), 7) << tick;
  }
  cycle.ConnectMedia();  // the 21st repeat
  EXPECT_EQ(rig.profile.GetInt("SETTINGS", "USB_Agent", -1), 0);
  EXPECT_EQ(cycle.currentMedium, -1);
  EXPECT_EQ(Ticks(4).back(), 2);  // resumes
}

TEST_F(Cycle, CardInACardReader) {
  rig.sim.attached = false;
  fs::path card = rig.dir / "card";
  fs::create_directories(card);
  ASSERT_TRUE(WriteBinaryFile(card / "MINDEX0.DAT", Bytes(32, 0)));
  ASSERT_TRUE(rig.profile.WriteString("PATH", "Flashdrive", card.string()));
  rig.ui.answers = {kIdYes};  // give the card its structure
  EXPECT_EQ(Ticks(3), (std::vector<int>{-1, 0, 0}));
  EXPECT_EQ(rig.ui.messages.at(0).text, rig.env.T("MSG_CARD_NO_OK_ZUMBLA"));
  EXPECT_EQ(lib.flashDrive, card);
  EXPECT_TRUE(cycle.PlayerReady());
  for (const char* f : {"MINDEX2.DAT", "MINDEX4.DAT", "MSETUP.DAT", "MALPHA0.DAT", "MALPHA2.DAT"})
    EXPECT_TRUE(fs::exists(card / f)) << f;
  EXPECT_TRUE(fs::is_directory(card / "30"));
  EXPECT_TRUE(lib.player.empty());
  fs::remove(card / "MINDEX0.DAT");
  int refreshes = view.refreshes;
  EXPECT_EQ(Ticks(2), (std::vector<int>{0, -1}));
  EXPECT_GT(view.refreshes, refreshes);
}

// A player with a card: a card image on the simulated player.
class CardCycle : public ::testing::Test {
 protected:
  static sim::SimConfig Config() {
    sim::SimConfig c;
    c.mode = sim::Mode::Card;
    c.cardBytes = 16 << 20;
    return c;
  }
  CardCycle() : rig(Config()), lib(rig.env), sectors(rig.link), card(sectors, rig.player), cycle(rig.env, rig.link, rig.player, lib, view) {
    cycle.mountSources = {rig.dir / "no-mounts", {}};
    lib.card = &card;
    card.createStructure = [this](CardFs&) { return lib.CreateStructureOnFormattedCard(); };
    testing::FillInstallDir(rig.dir);
  }
  int Settle() {
    for (int i = 0; i < 6 && !cycle.PlayerReady(); ++i) cycle.ConnectMedia();
    return cycle.currentMedium;
  }
  sim::SimRig rig;
  library::Library lib;
  SectorAccess sectors;
  CardFs card;
  RecordingView view;
  ConnectionCycle cycle;
};

TEST_F(CardCycle, AnUnformattedCardIsFormattedOnRequestAndGetsItsStructure) {
  rig.ui.answers = {kIdOk};  // format the unusable card
  EXPECT_EQ(Settle(), 1);
  EXPECT_EQ(rig.ui.messages.at(0).text, rig.env.T("MSG_FLAHBADFORMAT"));
  EXPECT_FALSE(rig.sim.InCardAccess());
  EXPECT_EQ(rig.link.linkErrorState, 0);
  EXPECT_TRUE(lib.player.empty());
  EXPECT_FALSE(lib.moduleError);
  // The format made the player's files and folders.
  rig.link.LinkOpen();
  rig.player.CardAccessBegin();
  rig.player.CardAccessOpen();
  EXPECT_TRUE(lib.CheckCardStructure());
  rig.player.CardAccessEnd();
  rig.link.LinkClose();
  EXPECT_NE(rig.ui.StatusLine(2), "");  // the card's size and free space
}

TEST_F(CardCycle, DecliningTheFormatLeavesTheCardAlone) {
  rig.ui.answers = {kIdCancel};
  Settle();
  EXPECT_EQ(cycle.currentMedium, 1);
  EXPECT_EQ(rig.link.linkErrorState, 1);
  EXPECT_TRUE(lib.player.empty());
  EXPECT_GE(view.cleared, 1);
  EXPECT_EQ(rig.ui.CountText(rig.env.T("MSG_FLAHBADFORMAT")), 1);
}

TEST_F(Cycle, ALostLinkSkipsThreeTicks) {
  rig.sim.SetMode(sim::Mode::Ram);
  Ticks(4);
  ASSERT_EQ(cycle.currentMedium, 2);
  cycle.LinkLost();
  EXPECT_FALSE(cycle.PlayerReady());
  size_t wire = rig.sim.wire.size();
  Ticks(3);
  EXPECT_EQ(rig.sim.wire.size(), wire);  // nothing was asked of the player
  EXPECT_EQ(cycle.skipTicks, 0);
  // Then the medium falls to nothing and is taken up again.
  EXPECT_EQ(Ticks(4), (std::vector<int>{-1, -1, -1, 2}));
  EXPECT_TRUE(cycle.PlayerReady());
}

TEST_F(Cycle, AfterAFirmwareUpdateTheCycleStartsFromScratch) {
  rig.sim.SetMode(sim::Mode::Ram);
  Ticks(4);
  ASSERT_EQ(cycle.currentMedium, 2);
  FirmwareCycleSide& side = cycle;
  side.ForgetPlayer();
  EXPECT_EQ(cycle.currentMedium, -1);
  EXPECT_EQ(cycle.newReading, -1);
  EXPECT_EQ(cycle.linkStreak, 0);
  EXPECT_EQ(lib.medium, -1);
  int refreshes = view.refreshes;
  side.RefreshLists();
  EXPECT_EQ(view.refreshes, refreshes + 1);
  EXPECT_EQ(Ticks(5), (std::vector<int>{-1, -1, -1, -1, 2}));
}

TEST_F(Cycle, BusyFlagMakesTheCycleReturnAtOnce) {
  cycle.busy = true;
  cycle.lastReading = 5;
  EXPECT_EQ(cycle.ConnectMedia(), 5);
  EXPECT_TRUE(rig.sim.wire.empty());
}

}  // namespace
}  // namespace kestro
