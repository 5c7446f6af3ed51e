// kestro-cli song list commands against zumbla-sim and a PC song folder.
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

Bytes Package(const std::string& title, const std::string& performer, const std::string& genre = "") {
  Bytes b(900, 0x33);
  std::memset(b.data(), 0, 512);
  std::memcpy(b.data(), "_MF4", 4);
  std::memcpy(b.data() + 122, title.data(), title.size());
  std::memcpy(b.data() + 218, performer.data(), performer.size());
  std::memcpy(b.data() + 250, genre.data(), genre.size());
  return b;
}

class CliLibrary : public CliWithSimulator {
 protected:
  void SetUp() override {
    CliWithSimulator::SetUp();
    fs::create_directories(songs);
    ASSERT_EQ(Cmd({"ini", "set", "PATH", "OLD_MF4", songs.string()}).status, 0);
    ASSERT_TRUE(WriteBinaryFile(songs / "volare.MF4", Package("VOLARE", "MODUGNO", "POP")));
    ASSERT_TRUE(WriteBinaryFile(songs / "azzurro.MF4", Package("AZZURRO", "CELENTANO", "POP")));
  }
  fs::path songs = home / "songs";
};

TEST_F(CliLibrary, PcListAndSongTexts) {
  auto ls = Cmd({"pc", "ls"});
  EXPECT_EQ(ls.status, 0);
  EXPECT_NE(ls.out.find("AZZURRO"), std::string::npos);
  EXPECT_NE(ls.out.find("2 songs in " + songs.string()), std::string::npos);

  auto edit = Cmd({"song", "edit", (songs / "volare.MF4").string(), "--performer", "Domenico Modugno", "--genre",
                   "Classic\xC3\xA9"});
  ASSERT_EQ(edit.status, 0) << edit.err;
  auto show = Cmd({"song", "show", (songs / "volare.MF4").string()});
  EXPECT_EQ(show.status, 0);
  EXPECT_NE(show.out.find("title:     VOLARE\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("performer: Domenico Modugno\n"), std::string::npos);
  EXPECT_NE(show.out.find("genre:     Classic\xC3\xA9\n"), std::string::npos);
  EXPECT_EQ(Cmd({"song", "edit", (songs / "volare.MF4").string(), "--bogus", "x"}).status, 2);
  EXPECT_EQ(Cmd({"song", "show", (songs / "missing.MF4").string()}).status, 1);
}

TEST_F(CliLibrary, MediumSongsCompareSearchAndExport) {
  EXPECT_EQ(Cmd({"medium"}).out, "-1 nothing connected\n");
  EXPECT_EQ(Cmd({"songs"}).status, 1);
  auto sim = Start({"--mode", "ram"});
  ASSERT_EQ(Cmd({"player", "ram", "put", (songs / "volare.MF4").string()}).status, 0);
  auto m = Cmd({"medium"});
  EXPECT_EQ(m.out, "2 player's internal memory\nfirmware release: 1.12\n") << m.err;
  auto songsOut = Cmd({"songs"});
  EXPECT_EQ(songsOut.status, 0);
  EXPECT_NE(songsOut.out.find("VOLARE"), std::string::npos);
  EXPECT_NE(songsOut.out.find("00001.MF4"), std::string::npos);  // the simulator numbers from 1

  auto cmp = Cmd({"compare"});
  EXPECT_EQ(cmp.status, 0);
  EXPECT_NE(cmp.out.find("volare.MF4"), std::string::npos);
  EXPECT_EQ(cmp.out.find("azzurro"), std::string::npos);
  EXPECT_NE(cmp.out.find("1 songs on both sides"), std::string::npos);

  auto found = Cmd({"search", "ola"});
  EXPECT_EQ(found.status, 0);
  EXPECT_NE(found.out.find("pc      VOLARE"), std::string::npos);
  EXPECT_NE(found.out.find("player  VOLARE"), std::string::npos);
  auto byPerformer = Cmd({"search", "celentano", "--performers", "--pc"});
  EXPECT_NE(byPerformer.out.find("AZZURRO"), std::string::npos);
  EXPECT_EQ(Cmd({"search", "nothing-like-this"}).status, 1);

  ASSERT_EQ(Cmd({"export-csv", (home / "player.csv").string()}).status, 0);
  std::string csv = testing::ReadFileOrEmpty(home / "player.csv");
  EXPECT_NE(csv.find("\n0;VOLARE;MODUGNO\n"), std::string::npos) << csv;
  ASSERT_EQ(Cmd({"export-csv", (home / "pc.csv").string(), "--pc"}).status, 0);
  EXPECT_NE(testing::ReadFileOrEmpty(home / "pc.csv").find(";AZZURRO;CELENTANO\n"), std::string::npos);
}

TEST_F(CliLibrary, ThePlayersCardGetsFormattedAndItsStructure) {
  auto sim = Start({"--mode", "card", "--card-mb", "16"});
  EXPECT_EQ(Cmd({"--no", "songs"}).out, "0 songs\n");  // an unusable card, format declined
  auto songsOut = Cmd({"--yes", "songs"});               // formatted, structure made
  EXPECT_EQ(songsOut.status, 0) << songsOut.err;
  EXPECT_EQ(songsOut.out, "0 songs\n");
  EXPECT_EQ(Cmd({"card", "structure"}).out, "complete\n");
  ASSERT_EQ(Cmd({"card", "rm", "MINDEX4.DAT"}).status, 0);
  auto fixed = Cmd({"card", "structure"});
  EXPECT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_EQ(fixed.out, "created what was missing\n");
  EXPECT_NE(Cmd({"card", "ls"}).out.find("MINDEX4.DAT"), std::string::npos);
  EXPECT_EQ(Cmd({"medium"}).out.substr(0, 24), "1 player with its card\nf");
}

}  // namespace
}  // namespace kestro
