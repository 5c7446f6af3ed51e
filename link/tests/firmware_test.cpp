// The firmware update against the simulated player, in-process on a virtual
// clock; the download with the real harvo against a web server on
// 127.0.0.1.
#include "link/firmware.h"

#include <gtest/gtest.h>

#include <random>

#include "link/tests/made_up_firmware.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_rig.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using sim::SimConfig;
using sim::SimRig;
using testing::MadeUpFirmware;

constexpr uint32_t kQuestion = mb::kYesNo | mb::kIconExclamation;  // 52

std::string Read(const fs::path& p) { return testing::ReadFileOrEmpty(p); }
void Write(const fs::path& p, const std::string& s) {
  fs::create_directories(p.parent_path());
  testing::WriteFileOrDie(p, s);
}

// --- The header check ---

TEST(FirmwareFile, HeaderCheck) {
  testing::TempDir dir;
  MadeUpFirmware fw(3);
  const std::string payload = MadeUpFirmware::Join(fw.records);
  uint64_t byteSum = 0;
  for (unsigned char c : payload) byteSum += c;
  const std::string count = std::to_string(payload.size()), sum = std::to_string(byteSum);
  std::mt19937 rng(42);
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>(rng() & 0xFF);
  std::string noLineEnds;
  for (int i = 0; i < 5000; ++i) noLineEnds += static_cast<char>(rng() % 9 + 1);  // no CR, no LF

  struct Case {
    const char* name;
    std::string file;
    bool valid;
  } cases[] = {
      {"made up", fw.File(), true},
      {"count one more", fw.File(+1), false},
      {"count one less", fw.File(-1), false},
      {"sum one off", fw.File(0, 1), false},
      {"any separator", fw.version + "\r\n" + count + "," + sum + "\r\n" + payload, true},
      {"blanks around the numbers", fw.version + "\r\n " + count + ",  " + sum + " \r\n" + payload, true},
      {"header ended by LF alone", fw.version + "\r\n" + count + " " + sum + "\n" + payload, true},
      {"no payload, header says so", "v\r\n0 0\r\n", false},
      {"empty file", "", false},
      {"only line 1", fw.version + "\r\n", false},
      {"line 1 without line end", fw.version, false},
      {"line 2 without line end", fw.version + "\r\n0 0", false},
      {"no numbers", fw.version + "\r\nabc\r\n", false},
      {"one number", fw.version + "\r\n0\r\n", false},
      {"sum missing", fw.version + "\r\n0 \r\n", false},
      {"negative", fw.version + "\r\n-1 0\r\n", false},
      {"words after the sum, nothing after the header", fw.version + "\r\n0 0 zero\r\n", false},
      {"text after the sum", fw.version + "\r\n" + count + ";" + sum + ";x\r\n" + payload, true},
      {"a word after the sum", fw.version + "\r\n" + count + " " + sum + " bytes\r\n" + payload, true},
      {"text after a wrong sum", fw.version + "\r\n" + count + ";" + std::to_string(byteSum + 1) + ";x\r\n" + payload,
       false},
      {"huge numbers", fw.version + "\r\n99999999999999999999999999 99999999999999999999999999\r\n", false},
      {"line 1 of 255", fw.WithPayload(payload).replace(0, fw.version.size(), std::string(255, 'v')), true},
      {"line 1 of 256", fw.WithPayload(payload).replace(0, fw.version.size(), std::string(256, 'v')), false},
      {"line 1 of 256 ended by LF", std::string(256, 'v') + "\n0 0\r\n", false},
      // "3 106": "S\r\n" follows.
      {"line 2 of 80", "v\r\n3 106" + std::string(75, ' ') + "\r\nS\r\n", true},
      {"line 2 of 81", "v\r\n3 106" + std::string(76, ' ') + "\r\nS\r\n", false},
      {"binary garbage", garbage, false},
      {"garbage without line ends", noLineEnds, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(dir / "f.mhx", c.file);
    FirmwareFileCheck r = InspectFirmwareFile(dir / "f.mhx");
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.valid, c.valid) << r.problem;
    EXPECT_EQ(CheckFirmwareFile(dir / "f.mhx"), c.valid ? 1 : 0);
  }

  Write(dir / "f.mhx", fw.File());
  auto r = InspectFirmwareFile(dir / "f.mhx");
  EXPECT_EQ(r.version, fw.version);
  EXPECT_EQ(r.count, payload.size());
  EXPECT_EQ(r.headerCount, payload.size());
  EXPECT_EQ(ReadFirmwareVersion(dir / "f.mhx"), fw.version);

  // What cannot be opened passes, with an empty version; programming it
  // fails later.
  for (const fs::path& p : {dir / "missing.mhx", dir.path()}) {
    auto m = InspectFirmwareFile(p);
    EXPECT_FALSE(m.opened);
    EXPECT_TRUE(m.valid);
    EXPECT_EQ(CheckFirmwareFile(p), 1);
    EXPECT_EQ(ReadFirmwareVersion(p), "");
  }
}

// --- The update against the simulator ---

// Starts nothing; records what it was asked and runs `action` instead.
class RecordingStarter final : public ProcessStarter {
 public:
  bool result = true;
  std::function<void(const std::vector<std::string>&)> action;
  std::vector<std::pair<fs::path, std::vector<std::string>>> calls;
  bool Start(const fs::path& program, const std::vector<std::string>& args) override {
    calls.emplace_back(program, args);
    if (action) action(args);
    return result;
  }
};

class FirmwareUpdate : public ::testing::Test {
 protected:
  explicit FirmwareUpdate(SimConfig cfg = {}) : rig(cfg), fw(rig.link, cycle, starter) {
    auto file = ReadBinaryFile(testing::BuiltDataDir() / "DICT.DIC");
    auto plain = file ? DecodeDictionary(*file) : std::nullopt;
    EXPECT_TRUE(plain.has_value());
    rig.dict.LoadFromText(plain.value_or(""), "ENGLISH", rig.ui);
    rig.env.WriteInt(settings::kWebUpdate, 0);
    // What the cycle knew before the update.
    cycle.currentMedium = 2;
    cycle.newReading = 2;
    cycle.linkStreak = 2;
    cycle.playerInfoValid = 1;
  }

  // The user says Yes to choosing a file and picks `path`, then answers the
  // version question with `version`.
  void ChooseFile(const fs::path& path, int version = kIdYes) {
    rig.ui.answers = {kIdYes, version};
    rig.ui.openAnswers.push_back(OpenFileResult{path.parent_path().string(), {path.string()}});
  }
  fs::path Target() { return rig.dir / (rig.link.transport == Transport::Ftdi ? "ZUMBLA2.MHX" : "ZUMBLA.MHX"); }
  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (const auto& m : rig.ui.messages) t.push_back(m.text);
    return t;
  }
  // Lines the player took in update mode for a whole update of `records`.
  static std::vector<std::string> Programmed(const std::vector<std::string>& records) {
    std::vector<std::string> l = {"ES 02", "ES 00", "ES 01", "ES 02", "ES 05", "ES 06", "HEXDWL"};
    l.insert(l.end(), records.begin(), records.end());
    l.push_back("RST");
    return l;
  }
  std::string LastFromHost() {
    for (auto it = rig.sim.wire.rbegin(); it != rig.sim.wire.rend(); ++it) {
      if (it->fromHost) return std::string(it->bytes.begin(), it->bytes.end());
    }
    return {};
  }
  void ExpectAftermath() {
    ASSERT_FALSE(rig.ui.messages.empty());
    const auto& last = rig.ui.messages.back();
    EXPECT_EQ(last.text, rig.env.T("MSG_ZUMBLA_DISCONN_RECONN"));
    EXPECT_EQ(last.caption, rig.env.T("MSG_CAPTION_INFO"));
    EXPECT_EQ(last.style, mb::kIconInformation);
    EXPECT_EQ(rig.link.linkErrorState, 1);
    EXPECT_EQ(cycle.currentMedium, -1);
    EXPECT_EQ(cycle.newReading, -1);
    EXPECT_EQ(cycle.linkStreak, 0);
    EXPECT_EQ(cycle.playerInfoValid, 0);
    EXPECT_EQ(cycle.refreshes, 1);
    EXPECT_EQ(rig.ui.CurrentCursor(), Cursor::Normal);
    EXPECT_FALSE(rig.ui.Progress().open);
    EXPECT_FALSE(rig.link.IsOpen());
  }
  void ExpectUntouchedPlayer() {
    EXPECT_TRUE(rig.sim.wire.empty()) << rig.sim.WireSummary();
    EXPECT_EQ(rig.link.linkErrorState, 0);
    EXPECT_EQ(cycle.forgotten, 0);
  }

  SimRig rig;
  BasicFirmwareCycleSide cycle;
  RecordingStarter starter;
  Firmware fw;
  MadeUpFirmware made;
};

TEST_F(FirmwareUpdate, ProgramsTheFlashWithExactlyTheRecordsOfTheFile) {
  // Chosen elsewhere, under a lower-case name: copied into the install folder.
  Write(rig.dir / "elsewhere" / "zumbla2.mhx", made.File());
  ChooseFile(rig.dir / "elsewhere" / "zumbla2.mhx");
  const uint64_t before = rig.clock.SleptMs();

  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Programmed);

  EXPECT_EQ(rig.sim.Flash(), made.flash);
  // Neither the version line nor the header went to the player; the areas
  // were erased in order and "RST" came last.
  EXPECT_EQ(rig.sim.firmware.lines, Programmed(made.records));
  EXPECT_EQ(rig.sim.firmware.erased, (std::vector<int>{2, 0, 1, 2, 5, 6}));
  EXPECT_EQ(LastFromHost(), "RST\r");
  EXPECT_EQ(rig.sim.firmware.controlBytes, 6);
  EXPECT_EQ(rig.sim.firmware.badRecords, 0);
  EXPECT_EQ(rig.sim.firmware.resets, 1);
  EXPECT_EQ(rig.sim.mode(), sim::Mode::Ram);
  EXPECT_EQ(Read(Target()), made.File());

  // The questions and the chooser, as the user sees them.
  ASSERT_EQ(rig.ui.messages.size(), 3u);
  EXPECT_EQ(rig.ui.messages[0].text, rig.env.T("MSG_DOWNLOAD_NOT_POSSIBLE"));
  EXPECT_EQ(rig.ui.messages[0].caption, rig.env.T("MSG_CAPTION_WARNING"));
  EXPECT_EQ(rig.ui.messages[0].style, kQuestion);
  EXPECT_EQ(rig.ui.messages[1].text, rig.env.TF("MSG_ZUMNET_MHX_USE_THIS_VERSION", made.version));
  EXPECT_NE(rig.ui.messages[1].text.find(made.version), std::string::npos);
  EXPECT_EQ(rig.ui.messages[1].caption, rig.env.T("MSG_CAPTION_WARNING"));
  EXPECT_EQ(rig.ui.messages[1].style, kQuestion);
  ASSERT_EQ(rig.ui.openRequests.size(), 1u);
  const OpenFileRequest& req = rig.ui.openRequests[0];
  EXPECT_EQ(req.initialName, "ZUMBLA2.MHX");
  EXPECT_EQ(req.filterName, "Zumbla Firmware(*.MHX)");
  EXPECT_EQ(req.patterns, "*.MHX");
  EXPECT_EQ(req.folder, rig.dir.string());
  EXPECT_EQ(req.title, rig.env.T("MSG_FIND_ZUMNET_MHX"));
  EXPECT_FALSE(req.multiple);
  EXPECT_TRUE(req.mustExist);
  ExpectAftermath();

  // The progress: six erase steps (five taken), then one step per 50 records.
  const std::string erase = rig.env.T("MSG_ERASE_FIRMWARE_ZUMNET");
  const std::string unplug = rig.env.T("MSG_NON_SCOLLEGARE_CAVO");
  const std::string update = rig.env.T("MSG_UPDATE_FIRMWARE_ZUMNET");
  const int bars = static_cast<int>(made.File().size() / 2200);
  ASSERT_GE(bars, 1);
  std::vector<std::string> expected = {"start 7", "line1 " + erase, "line2 " + unplug};
  for (int i = 0; i < 5; ++i) expected.push_back("step 1");
  expected.insert(expected.end(), {"end", "start " + std::to_string(bars + 1), "line1 " + update, "line2 " + unplug});
  for (size_t i = 0; i < made.records.size() / 50; ++i) expected.push_back("step 1");
  expected.push_back("end");
  std::vector<std::string> log;  // without the clearing of the lines at each start
  for (const auto& e : rig.ui.progressLog) {
    if (e != "line1 " && e != "line2 ") log.push_back(e);
  }
  EXPECT_EQ(log, expected);
  EXPECT_EQ(rig.ui.Progress().caption, update);
  // The pauses: confirmation 500, erase 5 x 400, before the download 500, a
  // millisecond a record, the version question 100, the aftermath 1500.
  EXPECT_GE(rig.clock.SleptMs() - before, 500u + 2000 + 500 + made.records.size() + 100 + 1500);
}

TEST_F(FirmwareUpdate, AHeaderCountOneOffIsRefusedAsNotValid) {
  for (long delta : {+1L, -1L}) {
    SCOPED_TRACE(delta);
    Write(rig.dir / "new" / "ZUMBLA2.MHX", made.File(delta));
    rig.ui.messages.clear();
    ChooseFile(rig.dir / "new" / "ZUMBLA2.MHX");
    EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NotValid);
    ASSERT_EQ(rig.ui.messages.size(), 2u);
    EXPECT_EQ(rig.ui.messages[1].text, rig.env.T("MSG_ZUMNET_MHX_NOT_VALID"));
    EXPECT_EQ(rig.ui.messages[1].caption, rig.env.T("MSG_CAPTION_ERROR"));
    EXPECT_EQ(rig.ui.messages[1].style, mb::kIconStop);
    ExpectUntouchedPlayer();
  }
}

TEST_F(FirmwareUpdate, ALineThatIsNoRecordStopsTheUpdate) {
  // The header check passes (the header counts the bad line); the update
  // goes as far as the line before it.
  const std::string cases[] = {"", ":1000000000", "s1130000", "S1" + std::string(78, '0')};
  for (const auto& bad : cases) {
    SCOPED_TRACE("bad line '" + bad + "'");
    SimRig r;
    BasicFirmwareCycleSide c;
    Firmware f(r.link, c, starter);
    std::vector<std::string> lines(made.records.begin(), made.records.begin() + 10);
    lines.push_back(bad);
    lines.insert(lines.end(), made.records.begin() + 10, made.records.end());
    Write(r.dir / "ZUMBLA2.MHX", made.WithPayload(MadeUpFirmware::Join(lines)));
    ASSERT_EQ(CheckFirmwareFile(r.dir / "ZUMBLA2.MHX"), 1);
    r.ui.answers = {kIdYes, kIdYes};
    r.ui.openAnswers.push_back(OpenFileResult{r.dir.string(), {(r.dir / "ZUMBLA2.MHX").string()}});
    r.env.WriteInt(settings::kWebUpdate, 0);

    EXPECT_EQ(f.UpdateFirmware(), FirmwareUpdateResult::Failed);
    std::vector<std::string> sent = {"ES 02", "ES 00", "ES 01", "ES 02", "ES 05", "ES 06", "HEXDWL"};
    sent.insert(sent.end(), made.records.begin(), made.records.begin() + 10);
    EXPECT_EQ(r.sim.firmware.lines, sent);
    EXPECT_EQ(r.sim.firmware.resets, 0);
    EXPECT_EQ(r.sim.mode(), sim::Mode::Boot);  // erased and waiting for firmware
    ASSERT_FALSE(r.ui.messages.empty());
    EXPECT_EQ(r.ui.messages.back().text, r.env.T("MSG_ZUMBLA_DISCONN_RECONN"));
    EXPECT_EQ(r.link.linkErrorState, 1);
    EXPECT_EQ(c.forgotten, 1);
    EXPECT_FALSE(r.ui.Progress().open);
    EXPECT_EQ(r.ui.CurrentCursor(), Cursor::Normal);
    EXPECT_FALSE(r.link.IsOpen());
  }
}

TEST_F(FirmwareUpdate, APlayerAnswering06ToEnterUpdateIsNotUpdated) {
  rig.sim.faults.plainAckUpdate = true;
  Write(Target(), made.File());
  ChooseFile(Target());  // the install folder's own file: nothing to copy

  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Failed);
  // Wake-up bytes and the enter-update command, and nothing after the 06.
  EXPECT_EQ(rig.sim.WireSummary(), "H:1B H:1B H:55AAFF007780 P:06");
  EXPECT_TRUE(rig.sim.firmware.lines.empty());
  EXPECT_EQ(rig.sim.Flash(), std::vector<uint8_t>(MadeUpFirmware::kFlashSize, 0xFF));
  EXPECT_EQ(rig.sim.mode(), sim::Mode::Ram);
  ExpectAftermath();
}

TEST_F(FirmwareUpdate, APlayerThatHangsUpDuringTheEraseGetsNoRecords) {
  rig.sim.faults.dropAfterBytes = 5;  // 66, 06, two echoes, the echo of "ES 02"
  Write(Target(), made.File());
  ChooseFile(Target());
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Failed);
  EXPECT_FALSE(rig.sim.firmware.downloadStarted);
  EXPECT_EQ(rig.sim.firmware.records, 0);
  EXPECT_EQ(rig.sim.firmware.resets, 0);
  ExpectAftermath();
}

TEST_F(FirmwareUpdate, APlayerThatFallsSilentIsGivenUpAtTheFirstLineItDoesNotAnswer) {
  // Before the records the player answers 66, 06, two echoes, six erase
  // lines, a control byte and "HEXDWL".
  const long beforeRecords = 12;
  const long records = static_cast<long>(made.records.size());
  struct Case {
    const char* when;
    long answered;  // bytes the player sends before it falls silent
  } cases[] = {{"right after the download starts", beforeRecords},
               {"three records before the end", beforeRecords + records - 3},
               {"before the end of the download", beforeRecords + records},
               {"before the restart", beforeRecords + records + 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    SimRig r;
    BasicFirmwareCycleSide cy;
    Firmware f(r.link, cy, starter);
    Write(r.dir / "ZUMBLA2.MHX", made.File());
    r.ui.answers = {kIdYes, kIdYes};
    r.ui.openAnswers.push_back(OpenFileResult{r.dir.string(), {(r.dir / "ZUMBLA2.MHX").string()}});
    r.env.WriteInt(settings::kWebUpdate, 0);
    r.sim.faults.stopAfterBytes = c.answered;
    const uint64_t start = r.clock.NowMs();

    EXPECT_EQ(f.UpdateFirmware(), FirmwareUpdateResult::Failed);
    // One line goes unanswered, and nothing is sent after it.
    long recordsSent = 0;
    for (const auto& w : r.sim.wire) recordsSent += w.fromHost && !w.bytes.empty() && w.bytes[0] == 'S';
    EXPECT_EQ(recordsSent, std::min(records, std::max(0L, c.answered - beforeRecords) + 1));
    EXPECT_EQ(r.sim.firmware.resets, 0);
    EXPECT_LT(r.clock.NowMs() - start, 60000u) << "no long wait per remaining line";
    ASSERT_FALSE(r.ui.messages.empty());
    EXPECT_EQ(r.ui.messages.back().text, r.env.T("MSG_ZUMBLA_DISCONN_RECONN"));
    EXPECT_EQ(cy.forgotten, 1);
    EXPECT_FALSE(r.ui.Progress().open);
    EXPECT_FALSE(r.link.IsOpen());
  }
}

TEST_F(FirmwareUpdate, TheFileMustBeNamedForThePlayerModel) {
  Write(rig.dir / "new" / "ZUMBLA.MHX", made.File());
  Write(Target(), "previous");
  ChooseFile(rig.dir / "new" / "ZUMBLA.MHX");  // the bulk player's file, on an FTDI player
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NoFile);
  ASSERT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.ui.messages[1].text, rig.env.T("MSG_ZUMNET_MHX_NOT_FOUND"));
  EXPECT_EQ(rig.ui.messages[1].caption, rig.env.T("MSG_CAPTION_WARNING"));
  EXPECT_EQ(rig.ui.messages[1].style, mb::kIconExclamation);
  EXPECT_EQ(Read(Target()), "previous");
  ExpectUntouchedPlayer();

  // Cancelling the chooser says the same; No to choosing says nothing more.
  rig.ui.messages.clear();
  rig.ui.answers = {kIdYes};
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NoFile);
  EXPECT_EQ(Texts(), (std::vector<std::string>{rig.env.T("MSG_DOWNLOAD_NOT_POSSIBLE"),
                                               rig.env.T("MSG_ZUMNET_MHX_NOT_FOUND")}));
  rig.ui.messages.clear();
  rig.ui.answers = {kIdNo};
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NoChoice);
  EXPECT_EQ(Texts(), (std::vector<std::string>{rig.env.T("MSG_DOWNLOAD_NOT_POSSIBLE")}));
  EXPECT_EQ(rig.ui.openRequests.size(), 2u);
  ExpectUntouchedPlayer();
}

TEST_F(FirmwareUpdate, NoToTheVersionLeavesThePlayerAlone) {
  Write(rig.dir / "new" / "Zumbla2.MHX", made.File());
  ChooseFile(rig.dir / "new" / "Zumbla2.MHX", kIdNo);
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Declined);
  EXPECT_EQ(Read(Target()), made.File());  // the copy was made before the question
  ExpectUntouchedPlayer();
}

TEST_F(FirmwareUpdate, AChosenFileThatCannotBeCopiedIsNotReplacedByTheOldOne) {
  fs::create_directories(Target());  // something in the way that no file can replace
  Write(rig.dir / "new" / "ZUMBLA2.MHX", made.File());
  ChooseFile(rig.dir / "new" / "ZUMBLA2.MHX");
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::CopyFailed);
  ASSERT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.ui.messages[1].caption, rig.env.T("MSG_WRITEERROR"));
  ExpectUntouchedPlayer();
}

TEST_F(FirmwareUpdate, AFileThatCannotBeOpenedFailsWhenItIsProgrammed) {
  EXPECT_EQ(fw.ProgramFirmware(rig.dir / "missing.MHX"), 0);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0].text, rig.env.T("MSG_PBL_MHX"));
  EXPECT_EQ(rig.ui.messages[0].caption, "");
  EXPECT_EQ(rig.ui.messages[0].style, mb::kOk);
  EXPECT_TRUE(rig.sim.wire.empty());
  EXPECT_FALSE(rig.link.IsOpen());
  EXPECT_EQ(rig.sim.connections(), 1);  // opened, then closed at once
}

class FirmwareUpdateBulk : public FirmwareUpdate {
 protected:
  static SimConfig Bulk() {
    SimConfig c;
    c.as = Transport::Bulk;
    return c;
  }
  FirmwareUpdateBulk() : FirmwareUpdate(Bulk()) {}
};

TEST_F(FirmwareUpdateBulk, TakesZumblaMhxFromItsOwnRemotePath) {
  EXPECT_EQ(fw.Names().file, "ZUMBLA.MHX");
  // The download brings the file, as harvo would.
  rig.env.WriteInt(settings::kWebUpdate, 1);
  starter.action = [&](const std::vector<std::string>& args) { Write(args.at(2), made.File()); };
  rig.ui.answers = {kIdYes};
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Programmed);
  ASSERT_EQ(starter.calls.size(), 1u);
  EXPECT_EQ(starter.calls[0].second.at(1), "DOWNLOAD/ZUMBLA.MHX");
  EXPECT_EQ(starter.calls[0].second.at(2), fs::absolute(Target()).string());
  EXPECT_EQ(rig.sim.Flash(), made.flash);
  EXPECT_EQ(rig.sim.firmware.lines, Programmed(made.records));

  // The FTDI player's file is refused.
  Write(rig.dir / "ZUMBLA2.MHX", made.File());
  rig.env.WriteInt(settings::kWebUpdate, 0);
  rig.ui.messages.clear();
  ChooseFile(rig.dir / "ZUMBLA2.MHX");
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NoFile);
  EXPECT_EQ(rig.ui.messages.back().text, rig.env.T("MSG_ZUMNET_MHX_NOT_FOUND"));
}

// --- The download ---


// Runs the real harvo to its end inside Start, so that the fixed wait that
// follows finds the file complete.
class HarvoStarter final : public ProcessStarter {
 public:
  std::vector<std::pair<fs::path, std::vector<std::string>>> calls;
  std::string downloaded;  // the file as harvo left it
  testing::RunResult run;
  bool Start(const fs::path& program, const std::vector<std::string>& args) override {
    calls.emplace_back(program, args);
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    run = testing::Run(argv, {{"http_proxy", ""}, {"HTTP_PROXY", ""}});
    downloaded = Read(args.at(2));
    return run.status == 0;
  }
};

class FirmwareDownload : public ::testing::Test {
 protected:
  FirmwareDownload() : fw(rig.link, cycle, harvo) {
    rig.dict.LoadFromText("", "ENGLISH", rig.ui);
    fs::create_directories(www / "DOWNLOAD");
    server = std::make_unique<testing::HttpServer>(www);
    fw.serverHost = server->address();
    fw.harvoProgram = testing::BuiltProgram("harvo");
    fw.ownerWindow = 4242;
  }
  fs::path Target() { return rig.dir / "ZUMBLA2.MHX"; }
  fs::path Backup() { return rig.dir / "ZUMBLA.tmp"; }

  testing::TempDir dir;
  fs::path www = dir / "www";
  std::unique_ptr<testing::HttpServer> server;
  SimRig rig;
  BasicFirmwareCycleSide cycle;
  HarvoStarter harvo;
  Firmware fw;
  MadeUpFirmware made{120, 1};
  MadeUpFirmware previous{20, 9};
};

TEST_F(FirmwareDownload, HarvoFetchesTheFileThenItIsProgrammed) {
  ASSERT_FALSE(server->address().empty());
  previous.version = "the previous firmware";
  Write(Target(), previous.File());
  Write(www / "DOWNLOAD" / "ZUMBLA2.MHX", made.File());
  rig.ui.answers = {kIdYes};
  const uint64_t before = rig.clock.SleptMs();

  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Programmed);

  ASSERT_EQ(harvo.calls.size(), 1u);
  EXPECT_EQ(harvo.calls[0].first, testing::BuiltProgram("harvo"));
  EXPECT_EQ(harvo.calls[0].second,
            (std::vector<std::string>{server->address(), "DOWNLOAD/ZUMBLA2.MHX", Target().string(), "4242", "0"}));
  EXPECT_EQ(harvo.run.out, "hwndToSend=4242\nUpdateProgressBar=0\nExit from procedure\n");
  EXPECT_EQ(Read(Target()), made.File());
  EXPECT_FALSE(fs::exists(Backup()));
  EXPECT_EQ(rig.sim.Flash(), made.flash);
  // The version shown is the new one; no other question was asked.
  EXPECT_EQ(rig.ui.questionsAsked, 1);
  EXPECT_EQ(rig.ui.messages[0].text, rig.env.TF("MSG_ZUMNET_MHX_USE_THIS_VERSION", made.version));
  // The fixed wait: 250 steps of 30 ms with the window pumped.
  ASSERT_GE(rig.ui.progressLog.size(), 253u);
  EXPECT_EQ(rig.ui.progressLog[0], "start 251");
  EXPECT_EQ(rig.ui.progressLog[1], "line1 " + rig.env.T("MSG_DOWNLOADING_FIRMWARE"));
  for (int i = 0; i < 250; ++i) EXPECT_EQ(rig.ui.progressLog[static_cast<size_t>(2 + i)], "step 1");
  EXPECT_EQ(rig.ui.progressLog[252], "end");
  EXPECT_GE(rig.clock.SleptMs() - before, 250u * 30);
  EXPECT_GE(rig.ui.pumps, 250 * 30 / 200 - 1);
}

TEST_F(FirmwareDownload, AnErrorPageIsRefusedAndThePreviousFileKept) {
  ASSERT_FALSE(server->address().empty());
  Write(Target(), previous.File());
  // Nothing on the server: it answers with its error page.
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NoChoice);
  EXPECT_NE(harvo.downloaded.find("404"), std::string::npos);
  EXPECT_EQ(Read(Target()), previous.File());
  EXPECT_FALSE(fs::exists(Backup()));
  // The user hears that the download did not work and may choose a file.
  EXPECT_EQ(rig.ui.questionsAsked, 1);
  EXPECT_EQ(rig.ui.messages[0].text, rig.env.T("MSG_DOWNLOAD_NOT_POSSIBLE"));
  EXPECT_TRUE(rig.sim.wire.empty());

  // Yes: the previous file is offered and can be programmed.
  rig.ui.answers = {kIdYes, kIdYes};
  rig.ui.openAnswers.push_back(OpenFileResult{rig.dir.string(), {Target().string()}});
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::Programmed);
  EXPECT_EQ(rig.sim.Flash(), previous.flash);
}

TEST_F(FirmwareDownload, ACutFileOrNoFileLeavesNoFirmwareBehind) {
  ASSERT_FALSE(server->address().empty());
  // No previous file, and a stale backup of an earlier run that must not
  // come back as the firmware.
  Write(Backup(), previous.File());
  std::string cut = made.File();
  Write(www / "DOWNLOAD" / "ZUMBLA2.MHX", cut.substr(0, cut.size() / 2));
  EXPECT_EQ(fw.UpdateFirmware(), FirmwareUpdateResult::NoChoice);
  EXPECT_EQ(harvo.downloaded, cut.substr(0, cut.size() / 2));
  EXPECT_FALSE(fs::exists(Target()));
  EXPECT_FALSE(fs::exists(Backup()));
  EXPECT_TRUE(rig.sim.wire.empty());
}

TEST_F(FirmwareDownload, AHarvoThatCannotStartLeavesThePreviousFile) {
  Write(Target(), previous.File());
  DetachedStarter real;
  Firmware f(rig.link, cycle, real);
  f.harvoProgram = dir / "no-such-harvo";
  EXPECT_EQ(f.UpdateFirmware(), FirmwareUpdateResult::NoChoice);
  EXPECT_EQ(Read(Target()), previous.File());
  EXPECT_FALSE(fs::exists(Backup()));
  EXPECT_EQ(rig.ui.messages[0].text, rig.env.T("MSG_DOWNLOAD_NOT_POSSIBLE"));
}

}  // namespace
}  // namespace kestro
