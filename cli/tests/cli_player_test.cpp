// kestro-cli player ... against zumbla-sim.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/tests/cli_sim_fixture.h"
#include "platform/fileutil.h"
#include "platform/profile.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

class CliPlayer : public CliWithSimulator {
 protected:
};

TEST_F(CliPlayer, WithoutAPlayer) {
  auto r = Cmd({"player", "info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no player is connected"), std::string::npos);
  EXPECT_EQ(Cmd({"player", "ram", "get", "abc", "x"}).status, 2);
  EXPECT_EQ(Cmd({"player", "ram", "rm", "70000"}).status, 2);
  EXPECT_EQ(Cmd({"player", "ram"}).status, 2);
  auto h = Cmd({"--help"});
  EXPECT_NE(h.out.find("player ram put FILE"), std::string::npos);
  auto help = Cmd({"player", "info", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Simulator=PATH"), std::string::npos);
  EXPECT_NE(r.err.find("simulator: " + sock + "\n"), std::string::npos) << r.err;
}

TEST_F(CliPlayer, WithoutAPlayerInfoTellsTheIdsLookedFor) {
  // The real USB devices: no player on this machine.
  ASSERT_EQ(Cmd({"ini", "set", "Link", "Simulator", ""}).status, 0);
  struct Case {
    const char* vid;
    const char* pid;
    const char* ftdi;
  } cases[] = {
      {"", "", "FTDI ids: 0403:6001/6010/6011/6014/6015 (FTDI's standard ids; [Link] FtdiVid/FtdiPid for others)\n"},
      {"0x1234", "0xabcd", "FTDI ids: 1234:abcd ([Link] FtdiVid/FtdiPid)\n"},
      {"", "0x7777", "FTDI ids: 0403:7777 ([Link] FtdiVid/FtdiPid)\n"},
      {"4660", "", "FTDI ids: 1234:6001/6010/6011/6014/6015 ([Link] FtdiVid/FtdiPid)\n"},
  };
  for (const auto& c : cases) {
    ProfileFile settings(home / "Zumbla.INI");
    ASSERT_TRUE(settings.WriteString("Link", "FtdiVid", c.vid));
    ASSERT_TRUE(settings.WriteString("Link", "FtdiPid", c.pid));
    auto r = Cmd({"player", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no player is connected\n" + std::string(c.ftdi) +
                         "bulk ids: 04b4:1004 ([Link] BulkVid/BulkPid)\n"),
              std::string::npos)
        << r.err;
  }
}

TEST_F(CliPlayer, InfoNamesModeReleaseAndMedium) {
  struct Case {
    const char* mode;
    const char* as;
    const char* expect;
  } cases[] = {
      {"ram", "ftdi", "transport: ftdi\nmode: 0\nrelease: 1.12\nmedium: 2\n"},
      {"card", "bulk", "transport: bulk\nmode: 1\nrelease: 1.12\nmedium: 1\n"},
      {"busy", "ftdi", "transport: ftdi\nmode: 2\nrelease: 1.12\nmedium: 3\n"},
      {"boot", "ftdi", "transport: ftdi\nmode: 3\nrelease: 1.12\nmedium: 4\n"},
  };
  for (const auto& c : cases) {
    auto sim = Start({"--mode", c.mode, "--as", c.as});
    auto r = Cmd({"player", "info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.expect + ("simulator: " + sock + "\n"));
  }
}

TEST_F(CliPlayer, InternalMemoryAndSetup) {
  auto sim = Start({"--release", "1.30"});
  Bytes pkg(700, 0x42);
  std::memcpy(pkg.data(), "_MF4", 4);
  std::memset(pkg.data() + 122, 0, 128);
  std::memcpy(pkg.data() + 122, "Caf\xE9", 4);
  std::memcpy(pkg.data() + 218, "Autore", 6);
  WriteBinaryFile(home / "song.mf4", pkg);

  ASSERT_EQ(Cmd({"player", "ram", "put", (home / "song.mf4").string()}).status, 0);
  ASSERT_EQ(Cmd({"player", "ram", "put", (home / "song.mf4").string()}).status, 0);
  auto ls = Cmd({"player", "ram", "ls"});
  ASSERT_EQ(ls.status, 0) << ls.err;
  EXPECT_EQ(ls.out, "    1  Caf\xC3\xA9  Autore\n    2  Caf\xC3\xA9  Autore\n2 songs, 1047176 bytes free\n");

  ASSERT_EQ(Cmd({"player", "ram", "get", "2", (home / "back.mf4").string()}).status, 0);
  EXPECT_EQ(ReadBinaryFile(home / "back.mf4"), pkg);
  auto missing = Cmd({"player", "ram", "get", "9", (home / "nine.mf4").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(fs::exists(home / "nine.mf4"));

  EXPECT_EQ(Cmd({"player", "ram", "rm", "1"}).status, 0);
  EXPECT_EQ(Cmd({"player", "ram", "rm", "1"}).status, 1);
  EXPECT_NE(Cmd({"player", "ram", "ls"}).out.find("1 song,"), std::string::npos);
  EXPECT_EQ(Cmd({"--no", "player", "ram", "clear"}).status, 1);
  EXPECT_EQ(Cmd({"--yes", "player", "ram", "clear"}).status, 0);
  EXPECT_NE(Cmd({"player", "ram", "ls"}).out.find("0 songs"), std::string::npos);

  Bytes setup(30);
  for (size_t i = 0; i < setup.size(); ++i) setup[i] = static_cast<uint8_t>(i * 3);
  WriteBinaryFile(home / "setup.in", setup);
  ASSERT_EQ(Cmd({"player", "setup", "put", (home / "setup.in").string()}).status, 0);
  ASSERT_EQ(Cmd({"player", "setup", "get", (home / "setup.out").string()}).status, 0);
  EXPECT_EQ(ReadBinaryFile(home / "setup.out"), setup);
  EXPECT_EQ(Cmd({"player", "setup", "put", (home / "none").string()}).status, 1);
}

TEST_F(CliPlayer, FaultsFromTheSimulatorsFolderStrikeTheNextCommand) {
  auto sim = Start();
  testing::WriteFileOrDie(home / "sim" / "faults", "drop-after 0\n");
  auto r = Cmd({"player", "info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("did not send its information"), std::string::npos);
  EXPECT_EQ(Cmd({"player", "info"}).status, 0);
}

}  // namespace
}  // namespace kestro
