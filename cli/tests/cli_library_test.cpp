// kestro-cli song list commands against zumbla-sim and a PC song folder.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/tests/cli_sim_fixture.h"
#include "platform/fileutil.h"
#include "platform/format.h"
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

TEST_F(CliLibrary, SongsWaitingToArriveJoinThePcSongFolder) {
  fs::create_directories(home / "new");
  fs::create_directories(home / "download");
  ASSERT_EQ(Cmd({"ini", "set", "PATH", "NEW_MF4", (home / "new").string()}).status, 0);
  ASSERT_EQ(Cmd({"ini", "set", "PATH", "DOWNLOAD_MF4", (home / "download").string()}).status, 0);
  ASSERT_TRUE(WriteBinaryFile(home / "new" / "mare.MF4", Package("MARE", "X")));
  ASSERT_TRUE(WriteBinaryFile(home / "download" / "sole.MF4", Package("SOLE", "Y")));
  auto ls = Cmd({"pc", "ls"});
  ASSERT_EQ(ls.status, 0) << ls.err;
  EXPECT_NE(ls.out.find("MARE"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("SOLE"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("4 songs in " + songs.string()), std::string::npos) << ls.out;
  EXPECT_EQ(ReadBinaryFile(songs / "mare.MF4"), Package("MARE", "X"));
  EXPECT_FALSE(fs::exists(home / "new" / "mare.MF4"));
  EXPECT_FALSE(fs::exists(home / "download" / "sole.MF4"));
}

TEST_F(CliLibrary, ControlCharactersOfSongsReachTheTerminalEscaped) {
  // A title that would clear the screen, a performer that would recolour,
  // a file name with an escape in it. (Codes 1 to 31 but 10, 27 and 28 are
  // the player's accented letters.)
  const std::string title = "\x1B[2J\x1B[HCANCELLA", performer = "\x1C\x1B[31mROSSO";
  ASSERT_TRUE(WriteBinaryFile(songs / "esc\x1B.MF4", Package(title, performer)));
  auto sim = Start({"--mode", "ram", "--as", "bulk"});
  auto noRaw = [](const testing::RunResult& r) {
    return r.out.find('\x1B') == std::string::npos && r.err.find('\x1B') == std::string::npos &&
           r.out.find('\x1C') == std::string::npos;
  };
  auto ls = Cmd({"pc", "ls"});
  ASSERT_EQ(ls.status, 0) << ls.err;
  EXPECT_TRUE(noRaw(ls)) << ls.out;
  EXPECT_NE(ls.out.find("\\x1B[2J\\x1B[HCANCELLA"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("\\x1C\\x1B[31mROSSO"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find("esc\\x1B.MF4"), std::string::npos) << ls.out;

  auto send = Cmd({"--yes", "send", "esc\x1B.MF4"});
  ASSERT_EQ(send.status, 0) << send.err << send.out;
  EXPECT_TRUE(noRaw(send)) << send.out;
  auto list = Cmd({"songs"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(noRaw(list)) << list.out;
  EXPECT_NE(list.out.find("\\x1B[2J\\x1B[HCANCELLA"), std::string::npos) << list.out;
  // Already on the PC: the question names it, and No skips it.
  auto fetch = Cmd({"--no", "fetch", "1"});
  EXPECT_TRUE(noRaw(fetch)) << fetch.out << fetch.err;
  EXPECT_NE(fetch.out.find("00001.MF4 \\x1B[2J\\x1B[HCANCELLA: skipped"), std::string::npos) << fetch.out;
  EXPECT_NE(fetch.err.find("\\x1B[2J\\x1B[HCANCELLA"), std::string::npos) << fetch.err;

  // The files and the list export keep the real bytes.
  ASSERT_EQ(Cmd({"export-csv", (home / "pc.csv").string(), "--pc"}).status, 0);
  EXPECT_NE(testing::ReadFileOrEmpty(home / "pc.csv").find(title + ";" + performer), std::string::npos);
  EXPECT_EQ(ReadBinaryFile(songs / "esc\x1B.MF4"), Package(title, performer));
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
  EXPECT_NE(cmp.out.find("1 song on both sides"), std::string::npos);

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
  // An unusable card, the format declined: no list, and why.
  auto declined = Cmd({"--no", "songs"});
  EXPECT_EQ(declined.status, 1);
  EXPECT_EQ(declined.out, "");
  EXPECT_NE(declined.err.find("song list could not be read: the card holds no FAT16 volume"), std::string::npos)
      << declined.err;
  for (std::vector<std::string> cmd : {std::vector<std::string>{"--no", "compare"}, {"--no", "export-csv", "x.csv"}}) {
    auto r = Cmd(cmd);
    EXPECT_EQ(r.status, 1) << cmd[1];
    EXPECT_NE(r.err.find("song list could not be read"), std::string::npos) << r.err;
  }
  auto songsOut = Cmd({"--yes", "songs"});  // formatted, structure made
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

int PdfPages(const fs::path& pdf) {
  auto info = testing::Run({"/usr/bin/pdfinfo", pdf.string()});
  size_t at = info.out.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.out.c_str() + at + 6);
}

TEST_F(CliLibrary, PrintsAListIntoAPdfOfTheWindowsPages) {
  // Two songs: one page with the headings, the page title and every song.
  auto two = Cmd({"print", (home / "two.pdf").string(), "--pc"});
  ASSERT_EQ(two.status, 0) << two.err;
  size_t at = two.out.find("of at most ");
  ASSERT_NE(at, std::string::npos) << two.out;
  const int perPage = std::atoi(two.out.c_str() + at + 11);
  ASSERT_GT(perPage, 20);
  EXPECT_EQ(PdfPages(home / "two.pdf"), 1);
  auto text = testing::Run({"/usr/bin/pdftotext", "-layout", (home / "two.pdf").string(), "-"});
  EXPECT_NE(text.out.find("Kestro"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(Cmd({"text", "MSG_PRINT_PAGETITLE_HD"}).out.substr(0, 10)), std::string::npos);
  EXPECT_NE(text.out.find("AZZURRO"), std::string::npos);
  EXPECT_NE(text.out.find("CELENTANO"), std::string::npos);
  auto title = testing::Run({"/usr/bin/pdfinfo", (home / "two.pdf").string()});
  EXPECT_NE(title.out.find("Kestro - "), std::string::npos) << title.out;

  // A full page of songs is one page; one song more starts a second.
  fs::remove(songs / "volare.MF4");
  fs::remove(songs / "azzurro.MF4");
  for (int i = 0; i < perPage; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "song%03d.mp3", i);
    ASSERT_TRUE(WriteBinaryFile(songs / name, Bytes(64, 0x55)));
  }
  ASSERT_EQ(Cmd({"print", (home / "full.pdf").string(), "--pc"}).status, 0);
  EXPECT_EQ(PdfPages(home / "full.pdf"), 1);
  ASSERT_TRUE(WriteBinaryFile(songs / "song999.mp3", Bytes(64, 0x55)));
  auto more = Cmd({"print", (home / "more.pdf").string(), "--pc"});
  EXPECT_EQ(PdfPages(home / "more.pdf"), 2) << more.out;
  text = testing::Run({"/usr/bin/pdftotext", (home / "more.pdf").string(), "-"});
  std::string pageOf = Cmd({"text", "MSG_PAGE_X_OF_Y"}).out;
  pageOf.pop_back();
  EXPECT_NE(text.out.find(Fmt(pageOf, 2, 2)), std::string::npos) << text.out.substr(0, 400);
  EXPECT_NE(text.out.find("SONG999"), std::string::npos);  // titles are kept in capitals

  // Without a player there is no player list to print; nothing is written.
  EXPECT_EQ(Cmd({"print", (home / "player.pdf").string()}).status, 1);
  EXPECT_FALSE(fs::exists(home / "player.pdf"));
  EXPECT_EQ(Cmd({"print"}).status, 2);
  EXPECT_EQ(Cmd({"print", (home / "no-such-dir" / "x.pdf").string(), "--pc"}).status, 1);
}

}  // namespace
}  // namespace kestro
