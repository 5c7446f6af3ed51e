// kestro-cli firmware ... against zumbla-sim, and the download with the real
// harvo through a web server on 127.0.0.1.
#include <gtest/gtest.h>

#include "cli/tests/cli_sim_fixture.h"
#include "link/tests/made_up_firmware.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::MadeUpFirmware;
using testing::TempDir;

class CliFirmware : public CliWithSimulator {
 protected:
  // The first line of a dictionary text as the terminal shows it.
  std::string Text(const std::string& key) {
    std::string t = Cmd({"text", key}).out;
    return t.substr(0, t.find('\n'));
  }
  std::string Write(const std::string& name, const std::string& data) {
    fs::create_directories((home / name).parent_path());
    testing::WriteFileOrDie(home / name, data);
    return (home / name).string();
  }
  Bytes Flash() { return ReadBinaryFile(home / "sim" / "flash.bin").value_or(Bytes{}); }

  MadeUpFirmware made;
};

TEST_F(CliFirmware, CheckTellsValidOrNotAndTheVersion) {
  auto ok = Cmd({"firmware", "check", Write("ZUMBLA2.MHX", made.File())});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out.substr(0, ok.out.find("bytes:")), "valid\nversion: " + made.version + "\n");

  auto off = Cmd({"firmware", "check", Write("off/ZUMBLA2.MHX", made.File(+1))});
  EXPECT_EQ(off.status, 1);
  EXPECT_EQ(off.out.rfind("not valid: the byte count does not match\nversion: " + made.version + "\n", 0), 0u)
      << off.out;

  auto garbage = Cmd({"firmware", "check", Write("g.MHX", std::string("\x01\xFF\x00zz", 5))});
  EXPECT_EQ(garbage.status, 1);
  EXPECT_EQ(garbage.out.rfind("not valid: ", 0), 0u);

  auto missing = Cmd({"firmware", "check", (home / "none.MHX").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  EXPECT_EQ(Cmd({"firmware", "check"}).status, 2);
  EXPECT_NE(Cmd({"--help"}).out.find("firmware update [FILE]"), std::string::npos);
}

TEST_F(CliFirmware, UpdateWithAFileProgramsThePlayer) {
  auto sim = Start();
  const std::string file = Write("elsewhere/zumbla2.mhx", made.File());
  auto r = Cmd({"--yes", "firmware", "update", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(made.version), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(Text("MSG_ZUMBLA_DISCONN_RECONN")), std::string::npos) << r.err;
  EXPECT_EQ(testing::ReadFileOrEmpty(home / "inst" / "ZUMBLA2.MHX"), made.File());
  EXPECT_EQ(Flash(), made.flash);
  auto info = Cmd({"player", "info"});
  EXPECT_NE(info.out.find("mode: 0\n"), std::string::npos) << info.out;
}

TEST_F(CliFirmware, WhatIsRefusedLeavesThePlayerAlone) {
  auto sim = Start();
  // The bulk player's file on the FTDI player.
  auto wrong = Cmd({"--yes", "firmware", "update", Write("ZUMBLA.MHX", made.File())});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find(Text("MSG_ZUMNET_MHX_NOT_FOUND")), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.err.find("takes ZUMBLA2.MHX"), std::string::npos) << wrong.err;

  auto invalid = Cmd({"--yes", "firmware", "update", Write("bad/ZUMBLA2.MHX", made.File(+1))});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_NE(invalid.err.find(Text("MSG_ZUMNET_MHX_NOT_VALID")), std::string::npos) << invalid.err;

  auto no = Cmd({"--no", "firmware", "update", Write("ok/ZUMBLA2.MHX", made.File())});
  EXPECT_EQ(no.status, 1);
  EXPECT_NE(no.err.find("firmware not updated"), std::string::npos) << no.err;

  // Without a file and without the download the chooser has nothing to give.
  ASSERT_EQ(Cmd({"ini", "set", "Settings", "WebUpdate", "0"}).status, 0);
  auto none = Cmd({"--yes", "firmware", "update"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("kestro-cli --yes firmware update ZUMBLA2.MHX"), std::string::npos) << none.err;
  EXPECT_EQ(Cmd({"firmware", "update", "a", "b"}).status, 2);

  sim->Stop();
  EXPECT_TRUE(Flash().empty());  // never written
  auto nobody = Cmd({"--yes", "firmware", "update", (home / "ok" / "ZUMBLA2.MHX").string()});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("no player is connected"), std::string::npos);
}

TEST_F(CliFirmware, APlayerThatFallsSilentBeforeTheEndIsNotUpdated) {
  auto sim = Start();
  // It answers the enter-update command, the confirmation, the erase (two
  // control bytes, six lines), the control byte and "HEXDWL" before the
  // records, and every record; the end of the download goes unanswered.
  Write("sim/faults", "stop-after " + std::to_string(12 + made.records.size()) + "\n");
  auto r = Cmd({"--yes", "firmware", "update", Write("ZUMBLA2.MHX", made.File())});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the player was not updated"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(Text("MSG_ZUMBLA_DISCONN_RECONN")), std::string::npos) << r.err;
}

TEST_F(CliFirmware, APlayerThatDoesNotEnterTheUpdateIsNotUpdated) {
  auto sim = Start({"--plain-ack-update"});
  auto r = Cmd({"--yes", "firmware", "update", Write("ZUMBLA2.MHX", made.File())});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the player was not updated"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(Text("MSG_ZUMBLA_DISCONN_RECONN")), std::string::npos) << r.err;
  sim->Stop();
  EXPECT_TRUE(Flash().empty());
}


TEST_F(CliFirmware, UpdateWithoutAFileDownloadsItWithHarvo) {
  auto sim = Start({"--as", "bulk"});
  Write("www/DOWNLOAD/ZUMBLA.MHX", made.File());
  // The maker's host name of the settings reaches it as a proxy.
  testing::HttpServer server(home / "www");
  ASSERT_FALSE(server.address().empty());
  const std::string previous = MadeUpFirmware(5, 7).File();
  Write("inst/ZUMBLA.MHX", previous);

  auto r = Cmd({"--yes", "firmware", "update"},
               {{"http_proxy", "http://" + server.address()}, {"no_proxy", ""}, {"NO_PROXY", ""}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(server.NextRequest(), "http://www.zumbla.example.com/DOWNLOAD/ZUMBLA.MHX");
  EXPECT_EQ(testing::ReadFileOrEmpty(home / "inst" / "ZUMBLA.MHX"), made.File());
  EXPECT_FALSE(fs::exists(home / "inst" / "ZUMBLA.tmp"));
  EXPECT_EQ(Flash(), made.flash);
  EXPECT_EQ(r.out, "");  // harvo's own lines do not mix into the tool's output

  // Now the server has nothing: its error page is refused, the file kept.
  fs::remove(home / "www" / "DOWNLOAD" / "ZUMBLA.MHX");
  auto gone = Cmd({"--no", "firmware", "update"},
                  {{"http_proxy", "http://" + server.address()}, {"no_proxy", ""}, {"NO_PROXY", ""}});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find(Text("MSG_DOWNLOAD_NOT_POSSIBLE")), std::string::npos) << gone.err;
  EXPECT_EQ(testing::ReadFileOrEmpty(home / "inst" / "ZUMBLA.MHX"), made.File());
  EXPECT_FALSE(fs::exists(home / "inst" / "ZUMBLA.tmp"));
}

}  // namespace
}  // namespace kestro
