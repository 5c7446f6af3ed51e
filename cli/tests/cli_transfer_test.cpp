// kestro-cli send, fetch, delete, recover and clear-card against zumbla-sim
// and a card-reader folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "cli/tests/cli_sim_fixture.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

Bytes Package(const std::string& title, const std::string& performer, size_t body = 3000) {
  Bytes b(512 + body);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 13 + title.size());
  std::memset(b.data(), 0, 512);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + 122, title.data(), title.size());
  std::memcpy(b.data() + 218, performer.data(), performer.size());
  return b;
}

class CliTransfer : public CliWithSimulator {
 protected:
  void SetUp() override {
    CliWithSimulator::SetUp();
    ASSERT_EQ(Cmd({"ini", "set", "SETTINGS", "CURRLANGUAGE", "ENGLISH"}).status, 0);
    fs::create_directories(songs);
    ASSERT_EQ(Cmd({"ini", "set", "PATH", "OLD_MF4", songs.string()}).status, 0);
    ASSERT_TRUE(WriteBinaryFile(songs / "volare.MF4", Package("VOLARE", "MODUGNO")));
    ASSERT_TRUE(WriteBinaryFile(songs / "azzurro.MF4", Package("AZZURRO", "CELENTANO", 9000)));
  }
  // The bytes the player answers to `cmd`, counted once on a copy of the
  // card through the simulator's wire log; then the card is as it was and the
  // simulator runs as before. A fault "drop-after N" strikes the same command
  // N bytes in: the traffic depends only on what is on the card.
  long PlayerBytesOf(std::unique_ptr<sim::SimProcess>& sim, const std::vector<std::string>& simArgs,
                     const std::vector<std::string>& cmd) {
    const fs::path image = home / "sim" / "card.img", saved = home / "card.saved", log = home / "wire.log";
    sim.reset();
    fs::copy_file(image, saved, fs::copy_options::overwrite_existing);
    fs::remove(log);
    std::vector<std::string> logged = simArgs;
    logged.insert(logged.end(), {"--wire-log", log.string()});
    sim = Start(logged);
    auto r = Cmd(cmd);
    EXPECT_EQ(r.status, 0) << r.err;
    sim.reset();
    fs::copy_file(saved, image, fs::copy_options::overwrite_existing);
    sim = Start(simArgs);
    long bytes = 0;
    std::istringstream lines(testing::ReadFileOrEmpty(log));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("P< ", 0) == 0) bytes += static_cast<long>((line.size() - 3 + 1) / 3);
    }
    EXPECT_GT(bytes, 0);
    return bytes;
  }
  void Fault(const std::string& line) { testing::WriteFileOrDie(home / "sim" / "faults", line + "\n"); }
  Bytes CardFile(const std::string& name) {
    fs::path out = home / "card-file.bin";
    fs::remove(out);
    auto r = Cmd({"card", "get", name, out.string()});
    EXPECT_EQ(r.status, 0) << name << r.err;
    return ReadBinaryFile(out).value_or(Bytes{});
  }
  fs::path songs = home / "songs";
};

const std::vector<std::string> kCard16 = {"--mode", "card", "--card-mb", "16"};

TEST_F(CliTransfer, ACutWhileTheCardsListIsReadLosesNoSongAndIsTold) {
  auto sim = Start(kCard16);
  ASSERT_EQ(Cmd({"--yes", "send", "volare.MF4", "azzurro.MF4"}).status, 0);  // 00000 AZZURRO, 00001 VOLARE
  ASSERT_TRUE(WriteBinaryFile(songs / "nuova.MF4", Package("NUOVA", "N", 2000)));
  // What taking up the player costs: the card check, then its index files.
  const long listRead = PlayerBytesOf(sim, kCard16, {"songs"});

  // The list of a card whose check the link broke off is no list of no songs.
  Fault("drop-after 2000");
  auto list = Cmd({"songs"});
  EXPECT_EQ(list.status, 1);
  EXPECT_EQ(list.out, "");
  EXPECT_NE(list.err.find("the player's song list could not be read: the link to the player was lost"),
            std::string::npos)
      << list.err;

  struct Case {
    const char* what;
    long cut;
  } cases[] = {{"at the card check", 2000}, {"at the index files", listRead - 600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fault("drop-after " + std::to_string(c.cut));
    auto send = Cmd({"--yes", "send", "nuova.MF4"});
    if (send.status != 0) {
      // Nothing sent, and why.
      EXPECT_EQ(send.out, "");
      EXPECT_NE(send.err.find("nothing was sent: the player's song list could not be read (the link to the player "
                              "was lost)"),
                std::string::npos)
          << send.err;
    } else {
      // The list was read again whole: the song gets a code of its own.
      EXPECT_EQ(send.out, "nuova.MF4: sent as 00002.MF4\n") << send.err;
    }
  }
  // A cut that leaves the link lost just after the list: the song is not
  // sent, and the terminal says why.
  Fault("drop-after " + std::to_string(listRead + 3));
  auto lost = Cmd({"--yes", "send", "nuova.MF4"});
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(lost.out, "nuova.MF4: not sent\n");
  EXPECT_NE(lost.err.find("the link to the player was lost"), std::string::npos) << lost.err;

  // An index that lost songs (here: none listed) makes no song of the card
  // take another's place.
  ASSERT_TRUE(WriteBinaryFile(home / "empty.dat", Bytes(32, 0)));
  ASSERT_EQ(Cmd({"card", "put", (home / "empty.dat").string(), "MINDEX0.DAT"}).status, 0);
  ASSERT_TRUE(WriteBinaryFile(songs / "altra.MF4", Package("ALTRA", "A", 1000)));
  auto after = Cmd({"--yes", "send", "altra.MF4"});
  ASSERT_EQ(after.status, 0) << after.err;
  for (const char* taken : {"00000", "00001", "00002"}) EXPECT_EQ(after.out.find(taken), std::string::npos) << after.out;

  auto rec = Cmd({"--yes", "recover"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  for (const char* line : {"    0  AZZURRO", "    1  VOLARE"}) EXPECT_NE(rec.out.find(line), std::string::npos) << rec.out;
  EXPECT_EQ(CardFile("0/00000.MF4"), Package("AZZURRO", "CELENTANO", 9000));
  EXPECT_EQ(CardFile("1/00001.MF4"), Package("VOLARE", "MODUGNO"));
}

TEST_F(CliTransfer, ACutDuringTheIndexRewriteIsToldWithTheWayToRepairIt) {
  auto sim = Start(kCard16);
  ASSERT_EQ(Cmd({"--yes", "send", "volare.MF4"}).status, 0);
  const long send = PlayerBytesOf(sim, kCard16, {"--yes", "send", "azzurro.MF4"});
  // The last index file's clusters are in the FAT, its entry not yet: it is
  // the old one on the card.
  Fault("drop-after " + std::to_string(send - 5));
  auto r = Cmd({"--yes", "send", "azzurro.MF4"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "azzurro.MF4: sent as 00001.MF4\n");
  EXPECT_NE(r.err.find("the card's index files were not updated (the link to the player was lost)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("kestro-cli recover"), std::string::npos) << r.err;
  auto rec = Cmd({"--yes", "recover"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  EXPECT_NE(rec.out.find("2 songs on the card\n"), std::string::npos) << rec.out;
}

TEST_F(CliTransfer, ACutDuringTheClearingsStructureStepIsTold) {
  auto sim = Start(kCard16);
  ASSERT_EQ(Cmd({"--yes", "send", "volare.MF4"}).status, 0);
  const long clear = PlayerBytesOf(sim, kCard16, {"--yes", "clear-card"});
  // Among the last song folders.
  Fault("drop-after " + std::to_string(clear - 20));
  auto r = Cmd({"--yes", "clear-card"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("ready"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("the card was not made ready for the player (the link to the player was lost)"),
            std::string::npos)
      << r.err;
  auto structure = Cmd({"card", "structure"});
  EXPECT_EQ(structure.out, "created what was missing\n") << structure.err;
}

TEST_F(CliTransfer, EveryFailureOfASendIsToldOnStandardError) {
  auto sim = Start(kCard16);
  ASSERT_EQ(Cmd({"--yes", "send", "volare.MF4"}).status, 0);
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(WriteBinaryFile(songs / ("s" + std::to_string(i) + ".MF4"), Package("S" + std::to_string(i), "P")));
  // Two sends at once on one player: each gets through or says why, and
  // neither takes the other's place.
  testing::RunResult one, two;
  std::thread other([&] { two = Cmd({"--yes", "send", "s1.MF4"}); });
  one = Cmd({"--yes", "send", "s0.MF4"});
  other.join();
  for (const auto* r : {&one, &two}) {
    if (r->status != 0) {
      EXPECT_FALSE(r->err.empty()) << r->out;
    }
  }
  auto code = [](const testing::RunResult& r) {
    size_t at = r.out.find(" as ");
    return r.status == 0 && at != std::string::npos ? r.out.substr(at) : std::string();
  };
  if (!code(one).empty() && !code(two).empty()) {
    EXPECT_NE(code(one), code(two));
  }
  // The simulator goes away in the middle of a send.
  ASSERT_TRUE(WriteBinaryFile(songs / "big.MF4", Package("BIG", "P", 2 << 20)));
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    sim.reset();
  });
  auto killed = Cmd({"--yes", "send", "big.MF4"});
  killer.join();
  if (killed.status != 0) {
    EXPECT_FALSE(killed.err.empty()) << killed.out;
  }
}

TEST_F(CliTransfer, SongsToThePlayersCardAndBack) {
  auto sim = Start({"--mode", "card", "--card-mb", "16"});
  // The blank card is formatted at the connection (--yes).
  auto send = Cmd({"--yes", "send", "volare.MF4", (songs / "azzurro.MF4").string()});
  ASSERT_EQ(send.status, 0) << send.err;
  EXPECT_NE(send.out.find("azzurro.MF4: sent as 00000.MF4\n"), std::string::npos) << send.out;
  EXPECT_NE(send.out.find("volare.MF4: sent as 00001.MF4\n"), std::string::npos) << send.out;
  auto card = Cmd({"card", "ls", "1"});
  EXPECT_NE(card.out.find("00001.MF4"), std::string::npos) << card.out;

  // Already there: replaced only on Yes.
  auto again = Cmd({"--no", "send", "volare.MF4"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("volare.MF4: skipped\n"), std::string::npos) << again.out;
  auto unknown = Cmd({"--yes", "send", "missing.MF4"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("not a song of the PC song folder"), std::string::npos) << unknown.err;

  // Back to the PC.
  fs::remove(songs / "volare.MF4");
  auto fetch = Cmd({"--yes", "fetch", "1"});
  ASSERT_EQ(fetch.status, 0) << fetch.err;
  EXPECT_NE(fetch.out.find("00001.MF4 VOLARE: copied to " + (songs / "VOLARE.MF4").string()), std::string::npos)
      << fetch.out;
  EXPECT_EQ(ReadBinaryFile(songs / "VOLARE.MF4"), Package("VOLARE", "MODUGNO"));
  EXPECT_EQ(Cmd({"fetch", "99"}).status, 1);
  EXPECT_EQ(Cmd({"fetch", "x1"}).status, 1);

  // Deleted from the card; the rebuild finds what is left.
  auto del = Cmd({"--yes", "delete", "--player", "0"});
  ASSERT_EQ(del.status, 0) << del.err;
  EXPECT_NE(del.out.find("00000.MF4 AZZURRO: deleted\n"), std::string::npos) << del.out;
  auto rec = Cmd({"--yes", "recover"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  EXPECT_NE(rec.out.find("VOLARE"), std::string::npos) << rec.out;
  EXPECT_NE(rec.out.find("1 song on the card\n"), std::string::npos) << rec.out;

  EXPECT_EQ(Cmd({"--no", "clear-card"}).status, 1);
  EXPECT_NE(Cmd({"card", "ls", "1"}).out.find("00001.MF4"), std::string::npos);
  auto clear = Cmd({"--yes", "clear-card"});
  ASSERT_EQ(clear.status, 0) << clear.err;
  EXPECT_NE(Cmd({"songs"}).out.find("0 songs"), std::string::npos);
  auto check = Cmd({"card", "ls"});
  EXPECT_NE(check.out.find("MINDEX0.DAT"), std::string::npos) << check.out;
}

TEST_F(CliTransfer, ThePlayersMemory) {
  {
    auto sim = Start({"--mode", "ram"});
    auto ftdi = Cmd({"--yes", "send", "volare.MF4"});
    EXPECT_EQ(ftdi.status, 1);
    EXPECT_NE(ftdi.err.find("Non \xC3\xA8 possibile trasferire"), std::string::npos) << ftdi.err;
    EXPECT_EQ(Cmd({"recover"}).status, 1);
  }
  auto sim = Start({"--mode", "ram", "--as", "bulk"});
  auto send = Cmd({"--yes", "send", "volare.MF4"});
  ASSERT_EQ(send.status, 0) << send.err << send.out;
  EXPECT_EQ(send.out, "volare.MF4: sent as 00001.MF4\n");  // the code the player gave
  auto del = Cmd({"--yes", "delete", "--player", "1"});
  ASSERT_EQ(del.status, 0) << del.err;
  EXPECT_EQ(del.out, "00001.MF4 VOLARE: deleted\n");
  EXPECT_NE(Cmd({"songs"}).out.find("0 songs"), std::string::npos);
  auto card = Cmd({"clear-card"});
  EXPECT_EQ(card.status, 1);
  EXPECT_NE(card.err.find("it has no card"), std::string::npos) << card.err;
}

TEST_F(CliTransfer, PcDeletesNeedNoPlayer) {
  EXPECT_EQ(Cmd({"--no", "delete", "--pc", "volare.MF4"}).status, 1);
  EXPECT_TRUE(fs::exists(songs / "volare.MF4"));
  auto del = Cmd({"--yes", "delete", "--pc", "volare.MF4", (songs / "azzurro.MF4").string()});
  ASSERT_EQ(del.status, 0) << del.err;
  EXPECT_NE(del.out.find("volare.MF4: deleted\n"), std::string::npos);
  EXPECT_NE(del.out.find("azzurro.MF4: deleted\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(songs / "volare.MF4"));
  EXPECT_FALSE(fs::exists(songs / "azzurro.MF4"));
  for (std::vector<std::string> bad : {std::vector<std::string>{"delete"}, {"delete", "--pc"},
                                       {"delete", "--pc", "--player", "1"}, {"send"}, {"fetch"}, {"recover", "x"}})
    EXPECT_EQ(Cmd(bad).status, 2) << bad.size();
  EXPECT_EQ(Cmd({"send", "volare.MF4"}).status, 1);  // nothing connected
}

TEST_F(CliTransfer, ACardInACardReader) {
  fs::path card = home / "card";
  fs::create_directories(card);
  ASSERT_TRUE(WriteBinaryFile(card / "MINDEX0.DAT", Bytes(32, 0)));
  ASSERT_EQ(Cmd({"ini", "set", "PATH", "Flashdrive", card.string()}).status, 0);
  auto send = Cmd({"--yes", "send", "volare.MF4"});
  ASSERT_EQ(send.status, 0) << send.err;
  EXPECT_EQ(send.out, "volare.MF4: sent as 00000.MF4\n");
  EXPECT_EQ(ReadBinaryFile(card / "0" / "00000.MF4"), Package("VOLARE", "MODUGNO"));
  ASSERT_TRUE(WriteBinaryFile(card / "2" / "00033.MF4", Package("FOUND", "X")));
  auto rec = Cmd({"--yes", "recover"});
  ASSERT_EQ(rec.status, 0) << rec.err;
  EXPECT_NE(rec.out.find("FOUND"), std::string::npos);
  EXPECT_NE(rec.out.find("2 songs on the card\n"), std::string::npos) << rec.out;
  ASSERT_EQ(Cmd({"--yes", "clear-card"}).status, 0);
  EXPECT_FALSE(fs::exists(card / "0" / "00000.MF4"));
  EXPECT_TRUE(fs::is_directory(card / "30"));
}

}  // namespace
}  // namespace kestro
