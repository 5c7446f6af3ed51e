// kestro-cli send, fetch, delete, recover and clear-card against zumbla-sim
// and a card-reader folder.
#include <gtest/gtest.h>

#include <cstring>

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
  fs::path songs = home / "songs";
};

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
  EXPECT_NE(rec.out.find("1 songs on the card\n"), std::string::npos) << rec.out;

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
