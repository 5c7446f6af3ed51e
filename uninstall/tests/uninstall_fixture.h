// A user's Kestro in a throwaway home, as the first run and some use leave
// it, with the uninstaller's surroundings faked where they reach outside:
// the clock (virtual, with a hook for programs that watch the settings
// while the uninstaller waits) and the start of the sweeper (run in this
// process on the same files).
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "context/install_folder.h"
#include "context/shortcuts.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"
#include "uninstall/removal_script.h"
#include "uninstall/sweeper.h"
#include "uninstall/uninstaller.h"

namespace kestro::uninstall::testfixture {

namespace fs = std::filesystem;

// A virtual clock that lets other "programs" act whenever the uninstaller
// pauses.
class WatchedClock final : public Clock {
 public:
  uint64_t NowMs() override { return inner.NowMs(); }
  void SleepMs(uint32_t ms) override {
    inner.SleepMs(ms);
    if (onSleep) onSleep();
  }
  uint64_t SleptMs() const { return inner.SleptMs(); }
  std::function<void()> onSleep;
  VirtualClock inner;
};

// Starts the sweeper by running it here, to the end, on the same home.
class SweeperStarter final : public ProcessStarter {
 public:
  SweeperStarter(const fs::path& home, const fs::path& settings) : home_(home), settings_(settings) {}
  bool Start(const fs::path& program, const std::vector<std::string>& args) override {
    started.push_back(program);
    scripts.push_back(testing::ReadFileOrEmpty(settings_ / kScriptName));
    ProfileFile profile(settings_ / kProfileName);
    Sweeper s(ui, clock, [] {}, {SafeInstallRoot(ReadInstallFolder(profile), home_, settings_), settings_});
    s.Run();
    (void)args;
    return true;
  }
  std::vector<fs::path> started;
  std::vector<std::string> scripts;  // the script as the sweeper found it
  ScriptedUi ui;                     // the sweeper's messages
  VirtualClock clock;

 private:
  fs::path home_, settings_;
};

// Every file and folder under `root` (links as links).
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> m;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = it->path().lexically_relative(root).string();
    m[rel] = it->is_symlink() ? "link" : it->is_directory() ? "folder" : testing::ReadFileOrEmpty(it->path());
  }
  return m;
}

// The regular files under `root`, relative.
inline std::vector<std::string> Files(const fs::path& root) {
  std::vector<std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file() || it->is_symlink()) files.push_back(it->path().lexically_relative(root).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct UserHome {
  testing::TempDir root;
  fs::path home = root / "home";
  fs::path settingsDir = home / ".config" / "zumbla";
  fs::path install = home / ".local" / "share" / "kestro";
  fs::path programs = home / ".local" / "bin";
  UserFolders folders{home / ".local" / "share" / "applications", home / "Desktop"};
  ProfileFile settings{settingsDir / kProfileName};
  ScriptedUi ui;
  WatchedClock clock;
  SweeperStarter starter{home, settingsDir};
  Dictionary dict;

  // firstRun: the install folder laid out and the shortcuts made, as the
  // window's first run does; then a session's files.
  explicit UserHome(bool firstRun = true) {
    fs::create_directories(*folders.desktop);
    testing::WriteFileOrDie(*folders.desktop / "todo.txt", "the user's");
    testing::WriteFileOrDie(home / "Music" / "Outside.MF4", "a song of the user's");
    for (const char* p : {"kestro", "kestro-uninstall"}) {
      testing::WriteFileOrDie(programs / p, "#!/bin/sh\n");
      chmod((programs / p).c_str(), 0755);
    }
    if (!firstRun) return;
    LayOutInstallFolder(testing::BuiltDataDir(), install, settings);
    MakeShortcuts(folders, programs, testing::BuiltDataDir());
    for (const char* made : {"MINDEX0.DAT", "MINDEX2.DAT", "MALPHA0.DAT", "MSETUP.DAT", "FormatFresh.html",
                             "ZUMBLA2.MHX", "TEMP.MID"})
      testing::WriteFileOrDie(install / made, made);
    testing::WriteFileOrDie(install / "Volare.MF4", "song");
    testing::WriteFileOrDie(install / "Azzurro.mp3", "song");
    settings.WriteString("SETTINGS", "CURRLANGUAGE", "ENGLISH");
  }

  void LoadDictionary() {
    LoadUninstallDictionary(dict, ReadInstallFolder(settings), settings, testing::BuiltDataDir(), ui);
  }

  Places MakePlaces(bool systemWide = false) const {
    return {settingsDir, folders, programs / "kestro-sweeper", systemWide};
  }
};

}  // namespace kestro::uninstall::testfixture
