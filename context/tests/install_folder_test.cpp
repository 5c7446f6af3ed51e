// The first run's install folder and the window's shortcuts, in a throwaway
// home.
#include "context/install_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <set>

#include "context/env.h"
#include "platform/paths.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

// Sets environment variables for the life of the object (unset: nullptr).
using Vars = std::map<std::string, const char*>;

class ScopedEnv {
 public:
  explicit ScopedEnv(const Vars& vars) {
    for (const auto& [k, v] : vars) {
      const char* old = std::getenv(k.c_str());
      saved_[k] = old ? std::optional<std::string>(old) : std::nullopt;
      if (v)
        setenv(k.c_str(), v, 1);
      else
        unsetenv(k.c_str());
    }
  }
  ~ScopedEnv() {
    for (const auto& [k, v] : saved_) {
      if (v)
        setenv(k.c_str(), v->c_str(), 1);
      else
        unsetenv(k.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// A home of its own with the freedesktop variables pointing into it.
struct Home {
  testing::TempDir root;
  fs::path home = root / "home";
  std::string homeText = home.string();
  std::string dataDirs = (root / "usr" / "share").string();
  ScopedEnv env{Vars{{"HOME", homeText.c_str()},
                 {"ZUMBLA_HOME", nullptr},
                 {"XDG_DATA_HOME", nullptr},
                 {"XDG_CONFIG_HOME", nullptr},
                 {"XDG_DATA_DIRS", dataDirs.c_str()}}};
  Home() { fs::create_directories(home); }
};

std::set<std::string> RegularFiles(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file()) names.insert(e.path().filename().string());
  }
  return names;
}

TEST(FirstRun, CopiesExactlyTheShippedFiles) {
  // A file shipped later must be named here too, or the uninstaller would
  // leave it behind.
  std::set<std::string> listed(std::begin(kLaidOutFiles), std::end(kLaidOutFiles));
  EXPECT_EQ(RegularFiles(testing::BuiltDataDir()), listed);
}

TEST(FirstRun, LaysOutTheDefaultFolderOnceAndRecordsIt) {
  Home h;
  ProfileFile settings(SettingsDir() / kProfileName);
  FirstRunResult first = InstallFolderOrFirstRun(settings, testing::BuiltDataDir());
  ASSERT_TRUE(first.installDir.has_value()) << first.problem;
  EXPECT_TRUE(first.laidOut);
  const fs::path expected = h.home / ".local" / "share" / "kestro";
  EXPECT_EQ(*first.installDir, expected);
  EXPECT_EQ(RegularFiles(expected), RegularFiles(testing::BuiltDataDir()));
  EXPECT_EQ(settings.GetString("PATH", "Installpath", "?"), expected.string());
  EXPECT_EQ(settings.Path(), h.home / ".config" / "zumbla" / "Zumbla.INI");

  // The second run finds it and copies nothing.
  fs::remove(expected / "MIDI.DBF");
  FirstRunResult second = InstallFolderOrFirstRun(settings, testing::BuiltDataDir());
  EXPECT_FALSE(second.laidOut);
  EXPECT_EQ(second.installDir, first.installDir);
  EXPECT_FALSE(fs::exists(expected / "MIDI.DBF"));

  // With $ZUMBLA_HOME the folder goes beside the settings.
  ScopedEnv z(Vars{{"ZUMBLA_HOME", (h.root / "z").c_str()}});
  EXPECT_EQ(DefaultInstallDir(), h.root / "z" / "Kestro");
}

TEST(FirstRun, IncompleteShippedDataRecordsNothing) {
  Home h;
  testing::TempDir data;
  for (const char* name : kLaidOutFiles) {
    if (std::string(name) != "genere.dat") fs::copy_file(testing::BuiltDataDir() / name, data / name);
  }
  ProfileFile settings(h.root / "Zumbla.INI");
  FirstRunResult r = InstallFolderOrFirstRun(settings, data.path());
  EXPECT_FALSE(r.installDir.has_value());
  EXPECT_NE(r.problem.find("genere.dat"), std::string::npos);
  EXPECT_FALSE(fs::exists(h.home / ".local" / "share" / "kestro"));
  EXPECT_FALSE(ReadInstallPath(settings).has_value());
}

TEST(UserFolders, DesktopFromUserDirsFile) {
  Home h;
  fs::create_directories(h.home / ".config");
  fs::create_directories(h.home / "Scrivania");
  fs::create_directories(h.home / "Desktop");
  auto userDirs = [&](const std::string& value) {
    testing::WriteFileOrDie(h.home / ".config" / "user-dirs.dirs",
                            "# written by xdg-user-dirs-update\nXDG_MUSIC_DIR=\"$HOME/Musica\"\n"
                            "XDG_DESKTOP_DIR=\"" + value + "\"\n");
  };
  EXPECT_EQ(DesktopDir(), h.home / "Desktop");  // no file: the usual name
  userDirs("$HOME/Scrivania");
  EXPECT_EQ(DesktopDir(), h.home / "Scrivania");
  userDirs((h.home / "Scrivania").string());
  EXPECT_EQ(DesktopDir(), h.home / "Scrivania");
  userDirs("$HOME/");  // the desktop switched off
  EXPECT_EQ(DesktopDir(), std::nullopt);
  userDirs("$HOME/Missing");
  EXPECT_EQ(DesktopDir(), std::nullopt);
  EXPECT_EQ(CurrentUserFolders().applications, h.home / ".local" / "share" / "applications");
}

// Programs of a prefix: bin/kestro and bin/kestro-uninstall.
fs::path FakePrefix(const fs::path& prefix) {
  fs::create_directories(prefix / "bin");
  for (const char* p : {"kestro", "kestro-uninstall"}) {
    testing::WriteFileOrDie(prefix / "bin" / p, "#!/bin/sh\n");
    chmod((prefix / "bin" / p).c_str(), 0755);
  }
  return prefix / "bin";
}

std::map<std::string, std::string> EntryKeys(const fs::path& file) {
  std::map<std::string, std::string> keys;
  std::string text = testing::ReadFileOrEmpty(file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return keys;
}

TEST(Shortcuts, MenuAndDesktopForAProgramOutsideTheMenu) {
  Home h;
  // A prefix whose names need the Exec quoting: a space, a dollar, a percent.
  fs::path bin = FakePrefix(h.home / "my $pre%fix");
  UserFolders folders{h.home / ".local" / "share" / "applications", h.home / "Desktop"};
  fs::create_directories(*folders.desktop);
  // An entry of the user's own under the window's name on the desktop stays.
  testing::WriteFileOrDie(*folders.desktop / kShortcuts[1].file, "[Desktop Entry]\nName=mine\n");

  auto written = MakeShortcuts(folders, bin, testing::BuiltDataDir());
  std::set<fs::path> got(written.begin(), written.end());
  EXPECT_EQ(got, (std::set<fs::path>{folders.applications / kShortcuts[0].file,
                                     folders.applications / kShortcuts[1].file,
                                     *folders.desktop / kShortcuts[0].file}));
  EXPECT_EQ(testing::ReadFileOrEmpty(*folders.desktop / kShortcuts[1].file), "[Desktop Entry]\nName=mine\n");

  auto keys = EntryKeys(folders.applications / kShortcuts[0].file);
  EXPECT_EQ(keys["Exec"], "\"" + (h.home / "my \\\\$pre%%fix" / "bin" / "kestro").string() + "\" %F");
  EXPECT_EQ(keys["MimeType"], "audio/midi;audio/x-midi;");
  EXPECT_EQ(keys["Icon"], (testing::BuiltDataDir() / "art" / "MainIcon.svg").lexically_normal().string());
  EXPECT_TRUE(fs::exists(keys["Icon"]));
  EXPECT_EQ(keys["Name[it]"], "Kestro");
  EXPECT_EQ(EntryKeys(folders.applications / kShortcuts[1].file)["Name[it]"], "Rimuovi Kestro");
  EXPECT_EQ(EntryKeys(folders.applications / kShortcuts[1].file).count("MimeType"), 0u);
  for (const auto& f : written) {
    EXPECT_TRUE(IsFirstRunEntry(f)) << f;
    EXPECT_EQ(fs::status(f).permissions() & fs::perms::owner_exec, fs::perms::owner_exec) << f;
  }
  EXPECT_FALSE(IsFirstRunEntry(*folders.desktop / kShortcuts[1].file));
}

TEST(Shortcuts, TheWindowsFirstRunMakesThemOnce) {
  Home h;
  ShortcutPlaces places{FakePrefix(h.home / "prefix"), {h.home / "apps", h.home / "Desktop"}};
  fs::create_directories(*places.folders.desktop);
  ProfileFile settings(SettingsDir() / kProfileName);
  FirstRunResult first = InstallFolderOrFirstRun(settings, testing::BuiltDataDir(), &places);
  ASSERT_TRUE(first.laidOut) << first.problem;
  const fs::path onDesktop = *places.folders.desktop / kShortcuts[0].file;
  EXPECT_TRUE(IsFirstRunEntry(onDesktop));
  EXPECT_TRUE(IsFirstRunEntry(h.home / "apps" / kShortcuts[1].file));
  // A user who deleted the desktop entry does not get it back.
  fs::remove(onDesktop);
  EXPECT_FALSE(InstallFolderOrFirstRun(settings, testing::BuiltDataDir(), &places).laidOut);
  EXPECT_FALSE(fs::exists(onDesktop));
}

TEST(Shortcuts, AnInstalledMenuEntryIsNotDuplicated) {
  Home h;
  // A system prefix that ships its entries and icon, and a desktop.
  fs::path prefix = h.root / "usr";
  fs::path bin = FakePrefix(prefix);
  for (const auto& s : kShortcuts) testing::WriteFileOrDie(prefix / "share" / "applications" / s.file, "x");
  testing::WriteFileOrDie(prefix / "share" / "icons" / "hicolor" / "scalable" / "apps" / "com.example.zumbla.kestro.svg",
                          "<svg/>");
  UserFolders folders{h.home / ".local" / "share" / "applications", h.home / "Desktop"};
  fs::create_directories(*folders.desktop);
  EXPECT_TRUE(MenuServedByInstallation(kShortcuts[0], bin));

  auto written = MakeShortcuts(folders, bin, prefix / "share" / "kestro");
  EXPECT_EQ(written, std::vector<fs::path>{*folders.desktop / kShortcuts[0].file});
  EXPECT_FALSE(fs::exists(folders.applications));
  EXPECT_EQ(EntryKeys(written[0])["Icon"], "com.example.zumbla.kestro");

  // Not a folder the menu reads: the first run serves the menu itself.
  ScopedEnv other(Vars{{"XDG_DATA_DIRS", "/nowhere"}});
  EXPECT_FALSE(MenuServedByInstallation(kShortcuts[0], bin));
}

}  // namespace
}  // namespace kestro
