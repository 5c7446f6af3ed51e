// The demo songs go through Kestro's own import the way a user's first
// drag does: kestro-cli converts each into an MF4 whose header names the
// song and its performer and whose content shows its words, in order, on
// the player's karaoke pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/karaoke.h"
#include "convert/package.h"
#include "convert/tests/mf4_test_support.h"
#include "convert/tests/midi_test_support.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

struct Demo {
  const char* file;
  const char* title;  // as the MF4 header stores it
  const char* performer;
  const char* author;
};

const Demo kDemos[] = {
    {"Twinkle_Twinkle.kar", "TWINKLE, TWINKLE, LITTLE STAR", "Traditional", "Jane Taylor"},
    {"Fra_Martino.kar", "FRA MARTINO", "Traditional", "Traditional"},
    {"Oh_Susanna.kar", "OH! SUSANNA", "Stephen Foster", "Stephen Foster"},
    {"Amazing_Grace.kar", "AMAZING GRACE", "Traditional", "John Newton"},
    {"Row_Your_Boat.kar", "ROW, ROW, ROW YOUR BOAT", "Traditional", "Traditional"},
};

// Words separated by single spaces, line and verse marks counted as spaces.
std::string Words(const std::string& text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '/' || c == '\\') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

// The sung words of a karaoke file: its text events after the start that
// are no "@" lines.
std::string KarWords(const fs::path& kar) {
  miditest::TestEnv t;
  auto r = MidiStreamReader::open(*t.env, kar);
  EXPECT_TRUE(r) << kar;
  if (!r) return "";
  std::string text;
  for (const auto& e : miditest::ReadAll(*r)) {
    if (e.time == 0 || e.bytes.size() < 3 || e.bytes[0] != 0xFF || e.bytes[1] != 0x01) continue;
    std::string s(e.bytes.begin() + 3, e.bytes.end());
    if (!s.empty() && s[0] != '@') text += s;
  }
  return Words(text);
}

class DemoImport : public ::testing::Test {
 protected:
  void SetUp() override {
    auto r = Cmd({"install", inst.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    fs::create_directories(songs);
  }
  testing::RunResult Cmd(std::vector<std::string> args) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    return testing::Run(args, {{"ZUMBLA_HOME", home.path().string()}});
  }

  testing::TempDir home;
  fs::path inst = home / "inst";
  fs::path songs = home / "songs";
  fs::path demo = testing::BuiltDataDir() / "demo";
};

TEST_F(DemoImport, EachSongBecomesAnMf4WithItsNamesAndWords) {
  std::vector<std::string> args = {"--no", "convert"};
  for (const Demo& d : kDemos) args.push_back((demo / d.file).string());
  args.insert(args.end(), {"--to", songs.string()});
  // "--no": a song the converter found without words would be declined.
  auto r = Cmd(args);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  for (const Demo& d : kDemos) {
    SCOPED_TRACE(d.file);
    const std::string stem = fs::path(d.file).stem().string();
    const fs::path mf4 = songs / (stem + ".MF4");
    EXPECT_NE(r.out.find((demo / d.file).string() + ": imported as " + mf4.string()), std::string::npos) << r.out;

    auto u = Cmd({"unpack", mf4.string(), (home / (stem + ".content")).string()});
    ASSERT_EQ(u.status, 0) << u.err;
    std::string bytes = testing::ReadFileOrEmpty(mf4);
    ASSERT_GE(bytes.size(), PackageHeader::kSize);
    PackageHeader h;
    std::copy(bytes.begin(), bytes.begin() + PackageHeader::kSize, h.bytes.begin());
    EXPECT_EQ(h.Magic(), "_MF4");
    EXPECT_EQ(h.Title(), d.title);
    EXPECT_EQ(h.Performer(), d.performer);
    EXPECT_EQ(h.Author(), d.author);
    EXPECT_GT(h.Tempo(), 0);

    // The karaoke pages, line after line, carry every word of the song in order.
    auto content = mf4test::ParseOrFail(ReadBinaryFile(home / (stem + ".content")).value());
    EXPECT_EQ(content.division, 480);
    std::string pages;
    int lines = 0;
    for (const auto& e : content.events) {
      const int kind = KaraokeKind(e.bytes);
      if (kind < karaoke::kLine1 || kind > karaoke::kLine4 || IsPageMark(e.bytes)) continue;
      pages += KaraokeText(e.bytes) + "\n";
      ++lines;
    }
    const std::string words = KarWords(demo / d.file);
    EXPECT_GT(words.size(), 100u);
    EXPECT_EQ(Words(pages), words);
    EXPECT_GE(lines, 8);
    // Colouring steps follow the syllables.
    EXPECT_GE(mf4test::KaraokeOfKind(content.events, karaoke::kColourStep).size(), 8u);
  }
}

}  // namespace
}  // namespace kestro
