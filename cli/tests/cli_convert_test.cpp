#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "convert/package.h"
#include "convert/tests/mf4_test_support.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const char* kTune = R"ABC(X:1
T:Il canto del gallo
M:4/4
L:1/8
K:G
GABc d2d2|e2d2 B2G2|ABcd e2e2|d2c2 B4|
w:Can-ta il gal-lo sul-la tor-re can-ta for-te can-ta an-co-ra
GABc d2d2|e2d2 B2G2|ABcd e2e2|d2c2 B4|
w:tut-to il pae-se si sve-glia e can-ta con lui la can-zo-ne
)ABC";

class CliConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    // The conversion's questions are checked in Italian.
    auto r = Cmd({"install", inst.string()}, testing::DesktopLocale("it_IT.UTF-8"));
    ASSERT_EQ(r.status, 0) << r.err;
    fs::create_directories(songs);
    testing::WriteFileOrDie(home / "tune.abc", kTune);
    auto a = testing::Run({"/usr/bin/abc2midi", (home / "tune.abc").string(), "1", "-o", (home / "Gallo.kar").string()});
    ASSERT_EQ(a.status, 0) << a.out << a.err;
    mf4test::Track t;
    for (uint32_t i = 0; i < 30; ++i) t.At(i * 120, {0x90, 0x40, 0x50}).At(i * 120 + 60, {0x80, 0x40, 0x40});
    mf4test::ByteVec plain = mf4test::SongFile(480, {t.End()});
    testing::WriteFileOrDie(home / "Muta.mid", std::string(plain.begin(), plain.end()));
    testing::WriteFileOrDie(home / "note.txt", "not a song");
    testing::WriteFileOrDie(home / "Brano.mp3", std::string(400, '\xFF'));
    testing::WriteFileOrDie(home / "rotta.mid", std::string(40, 'x'));
  }
  testing::RunResult Cmd(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    env["ZUMBLA_HOME"] = home.path().string();
    return testing::Run(args, env);
  }
  static PackageHeader HeaderOf(const fs::path& p) {
    std::string bytes = testing::ReadFileOrEmpty(p);
    PackageHeader h;
    h.bytes.fill(0);
    if (bytes.size() >= PackageHeader::kSize) std::copy(bytes.begin(), bytes.begin() + 512, h.bytes.begin());
    return h;
  }
  std::string Line(const std::string& file, const std::string& what) { return (home / file).string() + ": " + what + "\n"; }

  TempDir home;
  fs::path inst = home / "inst";
  fs::path songs = home / "songs";
};

TEST_F(CliConvert, ImportsABatchIntoAFolder) {
  auto r = Cmd({"--yes", "convert", (home / "Gallo.kar").string(), (home / "note.txt").string(),
                (home / "Brano.mp3").string(), (home / "Muta.mid").string(), "--to", songs.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(Line("Gallo.kar", "imported as " + (songs / "Gallo.MF4").string())), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Line("note.txt", "skipped (not a song)")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Line("Brano.mp3", "imported as " + (songs / "Brano.MP3").string())), std::string::npos);
  EXPECT_NE(r.out.find(Line("Muta.mid", "imported as " + (songs / "Muta.MF4").string())), std::string::npos);
  EXPECT_NE(r.out.find("3 of 4 files imported into " + songs.string() + "\n"), std::string::npos) << r.out;
  // The question about the song without words was asked and answered.
  EXPECT_NE(r.err.find("La song MUTA non contiene alcun testo"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[x] Visualizza ancora questo messaggio"), std::string::npos) << r.err;

  PackageHeader h = HeaderOf(songs / "Gallo.MF4");
  EXPECT_EQ(h.Magic(), "_MF4");
  EXPECT_EQ(h.Title(), "IL CANTO DEL GALLO");
  EXPECT_EQ(h.PackageSize(), fs::file_size(songs / "Gallo.MF4"));
  EXPECT_EQ(fs::file_size(songs / "Brano.MP3"), 400u);
  EXPECT_FALSE(fs::exists(songs / "note.MF4"));
  for (const char* work : {"0.MID", "TEMP.MID", "WB.MID", "Tune1000.MID", "TEXT.TXT", "LOGILE.TXT", "pre.MID"}) {
    EXPECT_FALSE(fs::exists(inst / work)) << work;
  }

  // Its content is MF4 content with karaoke pages.
  auto u = Cmd({"unpack", (songs / "Gallo.MF4").string(), (home / "gallo.content").string()});
  ASSERT_EQ(u.status, 0) << u.err;
  auto content = mf4test::ParseOrFail(ReadBinaryFile(home / "gallo.content").value());
  EXPECT_EQ(content.division, 480);
  EXPECT_GE(mf4test::KaraokeOfKind(content.events, 4).size(), 2u);
}

TEST_F(CliConvert, AnswersNoAndFailures) {
  auto r = Cmd({"--no", "convert", (home / "Muta.mid").string(), "--to", songs.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(Line("Muta.mid", "declined")), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("-> No"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("0 of 1 files imported"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(songs / "Muta.MF4"));

  r = Cmd({"--yes", "convert", (home / "rotta.mid").string(), (home / "Brano.mp3").string(), "--to", songs.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(Line("rotta.mid", "failed")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(Line("Brano.mp3", "imported as " + (songs / "Brano.MP3").string())), std::string::npos)
      << "the batch goes on";
  EXPECT_NE(r.out.find("1 of 2 files imported"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(songs / "rotta.MF4"));
}

TEST_F(CliConvert, EmptyAndCutSongFilesAreRefused) {
  testing::WriteFileOrDie(home / "Vuota.mf4", "");
  testing::WriteFileOrDie(home / "Corta.MF4", std::string("_MF4") + std::string(200, '\0'));
  testing::WriteFileOrDie(home / "Muta.MP3", "");
  auto r = Cmd({"--yes", "convert", (home / "Vuota.mf4").string(), (home / "Corta.MF4").string(),
                (home / "Muta.MP3").string(), (home / "Brano.mp3").string(), "--to", songs.string()});
  EXPECT_EQ(r.status, 1);
  for (const char* name : {"Vuota.mf4", "Corta.MF4", "Muta.MP3"}) {
    EXPECT_NE(r.out.find(Line(name, "failed")), std::string::npos) << name << "\n" << r.out;
    EXPECT_NE(r.err.find((home / name).string()), std::string::npos) << name << "\n" << r.err;
  }
  EXPECT_NE(r.out.find(Line("Brano.mp3", "imported as " + (songs / "Brano.MP3").string())), std::string::npos);
  for (const char* name : {"Vuota.MF4", "Corta.MF4", "Muta.MP3"}) EXPECT_FALSE(fs::exists(songs / name)) << name;
}

TEST_F(CliConvert, NothingImportedIsAFailure) {
  struct Case {
    std::vector<std::string> files;
    const char* error;
  } cases[] = {
      {{"note.txt"}, "no song was imported: songs are .MID, .KAR, .MF3, .MF4 and .MP3 files\n"},
      {{"note.txt", "rotta.mid"}, "no song was imported\n"},
      {{"rotta.mid", "missing.kar"}, "no song was imported\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--yes", "convert", "--to", songs.string()};
    for (const auto& f : c.files) args.push_back((home / f).string());
    auto r = Cmd(args);
    EXPECT_EQ(r.status, 1) << c.files[0];
    const std::string err = r.err;
    ASSERT_GE(err.size(), std::strlen(c.error));
    EXPECT_EQ(err.substr(err.size() - std::strlen(c.error)), c.error) << "the last word: " << err;
    EXPECT_EQ(r.out.find("files imported"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(songs));
  }
}

TEST_F(CliConvert, SongFolderOfTheSettings) {
  auto r = Cmd({"--yes", "convert", (home / "Brano.mp3").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(inst / "Brano.MP3")) << "the install folder by default";

  ASSERT_EQ(Cmd({"ini", "set", "PATH", "OLD_MF4", songs.string()}).status, 0);
  r = Cmd({"--yes", "convert", (home / "Gallo.kar").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(songs / "Gallo.MF4"));
}

TEST_F(CliConvert, UsageAndMissingFolder) {
  EXPECT_EQ(Cmd({"convert"}).status, 2);
  EXPECT_EQ(Cmd({"convert", "--bogus", "x.mid"}).status, 2);
  auto r = Cmd({"convert", (home / "Brano.mp3").string(), "--to", (home / "nowhere").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nowhere"), std::string::npos);
  auto h = Cmd({"convert", "--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("kestro-cli convert FILE... [--to DIR]"), std::string::npos) << h.out;
}

}  // namespace
}  // namespace kestro
