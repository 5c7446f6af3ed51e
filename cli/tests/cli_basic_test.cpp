#include <gtest/gtest.h>

#include <map>

#include "platform/profile.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {


using testing::TempDir;

class Cli : public ::testing::Test {
 protected:
  TempDir home;
  testing::RunResult Cmd(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    env["ZUMBLA_HOME"] = home.path().string();
    return testing::Run(args, env);
  }
};

using testing::DesktopLocale;

TEST_F(Cli, UsageAndHelp) {
  auto r = Cmd({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("ini get"), std::string::npos);
  EXPECT_EQ(Cmd({}).status, 2);
  EXPECT_EQ(Cmd({"frobnicate"}).status, 2);
  EXPECT_EQ(Cmd({"dict"}).status, 2);
  EXPECT_EQ(Cmd({"--bogus", "text"}).status, 2);
  EXPECT_EQ(Cmd({"ini", "get", "only-section"}).status, 2);
  auto h = Cmd({"text", "--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("Usage: kestro-cli text KEY [N]"), std::string::npos);
}

TEST_F(Cli, WithoutInstallationNorShippedDataTheProgramsStop) {
  TempDir noData;
  auto r = testing::Run({testing::BuiltProgram("kestro-cli").string(), "text", "MSG_OK"},
                        {{"ZUMBLA_HOME", home.path().string()}, {"KESTRO_DATA_DIR", noData.path().string()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Kestro - Error: Invalid Installation!"), std::string::npos);
  EXPECT_NE(r.err.find("shipped data not found"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(home / "Kestro"));
  EXPECT_EQ(Cmd({"ini", "get", "PATH", "Installpath", "?"}).out, "?\n");
}

TEST_F(Cli, FirstRunLaysOutTheInstallFolderWithoutAsking) {
  auto r = testing::Run({testing::BuiltProgram("kestro-cli").string(), "--no", "text", "MSG_CANCEL"},
                        {{"ZUMBLA_HOME", home.path().string()}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "en_GB.UTF-8"}});
  ASSERT_EQ(r.status, 0) << r.err;
  // In the desktop's language.
  EXPECT_EQ(r.out, "Cancel\n");
  EXPECT_NE(r.err.find("first run"), std::string::npos);
  EXPECT_EQ(Cmd({"ini", "get", "PATH", "Installpath"}).out, (home / "Kestro").string() + "\n");
  for (const char* name : {"DICT.DIC", "MBRPBR.DAT", "MIDI.DBF", "Artist.dat", "genere.dat"})
    EXPECT_EQ(testing::ReadFileOrEmpty(home / "Kestro" / name), testing::ReadFileOrEmpty(testing::BuiltDataDir() / name))
        << name;
  // Once only: the next command finds the installation.
  auto again = Cmd({"text", "MSG_OK"});
  EXPECT_EQ(again.err.find("first run"), std::string::npos);
}

TEST_F(Cli, InstallThenLookUpTexts) {
  auto inst = Cmd({"install", (home / "inst").string()}, DesktopLocale("it_IT.UTF-8"));
  ASSERT_EQ(inst.status, 0) << inst.err;
  EXPECT_TRUE(std::filesystem::exists(home / "inst" / "DICT.DIC"));
  EXPECT_EQ(Cmd({"ini", "get", "path", "installpath"}).out, (home / "inst").string() + "\n");

  auto ok = Cmd({"text", "msg_ok"});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "OK\n");
  EXPECT_EQ(Cmd({"text", "MSG_NOT_A_KEY"}).out, "MSG_NOT_A_KEY: String Error\n");
  EXPECT_EQ(Cmd({"text", "MSG_NOT_A_KEY", "2"}).out, "MSG_NOT_A_KEY_2: String Error\n");
  EXPECT_EQ(Cmd({"ini", "get", "SETTINGS", "CURRLANGUAGE"}).out, "ITALIANO\n");
  EXPECT_EQ(Cmd({"text", "MSG_CANCEL"}).out, "Annulla\n");
  ASSERT_EQ(Cmd({"ini", "set", "SETTINGS", "CURRLANGUAGE", "ENGLISH"}).status, 0);
  EXPECT_EQ(Cmd({"text", "MSG_CANCEL"}).out, "Cancel\n");

  // A damaged dictionary stops with the loader's message.
  auto dic = home / "inst" / "DICT.DIC";
  std::string bytes = testing::ReadFileOrEmpty(dic);
  bytes[bytes.size() / 2] ^= 1;
  testing::WriteFileOrDie(dic, bytes);
  auto bad = Cmd({"text", "MSG_OK"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("ZumblaPC Error: Error while opening DICT.DIC"), std::string::npos);
}

TEST_F(Cli, TheFirstInstallSpeaksTheDesktopsLanguage) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* already;  // CURRLANGUAGE before the install, or nullptr
    const char* language;
  } cases[] = {
      {DesktopLocale("it_IT.UTF-8"), nullptr, "ITALIANO"},
      {DesktopLocale("en_GB.UTF-8"), nullptr, "ENGLISH"},
      {DesktopLocale("C"), nullptr, "ENGLISH"},
      // LC_ALL before LC_MESSAGES before LANG.
      {{{"LANG", "en_GB.UTF-8"}, {"LC_ALL", "it_IT.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, nullptr, "ITALIANO"},
      {{{"LANG", "it_IT.UTF-8"}, {"LC_ALL", ""}, {"LC_MESSAGES", "en_US.UTF-8"}}, nullptr, "ENGLISH"},
      // A value already there stays, whatever the locale.
      {DesktopLocale("it_IT.UTF-8"), "ENGLISH", "ENGLISH"},
  };
  for (const auto& c : cases) {
    TempDir h;
    if (c.already) ProfileFile(h / "Zumbla.INI").WriteString("SETTINGS", "CURRLANGUAGE", c.already);
    auto cmd = [&](std::vector<std::string> args) {
      args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
      auto env = c.env;
      env["ZUMBLA_HOME"] = h.path().string();
      return testing::Run(args, env);
    };
    auto r = cmd({"install", (h / "inst").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("Language: ") + c.language + "\n"), std::string::npos) << r.out;
    // The texts follow.
    EXPECT_EQ(cmd({"text", "MSG_CANCEL"}).out, std::string(c.language) == "ENGLISH" ? "Cancel\n" : "Annulla\n");
  }
}

TEST_F(Cli, LanguageShowsAndSets) {
  EXPECT_EQ(Cmd({"language"}).out, "ITALIANO\n") << "the dictionary's default before anything is set";
  auto r = Cmd({"language", "english"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ENGLISH\n");
  EXPECT_EQ(Cmd({"ini", "get", "SETTINGS", "CURRLANGUAGE"}).out, "ENGLISH\n");
  auto bad = Cmd({"language", "DEUTSCH"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("ITALIANO or ENGLISH"), std::string::npos) << bad.err;
  EXPECT_EQ(Cmd({"language", "ITALIANO", "ENGLISH"}).status, 2);
  EXPECT_EQ(Cmd({"language"}).out, "ENGLISH\n");
}

TEST_F(Cli, VersionIsTheProjectVersion) {
  const std::string version = testing::ProjectVersion();
  ASSERT_FALSE(version.empty());
  auto r = Cmd({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Kestro " + version + "\n");
}

TEST_F(Cli, IniGetSetAndHomeOption) {
  TempDir other;
  EXPECT_EQ(Cmd({"ini", "get", "PATH", "OLD_MF4", "dflt"}).out, "dflt\n");
  ASSERT_EQ(Cmd({"ini", "set", "PATH", "OLD_MF4", "/songs"}).status, 0);
  EXPECT_EQ(Cmd({"ini", "get", "path", "old_mf4", "dflt"}).out, "/songs\n");
  ASSERT_EQ(Cmd({"--home", other.path().string(), "ini", "set", "PATH", "OLD_MF4", "/elsewhere"}).status, 0);
  EXPECT_EQ(Cmd({"ini", "get", "PATH", "OLD_MF4"}).out, "/songs\n");
  EXPECT_NE(testing::ReadFileOrEmpty(other / "Zumbla.INI").find("OLD_MF4=/elsewhere"), std::string::npos);
}

TEST_F(Cli, DictionaryEncodeDecodeRoundTrip) {
  std::string plain = "[ENUMKEYS]\nK0=MSG_OK\n[ITALIANO]\nMSG_OK=Perch\xC3\xA9 s\xC3\xAC\n";
  testing::WriteFileOrDie(home / "plain.ini", plain);
  ASSERT_EQ(Cmd({"dict", "encode", (home / "plain.ini").string(), (home / "D.DIC").string()}).status, 0);
  std::string stored = testing::ReadFileOrEmpty(home / "D.DIC");
  EXPECT_EQ(stored.size(), plain.size() - 2 + 8);  // two characters become one Latin-1 byte each
  auto dec = Cmd({"dict", "decode", (home / "D.DIC").string()});
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(dec.out, plain);
  stored[0] ^= 1;
  testing::WriteFileOrDie(home / "D.DIC", stored);
  auto bad = Cmd({"dict", "decode", (home / "D.DIC").string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("The file may be corrupted"), std::string::npos);
}

}  // namespace
}  // namespace kestro
