// The player protocol against the simulated player, in-process on a virtual
// clock.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/charmap.h"
#include "link/player.h"
#include "platform/fileutil.h"
#include "sim/sim_rig.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using sim::SimConfig;
using sim::SimRig;

const char* kTexts =
    "[ENUMKEYS]\nK0=MSG_NO_OPENFILE\nK1=MSG_NOTRANFERSONG\nK2=MSG_SPAZIO_INSUF\nK3=MSG_PBLCOMUNICATION\n"
    "K4=MSG_PBL_READFILE\nK5=MSG_ATTENZIONE\nK6=MSG_ZUMNET_BUSY\nK7=MSG_CAPTION_ERROR\nK8=MSG_USB_TIMEOUT\n"
    "[ITALIANO]\nMSG_NO_OPENFILE=Cannot open %s\nMSG_NOTRANFERSONG=Song %d not transferred\n"
    "MSG_SPAZIO_INSUF=No room for %s\nMSG_PBLCOMUNICATION=Trouble sending %s\nMSG_PBL_READFILE=Bad song sum\n"
    "MSG_ATTENZIONE=Attention\nMSG_ZUMNET_BUSY=Player busy\nMSG_CAPTION_ERROR=Error\nMSG_USB_TIMEOUT=USB timeout\n";

Bytes Pattern(size_t n, uint8_t seed = 7) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 31);
  return b;
}

// An MF4 package header with a title and a performer, then `body` bytes.
Bytes Package(const std::string& title, const std::string& author, size_t body) {
  Bytes b(512, 0);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + 122, title.data(), title.size());
  std::memcpy(b.data() + 218, author.data(), author.size());
  Bytes rest = Pattern(body);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

class PlayerTest : public ::testing::Test {
 protected:
  explicit PlayerTest(SimConfig cfg = {}) : rig(cfg) { rig.dict.LoadFromText(kTexts, "ITALIANO", rig.ui); }
  SimRig rig;
  Player& p = rig.player;
  fs::path Path(const std::string& name) { return rig.dir / name; }
};

// --- Replies: 06 and 66 alike ---

TEST_F(PlayerTest, SoftAckWorksLikeAckForEveryMemoryAndSetupCommand) {
  for (bool soft : {false, true}) {
    SCOPED_TRACE(soft ? "66" : "06");
    rig.sim.faults.softAck = soft;
    rig.sim.AddSong("One", "A", Pattern(300));
    uint16_t two = rig.sim.AddSong("Two", "B", Pattern(40));

    RamSongTable t;
    ASSERT_EQ(p.GetRamFileInfo(t), 1);
    EXPECT_EQ(t.SongCount(), 2);
    EXPECT_EQ(t.Title(1), "Two");

    ZumblaInfo info;
    EXPECT_EQ(p.GetZumblaInfo(info), 1);
    EXPECT_EQ(info.Release(), "1.12");

    ASSERT_EQ(p.ReadRamFile(Path("two.mf4"), two), 1);
    EXPECT_EQ(ReadBinaryFile(Path("two.mf4")), Pattern(40));

    WriteBinaryFile(Path("new.mf4"), Package("New", "C", 700));
    ASSERT_EQ(p.WriteRamFile(Path("new.mf4")), 1);
    ASSERT_EQ(rig.sim.Songs().size(), 3u);
    EXPECT_EQ(rig.sim.Songs().back().title, "New");

    EXPECT_EQ(p.DeleteRamFile(two), 1);
    EXPECT_EQ(rig.sim.FindSong(two), nullptr);

    Bytes setup = Pattern(30, 3);
    WriteBinaryFile(Path("setup.in"), setup);
    EXPECT_EQ(p.WriteRamSetup(Path("setup.in")), 1);
    EXPECT_EQ(p.ReadRamSetup(Path("setup.out")), 1);
    EXPECT_EQ(ReadBinaryFile(Path("setup.out")), setup);

    EXPECT_EQ(p.DeleteAllRamFiles(), 1);
    EXPECT_TRUE(rig.sim.Songs().empty());
    EXPECT_TRUE(rig.ui.messages.empty());
  }
}

TEST_F(PlayerTest, RefusedCommandsFailAndShowNothing) {
  rig.sim.SetMode(sim::Mode::Boot);  // a player without firmware refuses memory commands
  uint16_t code = rig.sim.AddSong("X", "Y", Pattern(10));
  RamSongTable t;
  EXPECT_EQ(p.GetRamFileInfo(t), 0);
  EXPECT_EQ(p.ReadRamFile(Path("x.mf4"), code), 0);
  EXPECT_FALSE(fs::exists(Path("x.mf4")));
  WriteBinaryFile(Path("s.mf4"), Pattern(10));
  EXPECT_EQ(p.WriteRamFile(Path("s.mf4")), 0);
  EXPECT_EQ(p.DeleteRamFile(code), 0);
  EXPECT_EQ(p.DeleteAllRamFiles(), 0);
  EXPECT_EQ(p.ReadRamSetup(Path("setup")), 0);
  EXPECT_FALSE(fs::exists(Path("setup")));
  EXPECT_TRUE(rig.ui.messages.empty());
  EXPECT_EQ(rig.sim.Songs().size(), 1u);
  // The information record still comes: it tells that the player waits.
  ZumblaInfo info;
  ASSERT_EQ(p.GetZumblaInfo(info), 1);
  EXPECT_EQ(info.Mode(), 3);
}

// --- Reading songs ---

TEST_F(PlayerTest, SongsAreReadInBlocksOf256WithA66AfterEachFullBlock) {
  struct Case {
    size_t size;
    const char* blocks;
  } cases[] = {
      {512, "P:256 H:66 P:256 H:66"},
      {300, "P:256 H:66 P:44"},
      {44, "P:44"},
      {0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    uint16_t code = rig.sim.AddSong("S", "A", Pattern(c.size));
    size_t from = rig.sim.wire.size();
    uint64_t slept = rig.clock.SleptMs();
    ASSERT_EQ(p.ReadRamFile(Path("song.mf4"), code), 1);
    EXPECT_EQ(ReadBinaryFile(Path("song.mf4")), Pattern(c.size));
    char codeHex[8];
    std::snprintf(codeHex, sizeof codeHex, "%02X%02X", code & 0xFF, code >> 8);
    std::string expect = std::string("H:1B H:1B H:55AAFF003581 P:06 H:") + codeHex + " P:06 P:8";
    if (*c.blocks) expect += std::string(" ") + c.blocks;
    EXPECT_EQ(rig.sim.WireSummary(from), expect);
    EXPECT_EQ(rig.clock.SleptMs() - slept, 6u * 20);  // the 20 ms steps, no time-out
  }
  EXPECT_TRUE(rig.ui.messages.empty());
}

TEST_F(PlayerTest, SumMismatchShowsTheMessageFailsAndLeavesNoFile) {
  uint16_t code = rig.sim.AddSong("S", "A", Pattern(300));
  rig.sim.faults.corruptSongSums = 1;
  EXPECT_EQ(p.ReadRamFile(Path("song.mf4"), code), 0);
  EXPECT_FALSE(fs::exists(Path("song.mf4")));
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, "Bad song sum");
  EXPECT_EQ(rig.ui.messages[0].caption, "Attention");
  EXPECT_EQ(rig.ui.messages[0].style, 16u);
  EXPECT_EQ(rig.ui.messages[0].kind, BoxKind::Program);
  // The next read of the song is sound again.
  ASSERT_EQ(p.ReadRamFile(Path("song.mf4"), code), 1);
  EXPECT_EQ(ReadBinaryFile(Path("song.mf4")), Pattern(300));
}

TEST_F(PlayerTest, ReadingAnUnknownSongFailsWithItsCodeAndLeavesNoFile) {
  ASSERT_EQ(p.ReadRamFile(Path("song.mf4"), 4242), 0);
  EXPECT_FALSE(fs::exists(Path("song.mf4")));
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, "Song 4242 not transferred");
  EXPECT_EQ(rig.ui.messages[0].caption, "Attention");
  EXPECT_EQ(rig.ui.messages[0].style, 0u);
}

TEST_F(PlayerTest, ReadTargetThatCannotBeCreatedSendsNothing) {
  uint16_t code = rig.sim.AddSong("S", "A", Pattern(10));
  fs::path target = rig.dir / "no" / "such" / "folder.mf4";
  EXPECT_EQ(p.ReadRamFile(target, code), 0);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, "Cannot open " + target.string());
  EXPECT_EQ(rig.sim.connections(), 0);
}

TEST_F(PlayerTest, PlayerCodesInTheTargetPathBecomeLetters) {
  uint16_t code = rig.sim.AddSong("Caf\x05", "A", Pattern(10));
  ASSERT_EQ(p.ReadRamFile(rig.dir / "Caf\x05.MF4", code), 1);
  EXPECT_TRUE(fs::exists(rig.dir / "Caf\xC3\xA9.MF4"));  // é in UTF-8
  EXPECT_FALSE(fs::exists(rig.dir / "Caf\x05.MF4"));
}

// --- Writing songs ---

TEST_F(PlayerTest, SongsAreWrittenInBlocksWithAReplyAfterEachFullBlock) {
  struct Case {
    size_t size;
    const char* blocks;
    int steps;
  } cases[] = {
      {512, "H:256 P:06 H:256 P:06 P:06", 3},
      {300, "H:256 P:06 H:44 P:06", 2},
      {100, "H:100 P:06", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes data = Pattern(c.size);
    WriteBinaryFile(Path("in.bin"), data);
    size_t from = rig.sim.wire.size();
    uint64_t slept = rig.clock.SleptMs();
    rig.ui.ProgressStart(10);  // the transfer that calls it shows the progress
    int steps = rig.ui.steps;
    ASSERT_EQ(p.WriteRamFile(Path("in.bin")), 1);
    rig.ui.ProgressEnd();
    uint16_t sum = FileSum16(data.data(), data.size());
    char head[64];
    std::snprintf(head, sizeof head, "H:%02X%02X0000 H:%02X%02X0000", static_cast<unsigned>(c.size & 0xFF),
                  static_cast<unsigned>(c.size >> 8), sum & 0xFF, sum >> 8);
    EXPECT_EQ(rig.sim.WireSummary(from),
              std::string("H:1B H:1B H:55AAFF003582 P:06 ") + head + " P:06 " + c.blocks);
    EXPECT_EQ(rig.ui.steps - steps, c.steps);
    EXPECT_EQ(rig.clock.SleptMs() - slept, 200u + 6 * 20 + 1000);
    ASSERT_NE(rig.sim.Songs().size(), 0u);
    EXPECT_EQ(rig.sim.Songs().back().data, data);
    EXPECT_EQ(rig.sim.Songs().back().title, "Untitled");
  }
}

TEST_F(PlayerTest, WritingWithoutRoomShowsInsufficientSpace) {
  SimConfig cfg;
  cfg.ramBytes = 1000;
  SimRig small(cfg);
  small.dict.LoadFromText(kTexts, "ITALIANO", small.ui);
  fs::path src = small.dir / "big.mf4";
  WriteBinaryFile(src, Pattern(1001));
  EXPECT_EQ(small.player.WriteRamFile(src), 0);
  ASSERT_EQ(small.ui.messages.size(), 1u);
  EXPECT_EQ(small.ui.messages[0].text, "No room for " + src.string());
  EXPECT_EQ(small.ui.messages[0].caption, "Attention");
  EXPECT_TRUE(small.sim.Songs().empty());
}

TEST_F(PlayerTest, WritingAMissingFileSendsNothing) {
  EXPECT_EQ(p.WriteRamFile(Path("missing.mf4")), 0);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, "Cannot open " + Path("missing.mf4").string());
  EXPECT_TRUE(rig.sim.wire.empty());
}

TEST_F(PlayerTest, ABlockThePlayerDoesNotAcknowledgeStopsTheWrite) {
  WriteBinaryFile(Path("in.bin"), Pattern(1000));
  // Replies: command, length; then the player goes quiet after one block.
  rig.sim.faults.stopAfterBytes = 2;
  uint64_t before = rig.clock.NowMs();
  EXPECT_EQ(p.WriteRamFile(Path("in.bin")), 0);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, "Trouble sending " + Path("in.bin").string());
  // One FTDI time-out (twice 2000 ms) and the pauses, no more.
  EXPECT_EQ(rig.clock.NowMs() - before, 4000u + 200 + 6 * 20 + 1000);
  EXPECT_EQ(rig.sim.WireSummary().find("H:256 H:256"), std::string::npos);
}

// --- Deleting ---

TEST_F(PlayerTest, DeletingAsksWithPausesAndTheLongTimeout) {
  uint16_t code = rig.sim.AddSong("S", "A", Pattern(10));
  uint64_t slept = rig.clock.SleptMs();
  EXPECT_EQ(p.DeleteRamFile(code), 1);
  EXPECT_EQ(rig.clock.SleptMs() - slept, 3u * 20);
  EXPECT_EQ(p.DeleteRamFile(code), 0);  // gone already: the player says no

  // A player that never confirms is waited for 15 s (twice on FTDI).
  code = rig.sim.AddSong("S", "A", Pattern(10));
  rig.sim.faults.stopAfterBytes = 1;  // the command is accepted, the delete never confirmed
  uint64_t before = rig.clock.NowMs();
  EXPECT_EQ(p.DeleteRamFile(code), 0);
  EXPECT_EQ(rig.clock.NowMs() - before, 3u * 20 + 30000);
}

// --- Information and setup ---

TEST_F(PlayerTest, InformationRecordAndReadings) {
  rig.sim.SetMode(sim::Mode::Card);
  rig.sim.SetRelease("1.30b");
  ZumblaInfo info;
  ASSERT_EQ(p.GetZumblaInfo(info), 1);
  EXPECT_EQ(info.Mode(), 1);
  EXPECT_EQ(info.Release(), "1.30b");
  EXPECT_EQ(rig.sim.WireSummary(), "H:1B H:1B H:55AAFF003680 P:06 P:30");
  ASSERT_TRUE(p.LastInfo().has_value());

  struct Case {
    int mode;
    std::optional<int> reading;
  } cases[] = {{0, 2}, {1, 1}, {2, 3}, {3, 4}, {4, std::nullopt}, {255, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ReadingForPlayerMode(c.mode), c.reading) << c.mode;
}

TEST_F(PlayerTest, SetupRecordRoundTripAndShortFiles) {
  // The options dialog keeps 16 bytes in its file: the rest goes out as 0.
  Bytes sixteen = Pattern(16, 9);
  WriteBinaryFile(Path("MSETUP.DAT"), sixteen);
  rig.sim.setup.fill(0xEE);
  ASSERT_EQ(p.WriteRamSetup(Path("MSETUP.DAT")), 1);
  for (size_t i = 0; i < 30; ++i) EXPECT_EQ(rig.sim.setup[i], i < 16 ? sixteen[i] : 0) << i;

  ASSERT_EQ(p.ReadRamSetup(Path("back.dat")), 1);
  EXPECT_EQ(ReadBinaryFile(Path("back.dat")), Bytes(rig.sim.setup.begin(), rig.sim.setup.end()));

  size_t before = rig.sim.wire.size();
  EXPECT_EQ(p.WriteRamSetup(Path("missing.dat")), 0);
  EXPECT_EQ(rig.sim.wire.size(), before);  // nothing sent
  // A target that cannot be written does not undo the read.
  EXPECT_EQ(p.ReadRamSetup(rig.dir / "no" / "dir" / "x.dat"), 1);
}

// --- Song table and limits ---

TEST_F(PlayerTest, SongTableLayoutAndResetOfTheLinkErrorState) {
  rig.sim.AddSong("Caf\x05", "Autore", Pattern(10));
  rig.sim.AddSong(std::string(29, 'T'), std::string(29, 'A'), Pattern(20));
  rig.link.linkErrorState = 1;
  rig.ui.ProgressStart(10);
  RamSongTable t;
  ASSERT_EQ(p.GetRamFileInfo(t), 1);
  EXPECT_EQ(rig.link.linkErrorState, 0);
  EXPECT_FALSE(rig.ui.Progress().open);
  EXPECT_EQ(t.SongCount(), 2);
  EXPECT_EQ(t.FreeBytes(), 1024u * 1024 - 30);
  EXPECT_EQ(t.bytes[6], 1);  // first title record: code 1
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&t.bytes[8])), "Caf\x05");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&t.bytes[3206 + 2])), "Autore");
  EXPECT_EQ(t.Code(1), 2);
  EXPECT_EQ(t.Title(1), std::string(29, 'T'));
  EXPECT_EQ(t.Author(1), std::string(29, 'A'));
  EXPECT_EQ(PlayerTextToLatin1(t.Title(0)), "Caf\xE9");
}

TEST(RamSongLimit, ReleaseBelow112HoldsForty) {
  struct Case {
    const char* release;
    int limit;
  } cases[] = {{"1.11", 40}, {"1.11z", 40}, {"1.1", 40}, {"0.99", 40}, {"", 40},     {"1.12", 100},
               {"1.120", 100}, {"1.13", 100}, {"1.2", 100},  {"2.00", 100}, {"1.12a", 100}};
  for (const auto& c : cases) EXPECT_EQ(RamSongLimit(c.release), c.limit) << c.release;
}

TEST_F(PlayerTest, RamFreeForNewSongFollowsTheLimitOfTheRelease) {
  for (int i = 0; i < 40; ++i) rig.sim.AddSong("S", "A", Pattern(10));
  rig.sim.SetRelease("1.11");
  EXPECT_EQ(p.RamFreeForNewSong(), 0u);  // asks for the release first
  ASSERT_TRUE(p.LastInfo().has_value());
  // The simulated player holds to the same limit.
  WriteBinaryFile(Path("one.mf4"), Pattern(10));
  EXPECT_EQ(p.WriteRamFile(Path("one.mf4")), 0);
  EXPECT_EQ(rig.sim.Songs().size(), 40u);

  rig.sim.SetRelease("1.12");
  ZumblaInfo info;
  ASSERT_EQ(p.GetZumblaInfo(info), 1);
  EXPECT_EQ(p.RamFreeForNewSong(), rig.sim.FreeBytes());
  for (int i = 40; i < 100; ++i) rig.sim.AddSong("S", "A", Pattern(10));
  EXPECT_GT(rig.sim.FreeBytes(), 0u);
  EXPECT_EQ(p.RamFreeForNewSong(), 0u);
}

TEST(RamFreePercent, OnlyForInternalMemoryInUnitsOf9600) {
  struct Case {
    uint32_t ram;
    int medium;
    uint32_t percent;
  } cases[] = {{480000, 2, 50}, {9599, 2, 0}, {2u << 20, 2, 100}, {480000, 1, 0}, {480000, -1, 0}};
  for (const auto& c : cases) {
    SimConfig cfg;
    cfg.ramBytes = c.ram;
    SimRig rig(cfg);
    EXPECT_EQ(rig.player.RamFreePercent(c.medium), c.percent) << c.ram << " " << c.medium;
    if (c.medium != 2) EXPECT_TRUE(rig.sim.wire.empty());
    else EXPECT_EQ(rig.player.ramFreeBytes, c.ram);
  }
}

// --- The card-access handshake ---

TEST_F(PlayerTest, HandshakeBytesAndResults) {
  ASSERT_EQ(rig.link.LinkOpen(), 1);
  EXPECT_EQ(p.CardAccessBegin(), 1);
  EXPECT_EQ(p.CardAccessOpen(), 1);
  EXPECT_TRUE(rig.sim.InCardAccess());
  EXPECT_EQ(p.CardAccessEnd(), 1);
  EXPECT_FALSE(rig.sim.InCardAccess());
  EXPECT_EQ(rig.sim.WireSummary(), "H:55AAFF007881 P:06 H:55AAFF007880 P:06 H:55AAFF007882 P:06");

  // Only 06 accepts here.
  rig.sim.faults.softAck = true;
  EXPECT_EQ(p.CardAccessBegin(), -1);
  EXPECT_EQ(p.CardAccessOpen(), -1);
  EXPECT_EQ(p.CardAccessEnd(), 1);
  rig.link.LinkClose();

  // No answer.
  rig.sim.faults.softAck = false;
  rig.sim.faults.stopAfterBytes = 0;
  rig.link.LinkOpen();
  EXPECT_EQ(p.CardAccessBegin(), -1);
  EXPECT_EQ(p.CardAccessEnd(), -1);
  rig.link.LinkClose();
  EXPECT_TRUE(rig.ui.messages.empty());
}

TEST_F(PlayerTest, HandshakeRefusesWithoutSendingWhenTheLinkIsNotOpen) {
  rig.link.linkOpenFlag = 0;
  EXPECT_EQ(p.CardAccessBegin(), -1);
  EXPECT_EQ(p.CardAccessOpen(), -1);
  EXPECT_EQ(p.CardAccessEnd(), -1);
  EXPECT_TRUE(rig.sim.wire.empty());
}

TEST_F(PlayerTest, BusyPlayerShowsTheBusyBoxForEachStepAndLosesTheLink) {
  for (bool byMode : {false, true}) {
    SCOPED_TRACE(byMode ? "busy mode" : "busy fault");
    rig.ui.messages.clear();
    rig.link.linkErrorState = 0;
    if (byMode) {
      rig.sim.faults.busyHandshakes = 0;
      rig.sim.SetMode(sim::Mode::Busy);
    } else {
      rig.sim.faults.busyHandshakes = -1;
    }
    ASSERT_EQ(rig.link.LinkOpen(), 1);
    EXPECT_EQ(p.CardAccessBegin(), 0);
    EXPECT_EQ(p.CardAccessOpen(), 0);
    EXPECT_EQ(p.CardAccessEnd(), 0);
    rig.link.LinkClose();
    EXPECT_EQ(rig.link.linkErrorState, 1);
    ASSERT_EQ(rig.ui.messages.size(), 3u);
    for (const auto& m : rig.ui.messages) {
      EXPECT_EQ(m.kind, BoxKind::System);
      EXPECT_EQ(m.text, "Player busy");
      EXPECT_EQ(m.caption, "Error");
      EXPECT_EQ(m.style, 16u);
    }
  }
}

// --- Lost links, garbage and short answers ---

class BulkPlayerTest : public PlayerTest {
 protected:
  BulkPlayerTest() : PlayerTest(BulkConfig()) {}
  static SimConfig BulkConfig() {
    SimConfig c;
    c.as = Transport::Bulk;
    return c;
  }
};

TEST_F(BulkPlayerTest, FourthConsecutiveTimeoutShowsTheMessage) {
  rig.sim.faults.stopAfterBytes = 0;
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE(i);
    uint64_t before = rig.clock.NowMs();
    ZumblaInfo info;
    EXPECT_EQ(p.GetZumblaInfo(info), 0);
    EXPECT_EQ(rig.link.linkErrorState, 1);
    EXPECT_EQ(rig.link.timeoutCounter, i);
    EXPECT_EQ(rig.cycle.linkLostCount, i);
    EXPECT_EQ(rig.cycle.skipTicks, 3);
    EXPECT_EQ(rig.cycle.lastReading, -1);
    // The reply's time-out, then a pause for the first three only.
    EXPECT_EQ(rig.clock.NowMs() - before, i <= 3 ? 3000u + 2000 : 3000u);
    EXPECT_EQ(static_cast<int>(rig.ui.messages.size()), i <= 3 ? 0 : i - 3);
  }
  EXPECT_EQ(rig.ui.messages[0].text, "USB timeout");
  EXPECT_EQ(rig.ui.messages[0].caption, "Kestro - Error:");
  EXPECT_EQ(rig.ui.messages[0].style, 16u);
  EXPECT_EQ(rig.ui.messages[0].kind, BoxKind::Program);

  // Quiet while the cycle asks; the cycle's reset starts the count again.
  rig.cycle.quietFlag = 1;
  ZumblaInfo info;
  p.GetZumblaInfo(info);
  EXPECT_EQ(rig.ui.messages.size(), 2u);
  rig.cycle.quietFlag = 0;
  rig.link.ResetTimeoutCounter();
  uint64_t before = rig.clock.NowMs();
  p.GetZumblaInfo(info);
  EXPECT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.clock.NowMs() - before, 5000u);
}

TEST_F(BulkPlayerTest, TransfersAfterATimeoutFailAtOnce) {
  for (int i = 0; i < 5; ++i) rig.sim.AddSong("S", "A", Pattern(10));
  // The head and two song records arrive, then the player goes quiet.
  rig.sim.faults.stopAfterBytes = 1 + 6 + 2 * 62;
  uint64_t before = rig.clock.NowMs();
  RamSongTable t;
  EXPECT_EQ(p.GetRamFileInfo(t), 0);
  EXPECT_EQ(t.SongCount(), 0);  // nothing half-filled is handed on
  EXPECT_EQ(rig.clock.NowMs() - before, 2000u + 2000);  // one time-out, one pause
  EXPECT_FALSE(rig.link.IsOpen());
  EXPECT_EQ(rig.link.linkOpenFlag, 0);

  // Within the same operation every further transfer fails at once.
  before = rig.clock.NowMs();
  uint8_t b[4];
  EXPECT_EQ(rig.link.LinkSend(b, 1, 2000), 0);
  EXPECT_EQ(rig.link.LinkReceive(b, 4, 2000), 0);
  EXPECT_EQ(rig.clock.NowMs(), before);
  EXPECT_EQ(rig.link.timeoutCounter, 1);
  EXPECT_TRUE(rig.ui.messages.empty());
}

TEST_F(BulkPlayerTest, AVanishedPlayerIsALostLinkWithoutWaiting) {
  uint16_t code = rig.sim.AddSong("S", "A", Pattern(2000));
  rig.sim.faults.dropAfterBytes = 1 + 1 + 8 + 256 + 100;
  uint64_t before = rig.clock.NowMs();
  EXPECT_EQ(p.ReadRamFile(Path("s.mf4"), code), 0);
  EXPECT_FALSE(fs::exists(Path("s.mf4")));
  EXPECT_EQ(rig.link.linkErrorState, 1);
  EXPECT_EQ(rig.clock.NowMs() - before, 6u * 20 + 2000);  // the pauses and the 2 s of the lost link
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, "Song " + std::to_string(code) + " not transferred");
}

TEST_F(PlayerTest, APlayerGoingQuietMidSongFailsAfterOneTimeoutAndLeavesNoFile) {
  uint16_t code = rig.sim.AddSong("S", "A", Pattern(100000));
  rig.sim.faults.stopAfterBytes = 1 + 1 + 8 + 256 * 3 + 10;
  uint64_t before = rig.clock.NowMs();
  EXPECT_EQ(p.ReadRamFile(Path("s.mf4"), code), 0);
  EXPECT_FALSE(fs::exists(Path("s.mf4")));
  EXPECT_EQ(rig.clock.NowMs() - before, 6u * 20 + 4000);  // FTDI: one time-out of twice 2000 ms
  EXPECT_EQ(rig.link.linkErrorState, 0);  // FTDI failures change no state
}

TEST_F(PlayerTest, CountsAndLengthsNoPlayerCanHaveAreRefused) {
  // More songs than the table holds.
  for (int i = 0; i < 101; ++i) rig.sim.AddSong("S", "A", Pattern(1));
  RamSongTable t;
  uint64_t before = rig.clock.NowMs();
  EXPECT_EQ(p.GetRamFileInfo(t), 0);
  EXPECT_EQ(t.SongCount(), 0);
  EXPECT_EQ(rig.clock.NowMs(), before);  // refused at once, not read to the end
  EXPECT_EQ(p.RamFreeForNewSong(), 0u);

  // A song longer than any player's memory.
  SimRig big;
  big.dict.LoadFromText(kTexts, "ITALIANO", big.ui);
  uint16_t code = big.sim.AddSong("Big", "A", Bytes(kMaxPlayerBytes + 1, 1));
  EXPECT_EQ(big.player.ReadRamFile(big.dir / "big.mf4", code), 0);
  EXPECT_FALSE(fs::exists(big.dir / "big.mf4"));
  EXPECT_EQ(big.ui.CountText("Song " + std::to_string(code) + " not transferred"), 1);
  EXPECT_EQ(big.sim.WireSummary().find("H:66"), std::string::npos);  // no block was asked for

  // More free memory than any player has.
  SimConfig huge;
  huge.ramBytes = kMaxPlayerBytes + 1;
  SimRig roomy(huge);
  EXPECT_EQ(roomy.player.GetRamFileInfo(t), 0);
}

// A "player" that acknowledges every single byte asked of it and fills
// every longer answer with FF.
class GarbageChannel final : public ByteChannel {
 public:
  bool Open(IoWait&) override { return !open_ && (open_ = true); }
  bool Close() override { return open_ && !(open_ = false); }
  bool IsOpen() const override { return open_; }
  IoResult Send(const uint8_t*, size_t n, uint32_t, IoWait&) override { return {IoStatus::Done, n}; }
  IoResult Receive(uint8_t* buf, size_t n, uint32_t, IoWait&) override {
    std::fill_n(buf, n, n == 1 ? 0x06 : 0xFF);
    return {IoStatus::Done, n};
  }

 private:
  bool open_ = false;
};

TEST_F(PlayerTest, GarbageAnswersAreNotTrusted) {
  LinkChannels c{std::make_unique<GarbageChannel>(), std::make_unique<GarbageChannel>()};
  BasicCycleSide cycle;
  Link link(rig.env, std::move(c), cycle);
  Player g(link);
  uint64_t before = rig.clock.NowMs();
  uint64_t slept = rig.clock.SleptMs();

  RamSongTable t;
  EXPECT_EQ(g.GetRamFileInfo(t), 0);  // 65535 songs
  EXPECT_EQ(g.ReadRamFile(Path("g.mf4"), 1), 0);  // 4 GB long
  EXPECT_FALSE(fs::exists(Path("g.mf4")));
  ZumblaInfo info;
  ASSERT_EQ(g.GetZumblaInfo(info), 1);
  EXPECT_EQ(ReadingForPlayerMode(info.Mode()), std::nullopt);  // the cycle keeps its reading
  EXPECT_EQ(info.Release().size(), 16u);  // no terminator: the record's end stops it
  EXPECT_EQ(g.RamFreeForNewSong(), 0u);
  // Nothing waited beyond the protocol's own pauses.
  EXPECT_EQ(rig.clock.NowMs() - before, rig.clock.SleptMs() - slept);
}

TEST_F(PlayerTest, ASongWhoseLengthNeverArrivesIsNotASuccess) {
  uint16_t code = rig.sim.AddSong("S", "A", Pattern(100));
  rig.sim.faults.stopAfterBytes = 2;  // the command and the code are accepted, then nothing
  EXPECT_EQ(p.ReadRamFile(Path("s.mf4"), code), 0);
  EXPECT_FALSE(fs::exists(Path("s.mf4")));
  EXPECT_EQ(rig.ui.CountText("Song " + std::to_string(code) + " not transferred"), 1);
}

}  // namespace
}  // namespace kestro
