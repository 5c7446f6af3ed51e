// kestro-cli play, midi from-stream and the floppy commands, on a demo song
// imported into an install of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// length FILE: seconds of a MIDI file at its first tempo (the demo songs
// keep one); dump FILE: "division N", then one line a message: TYPE.
const char* kMido = R"PY(
import sys
import mido
mf = mido.MidiFile(sys.argv[2])
if sys.argv[1] == 'length':
    tempo = None
    ticks = 0
    for track in mf.tracks:
        t = 0
        for msg in track:
            t += msg.time
            if msg.type == 'set_tempo' and tempo is None:
                tempo = msg.tempo
        ticks = max(ticks, t)
    print(ticks * (tempo or 500000) / 1e6 / mf.ticks_per_beat)
else:
    print('division', mf.ticks_per_beat)
    for track in mf.tracks:
        for msg in track:
            print(msg.type)
)PY";

class CliPlay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Cmd({"install", inst.string()}).status, 0);
    fs::create_directories(songs);
    fs::create_directories(floppy);
    for (const char* sf : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
      if (fs::exists(sf)) {
        ASSERT_EQ(Cmd({"ini", "set", "Settings", "SoundFont", sf}).status, 0);
        break;
      }
    }
    ASSERT_EQ(Cmd({"ini", "set", "PATH", "OLD_MF4", songs.string()}).status, 0);
    ASSERT_EQ(Cmd({"ini", "set", "PATH", "Floppy", floppy.string()}).status, 0);
    ASSERT_EQ(Cmd({"ini", "set", "SETTINGS", "CURRLANGUAGE", "ENGLISH"}).status, 0);
    demo = testing::BuiltDataDir() / "demo" / "Row_Your_Boat.kar";
    auto r = Cmd({"--yes", "convert", demo.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    song = songs / "Row_Your_Boat.MF4";
    ASSERT_TRUE(fs::exists(song));
  }
  testing::RunResult Cmd(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    env["ZUMBLA_HOME"] = home.path().string();
    return testing::Run(args, env);
  }
  std::string Mido(const std::string& mode, const fs::path& file) {
    testing::WriteFileOrDie(home / "mido_tool.py", kMido);
    auto r = testing::Run({testing::Python3(), (home / "mido_tool.py").string(), mode, file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  TempDir home;
  fs::path inst = home / "inst";
  fs::path songs = home / "songs";
  fs::path floppy = home / "floppy";
  fs::path demo, song;
};

TEST_F(CliPlay, SoundOfASongIntoAWavFile) {
  const fs::path wav = home / "boat.wav";
  auto r = Cmd({"play", song.string(), "--wav", wav.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto sox = testing::Run({"/usr/bin/sox", wav.string(), "-n", "stat"});
  ASSERT_EQ(sox.status, 0) << sox.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(sox.err, m, std::regex(R"(Length \(seconds\):\s+([0-9.]+))"))) << sox.err;
  const double seconds = std::stod(m[1]);
  const double want = std::stod(Mido("length", demo));
  EXPECT_NEAR(seconds, want, want * 0.05);
  ASSERT_TRUE(std::regex_search(sox.err, m, std::regex(R"(RMS\s+amplitude:\s+([0-9.]+))")));
  EXPECT_GT(std::stod(m[1]), 0.005) << "not silent";

  // A damaged MP3, and a machine without a sound output: the reason, no hang.
  testing::WriteFileOrDie(home / "noise.mp3", std::string(5000, '\x11'));
  r = Cmd({"play", (home / "noise.mp3").string(), "--wav", wav.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Sound system error (code 2)"), std::string::npos) << r.err;
  r = Cmd({"play", song.string()}, {{"SDL_AUDIODRIVER", "kestro-no-such-output"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Sound system error (code 3)"), std::string::npos) << r.err;
}

TEST_F(CliPlay, StreamOfASongAsAMidiFile) {
  const fs::path stream = home / "boat.mit";
  ASSERT_EQ(Cmd({"unpack", song.string(), stream.string()}).status, 0);
  for (bool keep : {false, true}) {
    const fs::path mid = home / (keep ? "kept.mid" : "plain.mid");
    std::vector<std::string> args = {"midi", "from-stream", stream.string(), mid.string(), "--skip25"};
    if (keep) args.push_back("--keep-sysex");
    auto r = Cmd(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string dump = Mido("dump", mid);
    EXPECT_EQ(dump.rfind("division 480\n", 0), 0u);
    EXPECT_NE(dump.find("note_on"), std::string::npos);
    EXPECT_NE(dump.find("note_off"), std::string::npos);
    EXPECT_EQ(dump.find("sysex") != std::string::npos, keep) << "the karaoke text is system exclusive";
  }
  // A stream whose first event has no status.
  std::string broken = testing::ReadFileOrEmpty(stream).substr(0, 25) + std::string("\x00\x3C\x40", 3);
  testing::WriteFileOrDie(home / "broken.mit", broken);
  auto r = Cmd({"midi", "from-stream", (home / "broken.mit").string(), (home / "b.mid").string(), "--skip25"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 6"), std::string::npos) << r.err;
}

TEST_F(CliPlay, FloppyExportAndImport) {
  auto r = Cmd({"--yes", "floppy", "export", "Row_Your_Boat.MF4"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, song.string() + ": copied to " + (floppy / "Row_Your_Boat.MF4").string() + "\n");
  EXPECT_EQ(testing::ReadFileOrEmpty(floppy / "Row_Your_Boat.MF4"), testing::ReadFileOrEmpty(song));

  // Back in from the floppy with a karaoke file beside it; the song already
  // there is replaced on Yes.
  fs::copy_file(demo, floppy / "Twinkle.kar");
  testing::WriteFileOrDie(floppy / "readme.txt", "x");
  r = Cmd({"--yes", "floppy", "import"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find((floppy / "Row_Your_Boat.MF4").string() + ": imported as " + song.string()), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find((floppy / "Twinkle.kar").string() + ": imported as " + (songs / "Twinkle.MF4").string()),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("2 songs have been imported from the floppy disk!"), std::string::npos) << r.err;

  // Without a floppy folder.
  fs::remove_all(floppy);
  r = Cmd({"--yes", "floppy", "import"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No songs found on the floppy disk."), std::string::npos) << r.err;
  r = Cmd({"--yes", "floppy", "export", "Row_Your_Boat.MF4"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No floppy disk found."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kestro
