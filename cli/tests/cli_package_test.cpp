#include <gtest/gtest.h>

#include "convert/package.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

using testing::TempDir;

class CliPackage : public ::testing::Test {
 protected:
  // The messages checked are the Italian ones.
  void SetUp() override {
    auto r = Cmd({"install", (home / "inst").string()}, testing::DesktopLocale("it_IT.UTF-8"));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  testing::RunResult Cmd(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    env["ZUMBLA_HOME"] = home.path().string();
    return testing::Run(args, env);
  }
  std::string Song() {
    std::string s = "MThd";
    for (int i = 0; i < 400; ++i) s += "\x90\x3C\x40\x60\x80\x3C" + std::string(1, static_cast<char>(i % 7));
    return s;
  }
  static PackageHeader HeaderOf(const std::filesystem::path& p) {
    std::string bytes = testing::ReadFileOrEmpty(p);
    PackageHeader h;
    h.bytes.fill(0);
    if (bytes.size() >= PackageHeader::kSize) std::copy(bytes.begin(), bytes.begin() + 512, h.bytes.begin());
    return h;
  }

  TempDir home;
};

TEST_F(CliPackage, PackUnpackAndHeader) {
  testing::WriteFileOrDie(home / "song.mid", Song());
  auto p = Cmd({"pack", (home / "song.mid").string(), (home / "song.mf4").string()});
  ASSERT_EQ(p.status, 0) << p.err;
  PackageHeader h = HeaderOf(home / "song.mf4");
  EXPECT_EQ(h.Magic(), "_MF4");
  EXPECT_EQ(h.FileName(), "Untitled");
  EXPECT_EQ(h.UnpackedSize(), Song().size());
  EXPECT_EQ(h.PackageSize(), std::filesystem::file_size(home / "song.mf4"));
  EXPECT_NE(p.out.find(std::to_string(Song().size()) + " bytes packed"), std::string::npos);

  auto u = Cmd({"unpack", (home / "song.mf4").string(), (home / "back.mid").string()});
  ASSERT_EQ(u.status, 0) << u.err;
  EXPECT_EQ(testing::ReadFileOrEmpty(home / "back.mid"), Song());

  auto hd = Cmd({"header", (home / "song.mf4").string()});
  ASSERT_EQ(hd.status, 0) << hd.err;
  for (const char* line : {"magic           _MF4\n", "word 8          0x12345678\n", "byte 27         99\n",
                           "byte 35         3\n", "word 36         100\n", "tempo           120\n",
                           "file name       Untitled\n", "markers flag    0\n"}) {
    EXPECT_NE(hd.out.find(line), std::string::npos) << line << hd.out;
  }
  for (const char* field : {"package size", "unpacked size", "rights notice", "title", "editor", "author",
                            "performer", "genre", "channel  program  bank  volume  pan  reverb  chorus"}) {
    EXPECT_NE(hd.out.find(field), std::string::npos) << field;
  }
  EXPECT_NE(hd.out.find("unpacked size   " + std::to_string(Song().size()) + "\n"), std::string::npos);
  EXPECT_NE(hd.out.find("\n     16        0     0       0    0       0       0\n"), std::string::npos) << hd.out;
}

TEST_F(CliPackage, PackWithName) {
  testing::WriteFileOrDie(home / "s.mid", Song());
  auto p = Cmd({"pack", (home / "s.mid").string(), (home / "s.mf4").string(), "--name", "Perch\xC3\xA9 no"});
  ASSERT_EQ(p.status, 0) << p.err;
  PackageHeader h = HeaderOf(home / "s.mf4");
  EXPECT_EQ(h.Title(), "Perch\xE9 no");  // Latin-1 inside the package
  EXPECT_EQ(h.Author(), "-");
  EXPECT_EQ(h.Tempo(), 0);
  EXPECT_EQ(h.FileName(), (home / "s.mid").string().substr(0, 35));
  auto hd = Cmd({"header", (home / "s.mf4").string()});
  EXPECT_NE(hd.out.find("title           Perch\xC3\xA9 no\n"), std::string::npos) << hd.out;
  EXPECT_NE(hd.out.find("genre           -\n"), std::string::npos);
}

TEST_F(CliPackage, FailuresAndUsage) {
  auto missing = Cmd({"pack", (home / "nope.mid").string(), (home / "x.mf4").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Errore di lettura: Impossibile aprire il file " + (home / "nope.mid").string()),
            std::string::npos)
      << missing.err;
  EXPECT_FALSE(std::filesystem::exists(home / "x.mf4"));

  testing::WriteFileOrDie(home / "s.mid", Song());
  auto nowhere = Cmd({"pack", (home / "s.mid").string(), (home / "no" / "x.mf4").string()});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_NE(nowhere.err.find("Errore di scrittura: Impossibile creare il file"), std::string::npos) << nowhere.err;

  // A damaged package: read error, nothing written.
  ASSERT_EQ(Cmd({"pack", (home / "s.mid").string(), (home / "s.mf4").string()}).status, 0);
  std::string pkg = testing::ReadFileOrEmpty(home / "s.mf4");
  testing::WriteFileOrDie(home / "cut.mf4", pkg.substr(0, pkg.size() - 3));
  auto cut = Cmd({"unpack", (home / "cut.mf4").string(), (home / "cut.mid").string()});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("Errore di lettura: Impossibile aprire il file " + (home / "cut.mf4").string()),
            std::string::npos)
      << cut.err;
  EXPECT_FALSE(std::filesystem::exists(home / "cut.mid"));

  testing::WriteFileOrDie(home / "short", "_MF4");
  auto shortHeader = Cmd({"header", (home / "short").string()});
  EXPECT_EQ(shortHeader.status, 1);
  EXPECT_NE(shortHeader.err.find("not a song package"), std::string::npos);
  EXPECT_EQ(Cmd({"header", (home / "none").string()}).status, 1);

  EXPECT_EQ(Cmd({"pack", (home / "s.mid").string()}).status, 2);
  EXPECT_EQ(Cmd({"unpack", "a", "b", "c"}).status, 2);
  EXPECT_EQ(Cmd({"pack", "a", "b", "--bogus"}).status, 2);
  auto help = Cmd({"pack", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: kestro-cli pack IN OUT [--name TITLE]"), std::string::npos);
  EXPECT_NE(Cmd({"--help"}).out.find("header FILE"), std::string::npos);
}

}  // namespace
}  // namespace kestro
