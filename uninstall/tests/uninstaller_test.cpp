// The uninstaller's removal in a throwaway home, with the sweeper run on the
// same files: what goes, what stays, and the handshake with a running
// Kestro.
#include "uninstall/uninstaller.h"

#include <gtest/gtest.h>

#include "context/env.h"
#include "shell/app.h"
#include "uninstall/tests/uninstall_fixture.h"

namespace kestro::uninstall {
namespace {

using namespace testfixture;

TEST(Uninstaller, OkThenCancelAtTheQuestionWritesNoScriptButStartsTheSweeper) {
  UserHome h;
  h.LoadDictionary();
  auto before = Tree(h.home);
  Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
  h.ui.answers = {kIdCancel};
  u.Removal();
  u.AfterDialog(1);

  ASSERT_GE(h.ui.messages.size(), 1u);
  const auto& question = h.ui.messages[0];
  EXPECT_EQ(question.text, "Percorso per l'installazione \xE8:'" + h.install.string() + "'\nCancellare tutto ora?\n");
  EXPECT_EQ(question.caption, "Setup");
  EXPECT_EQ(question.style, mb::kIconQuestion | mb::kOkCancel);
  EXPECT_EQ(question.kind, BoxKind::System);
  EXPECT_EQ(h.starter.started, std::vector<fs::path>{h.programs / "kestro-sweeper"});
  EXPECT_EQ(h.starter.scripts, std::vector<std::string>{""});
  // Nothing deleted; the settings file only carries the handshake keys at 0.
  auto after = Tree(h.home);
  before.erase(".config/zumbla/Zumbla.INI");
  after.erase(".config/zumbla/Zumbla.INI");
  EXPECT_EQ(after, before);
  EXPECT_EQ(h.settings.GetInt("SETTINGS", "zumagentshutdown", -1), 0);
  EXPECT_EQ(h.settings.GetInt("SETTINGS", "KestroShutDown", -1), 0);
  // In place of the restart question, one line.
  ASSERT_EQ(h.ui.messages.size(), 2u);
  EXPECT_EQ(h.ui.messages[1].text, "Nothing needs restarting.");
  EXPECT_EQ(h.ui.messages[1].style, mb::kIconInformation);
}

TEST(Uninstaller, AFullRunLeavesNoFileKestroMadeAndKeepsTheSongsUnlessAsked) {
  for (bool deleteSongs : {false, true}) {
    SCOPED_TRACE(deleteSongs ? "songs deleted" : "songs kept");
    UserHome h;
    h.LoadDictionary();
    Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
    h.ui.answers = {kIdOk, deleteSongs ? kIdYes : kIdNo};
    u.Removal();
    u.AfterDialog(1);

    ASSERT_EQ(h.ui.messages.size(), 3u);
    EXPECT_EQ(h.ui.messages[1].text,
              "The PC song folder '" + h.install.string() + "' holds 2 songs. \nDelete the songs too?");
    EXPECT_EQ(h.ui.messages[1].style, mb::kIconQuestion | mb::kYesNo | mb::kDefButton2);
    ASSERT_EQ(h.starter.started.size(), 1u);
    const std::string& script = h.starter.scripts[0];
    EXPECT_EQ(script.rfind("s 3000\n", 0), 0u);
    EXPECT_NE(script.find("\na Il programma  'Kestro'  \xE8 stato disinstallato dal computer.\n"), std::string::npos);
    EXPECT_EQ(h.starter.ui.messages.size(), 1u);

    // What is left in the home: the user's own files, and the songs of the
    // install folder unless the user let them go.
    std::vector<std::string> left = {".local/share/kestro/Azzurro.mp3", ".local/share/kestro/Volare.MF4",
                                     "Desktop/todo.txt", "Music/Outside.MF4"};
    if (deleteSongs) left = {"Desktop/todo.txt", "Music/Outside.MF4"};
    std::vector<std::string> files = Files(h.home);
    // The programs are the package manager's or the user's business.
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const std::string& f) { return f.rfind(".local/bin/", 0) == 0; }),
                files.end());
    EXPECT_EQ(files, left);
    EXPECT_EQ(fs::exists(h.install), !deleteSongs);
    EXPECT_FALSE(fs::exists(h.settingsDir));
  }
}

TEST(Uninstaller, SongsOutsideTheInstallFolderAreNotAskedForAndStay) {
  UserHome h;
  h.settings.WriteString("PATH", "OLD_MF4", (h.home / "Music").string());
  h.settings.WriteString("PATH", "NEW_MF4", (h.install / "incoming").string());
  fs::create_directories(h.install / "incoming");
  h.LoadDictionary();
  Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
  h.ui.answers = {kIdOk};
  u.Removal();
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_TRUE(fs::exists(h.home / "Music" / "Outside.MF4"));
  EXPECT_EQ(h.starter.scripts[0].find("Music"), std::string::npos);
  // An empty song folder made inside the install folder goes with it; the
  // songs that the install folder holds stay, and so does the folder.
  EXPECT_FALSE(fs::exists(h.install / "incoming"));
  EXPECT_EQ(Files(h.install), (std::vector<std::string>{"Azzurro.mp3", "Volare.MF4"}));
}

TEST(Uninstaller, WithoutTheInstallFolderKeyNothingIsBuiltOnIt) {
  UserHome h(false);
  h.settings.WriteString("SETTINGS", "CURRLANGUAGE", "ENGLISH");
  // A folder really named "??" beside the program.
  testing::WriteFileOrDie(h.root / "??" / "MINDEX0.DAT", "not kestro's");
  const fs::path cwd = fs::current_path();
  fs::current_path(h.root.path());
  h.LoadDictionary();
  // The shipped dictionary serves the texts.
  EXPECT_EQ(h.dict.GetText("UNINSTALL_IDOK"), "Uninstall");
  Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
  h.ui.answers = {kIdOk};
  u.Removal();
  fs::current_path(cwd);
  EXPECT_EQ(h.ui.messages[0].text, "Percorso per l'installazione \xE8:'?\?'\nCancellare tutto ora?\n");
  EXPECT_EQ(h.starter.scripts[0], "s 3000\nd " + (h.settingsDir / "Zumbla.INI").string() + "\nd " +
                                      (h.settingsDir / "Zumbla.INI.lock").string() +
                                      "\na Il programma  'Kestro'  \xE8 stato disinstallato dal computer.\n");
  EXPECT_TRUE(fs::exists(h.root / "??" / "MINDEX0.DAT"));
  EXPECT_FALSE(fs::exists(h.settingsDir));
}

TEST(Uninstaller, ASystemPackageIsLeftToThePackageManager) {
  UserHome h;
  h.LoadDictionary();
  Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces(true));
  u.AfterDialog(1);
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_EQ(h.ui.messages[0].text,
            "Nothing needs restarting.\nKestro's programs belong to a system package: \nthe package manager removes "
            "them (sudo apt remove kestro).");
  EXPECT_EQ(h.clock.SleptMs(), Uninstaller::kAfterDialogMs);
  // Cancelled: only the pause.
  u.AfterDialog(0);
  EXPECT_EQ(h.ui.messages.size(), 1u);
  EXPECT_EQ(h.clock.SleptMs(), 2 * Uninstaller::kAfterDialogMs);
}

TEST(Uninstaller, OnlyTheSystemPackagesProgramsAreThePackageManagers) {
  EXPECT_TRUE(FromSystemPackage("/usr/bin"));
  EXPECT_TRUE(FromSystemPackage("/usr/lib/../bin"));
  EXPECT_FALSE(FromSystemPackage("/usr/local/bin"));
  EXPECT_FALSE(FromSystemPackage(testing::BuiltProgram("kestro-uninstall").parent_path()));
}

TEST(Uninstaller, ShutdownHandshake) {
  // Kestro's side: the window's tick every 1.5 s, on the same settings file;
  // the USB agent answers at its first look.
  struct Watchers {
    bool kestro;
    bool agent;
    bool answered;
    uint64_t maxSleptMs;
  } cases[] = {
      {true, true, true, 1600},
      {false, false, false, 5000},
      {true, false, false, 5000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.kestro) + std::to_string(c.agent));
    UserHome h;
    Env kestroEnv{h.ui, h.clock, h.settings, h.dict, h.install};
    bool kestroRunning = c.kestro;
    uint64_t lastTick = h.clock.NowMs();
    int askedSeen = 0;
    h.clock.onSleep = [&] {
      if (h.settings.GetInt("SETTINGS", "KestroShutDown", 0) == 1) ++askedSeen;
      if (kestroRunning && h.clock.NowMs() - lastTick >= 1500) {
        lastTick = h.clock.NowMs();
        if (ShutdownRequested(kestroEnv)) {
          kestroRunning = false;
          WriteExitKeys(kestroEnv);
        }
      }
      if (c.agent && h.settings.GetInt("SETTINGS", "zumagentshutdown", 0) == 1)
        h.settings.WriteString("SETTINGS", "zumagentshutdown", "0");
    };
    Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
    EXPECT_EQ(u.ShutdownHandshake(), c.answered);
    EXPECT_GT(askedSeen, 0);
    EXPECT_LE(h.clock.SleptMs(), c.maxSleptMs);
    if (!c.answered) {
      EXPECT_EQ(h.clock.SleptMs(), Uninstaller::kPolls * Uninstaller::kPollMs);
    }
    EXPECT_FALSE(kestroRunning);
    EXPECT_EQ(h.settings.GetInt("SETTINGS", "zumagentshutdown", -1), 0);
    EXPECT_EQ(h.settings.GetInt("Settings", "KESTROSHUTDOWN", -1), 0);
  }
}

TEST(Uninstaller, TheScriptNamesEveryFileKestroLeavesInTheInstallFolder) {
  UserHome h;
  Uninstaller u(h.ui, h.clock, h.settings, h.dict, h.starter, h.MakePlaces());
  std::string script;
  for (const auto& l : u.ScriptLines(false)) script += l;
  for (const char* name : kLaidOutFiles) EXPECT_NE(script.find("d " + (h.install / name).string() + "\n"), std::string::npos) << name;
  for (const char* name : kMadeFiles) EXPECT_NE(script.find("d " + (h.install / name).string() + "\n"), std::string::npos) << name;
  // The order of the first lines: the pause, the firmware, the index copies,
  // then the settings file.
  EXPECT_EQ(script.rfind("s 3000\nd " + (h.install / "ZUMBLA.MHX").string() + "\nd " +
                             (h.install / "ZUMBLA2.MHX").string() + "\nd " + (h.install / "FormatFresh.html").string(),
                         0),
            0u);
  EXPECT_LT(script.find("MINDEX4.DAT"), script.find("Zumbla.INI"));
  EXPECT_LT(script.find("Zumbla.INI"), script.find("MBRPBR.DAT"));
  EXPECT_NE(script.find("\nr " + (h.install / "Download").string() + "\nr " + h.install.string() + "\na "),
            std::string::npos);
}

}  // namespace
}  // namespace kestro::uninstall
