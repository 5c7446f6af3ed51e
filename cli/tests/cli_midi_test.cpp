#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

using testing::TempDir;

std::string Be32(uint32_t x) {
  return {char(x >> 24), char(x >> 16), char(x >> 8), char(x)};
}

// A MIDI file of the given format and division with these track chunks.
std::string MidiFile(int format, int division, const std::vector<std::string>& tracks) {
  std::string f = "MThd" + Be32(6);
  f += {char(0), char(format), char(tracks.size() >> 8), char(tracks.size()), char(division >> 8), char(division)};
  for (const auto& t : tracks) f += "MTrk" + Be32(static_cast<uint32_t>(t.size())) + t;
  return f;
}

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

class CliMidi : public ::testing::Test {
 protected:
  TempDir home;
  // The messages checked are the Italian ones.
  void SetUp() override {
    ASSERT_EQ(Cmd({"install", (home / "inst").string()}, testing::DesktopLocale("it_IT.UTF-8")).status, 0);
  }
  testing::RunResult Cmd(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    env["ZUMBLA_HOME"] = home.path().string();
    return testing::Run(args, env);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    testing::WriteFileOrDie(home / name, bytes);
    return (home / name).string();
  }
};

TEST_F(CliMidi, DumpPrintsTheMergedEvents) {
  std::string a = B({0x00, 0xFF, 0x03, 0x02, 'h', 'i', 0x60, 0x90, 0x3C, 0x40, 0x00, 0x3E, 0x41, 0x00, 0xFF, 0x2F, 0x00});
  std::string b = B({0x30, 0xC1, 0x05, 0x30, 0x81, 0x3C, 0x00});
  auto r = Cmd({"midi", "dump", Write("s.mid", MidiFile(1, 96, {a, b}))});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "# format 1, tracks 2, division 96\n"
            "0 0 ff 03 02 68 69\n"
            "48 1 c1 05\n"
            "96 0 90 3c 40\n"
            "96 0 90 3e 41\n"
            "96 0 ff 2f 00\n"
            "96 1 81 3c 00\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CliMidi, DumpOfADamagedOrMissingFile) {
  std::string t = B({0x00, 0x90, 0x3C, 0x40, 0x10, 0xF0, 0x01, 0xF7, 0x00, 0x3E, 0x40});
  auto r = Cmd({"midi", "dump", Write("bad.mid", MidiFile(0, 96, {t}))});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "# format 0, tracks 1, division 96\n0 0 90 3c 40\n16 0 f0 01 f7\n");
  EXPECT_NE(r.err.find("Attenzione: Midifile error 05"), std::string::npos) << r.err;

  auto missing = Cmd({"midi", "dump", (home / "none.mid").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "open error\n");
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);

  EXPECT_EQ(Cmd({"midi", "dump"}).status, 2);
  EXPECT_EQ(Cmd({"midi", "dump", "a", "b"}).status, 2);
  auto help = Cmd({"midi", "dump", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: kestro-cli midi dump FILE"), std::string::npos);
}

TEST_F(CliMidi, MarkPrintsThePercent) {
  // Note-ons whose velocities carry the first 14 bits of the mark.
  const int bits[14] = {1, 0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 1};
  std::string marked, plain;
  for (int bit : bits) {
    marked += B({0x0A, 0x90, 0x3C, 0x40 | bit, 0x0A, 0x80, 0x3C, 0x00});
    plain += B({0x0A, 0x90, 0x3C, 0x40, 0x0A, 0x80, 0x3C, 0x00});
  }
  auto r = Cmd({"midi", "mark", Write("m.mid", MidiFile(0, 96, {marked}))});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::to_string(16 * 100 / 28) + "\n");
  EXPECT_EQ(Cmd({"midi", "mark", Write("p.mid", MidiFile(0, 96, {plain}))}).out, "0\n");

  auto bad = Cmd({"midi", "mark", Write("x.mid", "RIFF....WAVE")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("This is not\na standard midifile!"), std::string::npos) << bad.err;
}

TEST_F(CliMidi, MarkAsksAboutVeryLongSongs) {
  // At division 1 the question comes after 8000 ticks.
  std::string t = B({0x00, 0x90, 0x3C, 0x40, 0xBE, 0x41, 0x80, 0x3C, 0x00});  // second event at 8001
  auto file = Write("long.mid", MidiFile(0, 1, {t}));
  auto yes = Cmd({"--yes", "midi", "mark", file});
  EXPECT_EQ(yes.status, 0);
  EXPECT_NE(yes.err.find("Alert: Time > 2000 bars!|File may be corrupted!|Continue anyway?"), std::string::npos)
      << yes.err;
  EXPECT_EQ(yes.err.find("not completly loaded"), std::string::npos);
  auto no = Cmd({"--no", "midi", "mark", file});
  EXPECT_EQ(no.status, 0);
  EXPECT_NE(no.err.find("Attention!|File not completly loaded!"), std::string::npos) << no.err;
}

}  // namespace
}  // namespace kestro
