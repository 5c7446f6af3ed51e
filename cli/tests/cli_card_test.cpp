// kestro-cli card ... against zumbla-sim.
#include <gtest/gtest.h>

#include "cli/tests/cli_sim_fixture.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::vector<std::string> kCardMode = {"--mode", "card", "--card-mb", "16"};

class CliCard : public CliWithSimulator {
 protected:
  void SetUp() override {
    CliWithSimulator::SetUp();
    ASSERT_EQ(Cmd({"ini", "set", "SETTINGS", "CURRLANGUAGE", "ENGLISH"}).status, 0);
  }
  Bytes Sector(uint32_t n) {
    Bytes all = ReadBinaryFile(home / "sim" / "card.img").value_or(Bytes());
    if (all.size() < (n + 1) * 512u) return {};
    return Bytes(all.begin() + n * 512, all.begin() + (n + 1) * 512);
  }
};

TEST_F(CliCard, FormatFilesAndFoldersThroughThePlayer) {
  auto sim = Start(kCardMode);
  auto info = Cmd({"card", "info"});
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.out.find("configuration: 0x848a\ncylinders: 512\nheads: 2\nsectors per track: 32\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.err.find("no FAT16 volume"), std::string::npos) << info.err;

  auto no = Cmd({"--no", "card", "format"});
  EXPECT_EQ(no.status, 1);
  EXPECT_NE(no.err.find("Format the card?"), std::string::npos) << no.err;
  EXPECT_EQ(Sector(0), Bytes(512, 0));
  auto format = Cmd({"--yes", "card", "format"});
  ASSERT_EQ(format.status, 0) << format.err;
  // The clusters the player's firmware counts: from the start of the card,
  // the 32 sectors before the volume left out.
  EXPECT_EQ(format.out, "formatted: 16 MB, 32375 clusters of 512 bytes\n");

  info = Cmd({"card", "info"});
  ASSERT_EQ(info.status, 0) << info.err;
  for (const char* line : {"volume at sector: 32\n", "label: ZUM-BLA-MF4\n", "file system: FAT16\n",
                           "sectors per FAT: 127\n", "free: 32338 clusters (16169 KB)\n", "model: ZUMBLA SIMULATED CF CARD\n"})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;

  Bytes song(70000);
  for (size_t i = 0; i < song.size(); ++i) song[i] = static_cast<uint8_t>(i * 7 + i / 300);
  WriteBinaryFile(home / "song.mf4", song);
  WriteBinaryFile(home / "index.dat", Bytes(32, 0));
  // The format gave the card the player's files and song folders 0 to 30.
  auto structure = Cmd({"card", "ls"});
  for (const char* line : {"MINDEX0.DAT           32\n", "MSETUP.DAT            35\n", "MALPHA2.DAT           52\n",
                           "0/\n", "30/\n"})
    EXPECT_NE(structure.out.find(line), std::string::npos) << line << structure.out;
  EXPECT_EQ(Cmd({"card", "mkdir", "40"}).status, 0);
  auto again = Cmd({"card", "mkdir", "7"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already exists"), std::string::npos);
  ASSERT_EQ(Cmd({"card", "put", (home / "song.mf4").string(), "7/00007.mf4"}).status, 0);
  ASSERT_EQ(Cmd({"card", "put", (home / "index.dat").string(), "MINDEX0.DAT"}).status, 0);
  auto nofolder = Cmd({"card", "put", (home / "song.mf4").string(), "41/00008.MF4"});
  EXPECT_EQ(nofolder.status, 1);
  EXPECT_NE(nofolder.err.find("no folder 41"), std::string::npos) << nofolder.err;

  auto root = Cmd({"card", "ls"});
  ASSERT_EQ(root.status, 0) << root.err;
  EXPECT_NE(root.out.find("30/\n40/\n"), std::string::npos) << root.out;
  auto folder = Cmd({"card", "ls", "7"});
  ASSERT_EQ(folder.status, 0) << folder.err;
  EXPECT_EQ(folder.out, "00007.MF4          70000\n");
  EXPECT_EQ(Cmd({"card", "ls", "41"}).status, 1);

  ASSERT_EQ(Cmd({"card", "get", "7/00007.MF4", (home / "back.mf4").string()}).status, 0);
  EXPECT_EQ(ReadBinaryFile(home / "back.mf4"), song);
  EXPECT_EQ(Cmd({"card", "get", "7/00008.MF4", (home / "none.mf4").string()}).status, 1);
  EXPECT_FALSE(fs::exists(home / "none.mf4"));

  auto check = Cmd({"card", "check"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, "16 MB card, 100% free\n");
  ASSERT_EQ(Cmd({"card", "report", (home / "card.html").string()}).status, 0);
  std::string html = testing::ReadFileOrEmpty(home / "card.html");
  EXPECT_NE(html.find("<tr><td>VolumeLabel</td><td>ZUM-BLA-MF4</td></tr>"), std::string::npos);

  EXPECT_EQ(Cmd({"card", "rm", "7/00007.MF4"}).status, 0);
  EXPECT_EQ(Cmd({"card", "rm", "7/00007.MF4"}).status, 1);
  EXPECT_EQ(Cmd({"card", "ls", "7"}).out, "");
  EXPECT_EQ(Cmd({"card", "rm", "7"}).status, 1);  // a folder is not a file
  EXPECT_EQ(Cmd({"card", "ls"}).out, root.out);

  if (fs::exists("/usr/sbin/fsck.fat")) {
    Bytes all = ReadBinaryFile(home / "sim" / "card.img").value_or(Bytes());
    ASSERT_GE(all.size(), (32u + 32672u) * 512u);
    WriteBinaryFile(home / "part.img", all.data() + 32 * 512, 32672u * 512u);
    auto fsck = testing::Run({"/usr/sbin/fsck.fat", "-n", (home / "part.img").string()});
    EXPECT_EQ(fsck.status, 0) << fsck.out;
  }
}

TEST_F(CliCard, TheCheckOffersTheFormatOfAnUnusableCard) {
  auto sim = Start(kCardMode);
  auto no = Cmd({"--no", "card", "check"});
  EXPECT_EQ(no.status, 1);
  EXPECT_NE(no.err.find("The card is not formatted for Zumbla."), std::string::npos) << no.err;
  EXPECT_EQ(Sector(0), Bytes(512, 0));
  auto yes = Cmd({"--yes", "card", "check"});
  ASSERT_EQ(yes.status, 0) << yes.err;
  // A little more than 16,000 KB free: at most 100 %.
  EXPECT_EQ(yes.out, "16 MB card, 100% free\n");
  EXPECT_EQ(Sector(32)[510], 0x55);
}

TEST_F(CliCard, TheCheckTellsWhatIsWrongWithTheCard) {
  Bytes fat32(512, 0);
  std::copy_n("FAT32   ", 8, fat32.begin() + 82);
  fat32[510] = 0x55;
  fat32[511] = 0xAA;
  struct Case {
    const char* what;
    Bytes sector0;
    const char* reason;
  } cases[] = {{"a blank card, the format declined", Bytes(512, 0), "no FAT16 volume"},
               {"a FAT32 card", fat32, "formatted FAT32"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes image(16u << 20, 0);
    std::copy(c.sector0.begin(), c.sector0.end(), image.begin());
    fs::create_directories(home / "sim");
    ASSERT_TRUE(WriteBinaryFile(home / "sim" / "card.img", image));
    auto sim = Start(kCardMode);
    auto check = Cmd({"--no", "card", "check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.err.find(c.reason), std::string::npos) << check.err;
    EXPECT_EQ(check.err.find("link to the player was lost"), std::string::npos) << check.err;
    EXPECT_EQ(Sector(0), c.sector0) << "nothing written";
  }
  // What the format does, as its help says.
  auto help = Cmd({"card", "format", "--help"});
  EXPECT_EQ(help.out.find("not made"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("index files"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("31 song folders are made"), std::string::npos) << help.out;
}

TEST_F(CliCard, ALostLinkEndsTheCommandAndTheCardStaysAsItWas) {
  auto sim = Start(kCardMode);
  ASSERT_EQ(Cmd({"--yes", "card", "format"}).status, 0);
  WriteBinaryFile(home / "song.mf4", Bytes(70000, 0x5A));
  // The player hangs up some 50 sector writes into the song: after the
  // handshake (2 bytes), the mount's 14 sector reads and the first FAT sector.
  testing::WriteFileOrDie(home / "sim" / "faults", "drop-after " + std::to_string(2 + 516 * 15 + 50) + "\n");
  auto put = Cmd({"card", "put", (home / "song.mf4").string(), "SONG.MF4"});
  EXPECT_EQ(put.status, 1);
  EXPECT_NE(put.err.find("link to the player was lost"), std::string::npos) << put.err;
  EXPECT_EQ(Cmd({"card", "ls"}).out.find("SONG.MF4"), std::string::npos);
  auto info = Cmd({"card", "info"});
  EXPECT_NE(info.out.find("free: 32338 clusters"), std::string::npos) << info.out;  // the structure takes 37
}

TEST_F(CliCard, NamesThatAreNoCardNamesAndNoPlayer) {
  for (std::vector<std::string> args : {std::vector<std::string>{"card", "get", "TOOLONGNAME.DAT", "x"},
                                        {"card", "ls", "a/b"},
                                        {"card", "mkdir", "A B"},
                                        {"card", "put", "x", "7/8/9.MF4"},
                                        {"card", "rm"},
                                        {"card", "info", "extra"}}) {
    EXPECT_EQ(Cmd(args).status, 2) << args[1];
  }
  auto r = Cmd({"card", "ls"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no player is connected"), std::string::npos);
  auto help = Cmd({"card", "put", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("NAME.EXT"), std::string::npos);
}

}  // namespace
}  // namespace kestro
