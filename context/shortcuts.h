// The suite's shortcuts: freedesktop desktop entries in the user's
// applications menu and on the desktop. The window's first run makes them
// for the user, the uninstaller removes them. The menu entry of the window
// also offers Kestro in the file manager's "Open with" for MIDI and karaoke
// files. A system installation ships its own menu entries; the first run
// then leaves the menu to them, so that the menu shows Kestro once.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

struct Shortcut {
  const char* file;       // desktop-entry file name, also its desktop-file id
  const char* program;    // the program it starts, beside the other programs
  const char* name;       // English name; the Italian one follows
  const char* nameIt;
  const char* comment;
  const char* commentIt;
  const char* mimeTypes;  // files it opens ("" none)
  bool onDesktop;         // also on the desktop
};

// The window, also on the desktop; the uninstaller, in the menu only.
inline constexpr Shortcut kShortcuts[] = {
    {"com.example.zumbla.kestro.desktop", "kestro", "Kestro", "Kestro",
     "Move songs between the PC and the Zumbla karaoke player", "Canzoni tra il PC e il lettore karaoke Zumbla",
     "audio/midi;audio/x-midi;", true},
    {"com.example.zumbla.kestro-uninstall.desktop", "kestro-uninstall", "Uninstall Kestro", "Rimuovi Kestro",
     "Remove Kestro's files from this computer", "Rimuove i file di Kestro dal computer", "", false},
};

// The icon's name in the icon theme, as the package installs it.
inline constexpr const char* kIconName = "com.example.zumbla.kestro";
// The line by which an entry tells that a first run made it (and an
// uninstaller may remove it).
inline constexpr const char* kFirstRunMark = "X-Kestro-FirstRun=true";

// Where the entries of one user go.
struct UserFolders {
  std::filesystem::path applications;            // the menu: <data home>/applications
  std::optional<std::filesystem::path> desktop;  // nothing: no desktop folder
};
// The current user's folders (DataHomeDir, DesktopDir).
UserFolders CurrentUserFolders();

// True when the installation of the programs in `programDir` ships the
// entry itself in a folder of the menu (<prefix>/share/applications, with
// <prefix>/share one of the data folders the menu reads).
bool MenuServedByInstallation(const Shortcut& s, const std::filesystem::path& programDir);

// The text of the entry for the program in `programDir`; its icon is the
// theme's when the installation has one, else the picture in `dataDir`.
std::string DesktopEntryText(const Shortcut& s, const std::filesystem::path& programDir,
                             const std::filesystem::path& dataDir);

// Makes the entries of the programs that exist in `programDir`: in the menu
// unless the installation serves it, on the desktop where the record says
// so and the user has a desktop. Returns the files written.
std::vector<std::filesystem::path> MakeShortcuts(const UserFolders& folders, const std::filesystem::path& programDir,
                                                 const std::filesystem::path& dataDir);

// True when `path` is a desktop entry (not a link) that a first run made.
bool IsFirstRunEntry(const std::filesystem::path& path);

}  // namespace kestro
