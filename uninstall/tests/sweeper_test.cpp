// The script runner on a throwaway home: what a script may delete, and what
// no script can make it touch.
#include "uninstall/sweeper.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "uninstall/removal_script.h"

namespace kestro::uninstall {
namespace {

namespace fs = std::filesystem;

// Everything under a folder: files with their content, folders, links with
// their target; links are not followed.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> m;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink())
      m[rel] = "-> " + fs::read_symlink(it->path()).string();
    else if (it->is_directory())
      m[rel] = "<folder>";
    else
      m[rel] = testing::ReadFileOrEmpty(it->path());
  }
  return m;
}

// A user's home with Kestro's files and files of the user's own around them.
struct Tree {
  testing::TempDir root;
  fs::path home = root / "home";
  fs::path settings = home / ".config" / "zumbla";
  fs::path install = home / ".local" / "share" / "kestro";
  fs::path documents = home / "Documents";
  ScriptedUi ui;
  VirtualClock clock;
  std::vector<uint64_t> beepTimes;

  Tree() {
    testing::WriteFileOrDie(settings / "Zumbla.INI", "[PATH]\nInstallpath=" + install.string() + "\n");
    testing::WriteFileOrDie(settings / "notes.txt", "the user's");
    testing::WriteFileOrDie(install / "MINDEX0.DAT", "index");
    testing::WriteFileOrDie(install / "victim.DAT", "kestro's, but not named");
    testing::WriteFileOrDie(install / "keep.DAT", "kestro's, but not named");
    testing::WriteFileOrDie(install / "sub" / "inner.DAT", "kestro's, but not named");
    testing::WriteFileOrDie(documents / "precious.txt", "the user's");
    testing::WriteFileOrDie(documents / "inner.DAT", "the user's");
    testing::WriteFileOrDie(root / "elsewhere" / "MINDEX0.DAT", "not in the home");
    fs::create_directory_symlink(documents, install / "linkdir");
    fs::create_symlink(documents / "precious.txt", install / "linkfile");
    fs::create_directories(documents / "emptydir");
    fs::create_directory_symlink(documents / "emptydir", install / "linkempty");
  }

  void Script(const std::string& text) { testing::WriteFileOrDie(settings / kScriptName, text); }

  void Run(std::optional<fs::path> installRoot) {
    Sweeper s(ui, clock, [this] { beepTimes.push_back(clock.NowMs()); }, {installRoot, settings});
    s.Run();
  }
  void Run() { Run(install); }
};

TEST(Sweeper, HostileScriptsDeleteNothingOutsideTheirFolders) {
  struct Case {
    const char* what;
    std::function<std::string(const Tree&)> script;
    std::vector<std::string> deleted;  // relative to the root
  };
  auto d = [](const fs::path& p) { return "d " + p.string() + "\n"; };
  std::vector<Case> cases = {
      {"the install folder's own file", [&](const Tree& t) { return d(t.install / "MINDEX0.DAT"); },
       {"home/.local/share/kestro/MINDEX0.DAT"}},
      {"a file outside", [&](const Tree& t) { return d(t.documents / "precious.txt"); }, {}},
      {"a file outside the home", [&](const Tree& t) { return d(t.root / "elsewhere" / "MINDEX0.DAT"); }, {}},
      {"\"..\" out of the install folder",
       [&](const Tree& t) { return "d " + t.install.string() + "/../../../Documents/precious.txt\n"; }, {}},
      {"\"..\" that stays inside",
       [&](const Tree& t) { return "d " + t.install.string() + "/sub/../MINDEX0.DAT\n"; }, {}},
      {"through a linked folder", [&](const Tree& t) { return d(t.install / "linkdir" / "precious.txt"); }, {}},
      {"a linked empty folder", [&](const Tree& t) { return "r " + (t.install / "linkempty").string() + "\n"; }, {}},
      {"a named link goes, its target stays", [&](const Tree& t) { return d(t.install / "linkfile"); },
       {"home/.local/share/kestro/linkfile"}},
      {"a relative path", [&](const Tree&) { return std::string("d home/.local/share/kestro/MINDEX0.DAT\n"); }, {}},
      {"a folder named as a file", [&](const Tree& t) { return d(t.install / "sub"); }, {}},
      {"a folder that is not empty", [&](const Tree& t) { return "r " + t.install.string() + "\n"; }, {}},
      {"the root folder", [&](const Tree&) { return std::string("r /\nd /\n"); }, {}},
      {"the settings file", [&](const Tree& t) { return d(t.settings / "Zumbla.INI"); },
       {"home/.config/zumbla/Zumbla.INI"}},
      {"another file of the settings folder", [&](const Tree& t) { return d(t.settings / "notes.txt"); }, {}},
      {"a NUL inside the path",
       [&](const Tree& t) { return "d " + (t.install / "keep.DAT").string() + std::string("\0.txt\n", 6); }, {}},
      {"control characters", [&](const Tree& t) { return "d " + (t.install / "keep.DAT").string() + "\r\n"; }, {}},
      {"an overlong line whose pieces would be commands",
       [&](const Tree& t) {
         // Cut at 255 characters, the first piece names a file that exists
         // and the rest is a command of its own.
         std::string head = "d " + t.install.string() + "/";
         std::string name(kMaxLineChars - head.size(), 'A');
         testing::WriteFileOrDie(t.install / name, "cut");
         return head + name + "d " + (t.install / "victim.DAT").string() + "\n";
       },
       {}},
      {"an overlong last line without a line feed",
       [&](const Tree& t) {
         return d(t.install / "MINDEX0.DAT") + "d " + t.install.string() + std::string(300, '/') + "victim.DAT";
       },
       {"home/.local/share/kestro/MINDEX0.DAT"}},
  };
  for (const auto& c : cases) {
    Tree t;
    std::string script = c.script(t);
    t.Script(script);
    auto before = Snapshot(t.root.path());
    t.Run();
    auto after = Snapshot(t.root.path());
    before.erase("home/.config/zumbla/" + std::string(kScriptName));
    for (const auto& gone : c.deleted) {
      EXPECT_EQ(before.erase(gone), 1u) << c.what << ": " << gone;
    }
    EXPECT_EQ(after, before) << c.what;
    EXPECT_TRUE(t.ui.messages.empty()) << c.what;
  }
}

TEST(Sweeper, WithoutAnInstallFolderOnlyTheSettingsFilesGo) {
  Tree t;
  // A folder really called "??" where the program runs, as a path built on
  // the missing key would name it.
  testing::WriteFileOrDie(t.root / "??" / "MINDEX0.DAT", "not kestro's");
  fs::path cwd = fs::current_path();
  fs::current_path(t.root.path());
  t.Script("d ?\?/MINDEX0.DAT\nd " + (t.install / "MINDEX0.DAT").string() + "\nd " +
           (t.settings / "Zumbla.INI").string() + "\nr ?\?\n");
  auto before = Snapshot(t.root.path());
  t.Run(std::nullopt);
  fs::current_path(cwd);
  auto after = Snapshot(t.root.path());
  before.erase("home/.config/zumbla/" + std::string(kScriptName));
  before.erase("home/.config/zumbla/Zumbla.INI");
  EXPECT_EQ(after, before);
}

TEST(Sweeper, InstallFoldersThatWouldReachTheUsersFilesAreRefused) {
  const fs::path home = "/home/u", settings = "/home/u/.config/zumbla";
  struct Case {
    const char* value;
    std::optional<fs::path> root;
  } cases[] = {
      {"/home/u/.local/share/kestro", fs::path("/home/u/.local/share/kestro")},
      {"/home/u/.local/share/kestro/", fs::path("/home/u/.local/share/kestro")},
      {"/home/u/.config/zumbla/Kestro", fs::path("/home/u/.config/zumbla/Kestro")},
      {"/home/u/.config/zumbla", fs::path("/home/u/.config/zumbla")},
      {"/opt/karaoke", fs::path("/opt/karaoke")},
      {"??", std::nullopt},
      {"kestro", std::nullopt},
      {"", std::nullopt},
      {"/", std::nullopt},
      {"/home", std::nullopt},
      {"/home/u", std::nullopt},
      {"/home/u/", std::nullopt},
      {"/home/u/x/..", std::nullopt},
      {"/home/u/.config", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeInstallRoot(c.value, home, settings), c.root) << c.value;
}

TEST(Sweeper, RegistryLinesAreCheckedAndTheRunGoesOn) {
  Tree t;
  t.Script("g \"HKEY_CURRENT_USER\" Software\\Kestro\n"
           "g \"HKEY_CURRENT_USER\"\n"
           "g HKEY_CURRENT_USER\\Software\\Kestro\n"
           "g \"HKEY_CURRENT_USER Software\\Kestro\n"
           "g\n"
           "d " + (t.install / "MINDEX0.DAT").string() + "\n");
  t.Run();
  ASSERT_EQ(t.ui.messages.size(), 3u);
  for (const auto& m : t.ui.messages) {
    EXPECT_EQ(m.text, "Syntax error in registry deletion");
    EXPECT_EQ(m.caption, "Syntax error");
    EXPECT_EQ(m.style, mb::kIconStop);
    EXPECT_EQ(m.kind, BoxKind::System);
  }
  EXPECT_FALSE(fs::exists(t.install / "MINDEX0.DAT"));
  EXPECT_EQ(ParseRegistryArgument("\"HKEY_LOCAL_MACHINE\"   Software\\A B")->path, "Software\\A B");
  EXPECT_EQ(ParseRegistryArgument("\"HKEY_LOCAL_MACHINE\"   Software\\A B")->root, "HKEY_LOCAL_MACHINE");
}

TEST(Sweeper, PauseLinesBeepAroundTheWaitBeforeAnyDeletion) {
  Tree t;
  std::vector<bool> indexThere;
  Sweeper s(t.ui, t.clock, [&] {
    t.beepTimes.push_back(t.clock.NowMs());
    indexThere.push_back(fs::exists(t.install / "MINDEX0.DAT"));
  }, {t.install, t.settings});
  t.Script("s 3000\nd " + (t.install / "MINDEX0.DAT").string() + "\na\ns 99999999999\nx ignored\n\na done\n");
  const uint64_t start = t.clock.NowMs();
  s.Run();
  ASSERT_EQ(t.beepTimes.size(), 5u);
  EXPECT_EQ(t.beepTimes[0], start);
  EXPECT_EQ(t.beepTimes[1], start);
  EXPECT_EQ(t.beepTimes[2], start + 3000);
  EXPECT_EQ(indexThere, (std::vector<bool>{true, true, true, false, false}));
  // A garbled pause does not keep the runner waiting for days.
  EXPECT_EQ(t.beepTimes[4] - t.beepTimes[3], Sweeper::kMaxPauseMs);
  ASSERT_EQ(t.ui.messages.size(), 2u);
  EXPECT_EQ(t.ui.messages[0].text, "");
  EXPECT_EQ(t.ui.messages[0].caption, "Message");
  EXPECT_EQ(t.ui.messages[0].style, mb::kIconInformation);
  EXPECT_EQ(t.ui.messages[1].text, "done");
  EXPECT_FALSE(fs::exists(s.ScriptPath()));
}

TEST(Sweeper, NoScriptOneBeepAndNothingElse) {
  Tree t;
  auto before = Snapshot(t.root.path());
  t.Run();
  EXPECT_EQ(t.beepTimes.size(), 1u);
  EXPECT_TRUE(t.ui.messages.empty());
  EXPECT_EQ(Snapshot(t.root.path()), before);
}

TEST(Sweeper, TheSettingsFolderGoesWithItsLastFile) {
  Tree t;
  fs::remove(t.settings / "notes.txt");
  t.Script("d " + (t.settings / "Zumbla.INI").string() + "\n");
  t.Run();
  EXPECT_FALSE(fs::exists(t.settings));
  EXPECT_TRUE(fs::exists(t.home / ".config"));
}

TEST(SweeperProgram, RunsTheScriptWithoutADesktop) {
  Tree t;
  t.Script("d " + (t.install / "MINDEX0.DAT").string() + "\nd " + (t.documents / "precious.txt").string() +
           "\na Il programma  'Kestro'  \xE8 stato disinstallato dal computer.\n");
  auto r = testing::Run({testing::BuiltProgram("kestro-sweeper").string()},
                        {{"ZUMBLA_HOME", t.settings.string()},
                         {"HOME", t.home.string()},
                         {"DISPLAY", ""},
                         {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Message: Il programma  'Kestro'  \xC3\xA8 stato disinstallato dal computer."),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(t.install / "MINDEX0.DAT"));
  EXPECT_TRUE(fs::exists(t.documents / "precious.txt"));
  EXPECT_FALSE(fs::exists(t.settings / kScriptName));
}

}  // namespace
}  // namespace kestro::uninstall
