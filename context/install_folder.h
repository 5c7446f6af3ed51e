// A user's install folder: where the first run puts it, what it copies there
// from the shipped data, and every file that Kestro's operations leave in
// it. The window, the command-line tool and the uninstaller all take these
// names from here, so that the uninstaller removes what the others made.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "context/shortcuts.h"
#include "platform/profile.h"

namespace kestro {

// What the first run copies from the shipped data (DICT.DIC first: without
// it no program starts).
inline constexpr const char* kLaidOutFiles[] = {"DICT.DIC",   "MBRPBR.DAT", "MIDI.DBF",      "Artist.dat",
                                                "genere.dat", "Kestro.html", "Kestro_en.html"};

// Files that the operations write into the install folder beside those: the
// local copies of the card's index and setup files, the firmware files and
// their backup, the card report, the card templates and the conversion's
// intermediate files (these last go at the end of each import, but stay when
// an import was cut short), and the decoded dictionary that stays when a
// dictionary is damaged.
inline constexpr const char* kMadeFiles[] = {
    "ZUMBLA.MHX",  "ZUMBLA2.MHX",  "ZUMBLA.tmp",     "FormatFresh.html", "MALPHA0.DAT", "MALPHA2.DAT",
    "MINDEX0.DAT", "MINDEX2.DAT",  "MINDEX4.DAT",    "MSETUP.DAT",       "SETUPDEF.DAT", "EMPTY.DAT",
    "SETUP.DAT",   "MINUS1FILE.DAT", "TEMP.DIC",     "0.MID",            "TEMP.MIT",    "TEMP.MID",
    "pre.MID",     "midi.tmp",     "WB.MID",         "Tune1000.MID",     "TEXT.TXT",    "LOGILE.TXT"};

// The folder a first run chooses: $ZUMBLA_HOME/Kestro when the settings
// folder is set that way, else the user's data folder's "kestro"
// (~/.local/share/kestro).
std::filesystem::path DefaultInstallDir();

// Copies the shipped files from `dataDir` into `dir` (made when missing) and
// records `dir` as PATH/"Installpath" in the settings. Returns an empty text
// on success, else what went wrong; a failure records nothing.
std::string LayOutInstallFolder(const std::filesystem::path& dataDir, const std::filesystem::path& dir,
                                ProfileFile& settings);

// Where the window's first run puts its shortcuts.
struct ShortcutPlaces {
  std::filesystem::path programDir;  // where the suite's programs are
  UserFolders folders;
};

struct FirstRunResult {
  std::optional<std::filesystem::path> installDir;  // nothing: no installation
  bool laidOut = false;                              // this call made it
  std::string problem;                               // why there is none
};

// The install folder that the settings name; without one, the first run lays
// out the default folder from the shipped data in `dataDir` (share/kestro of
// the build tree or of the installed prefix: ShippedDataDir), without
// asking, and records it. The window also makes its shortcuts (`shortcuts`);
// the command-line tool does not.
FirstRunResult InstallFolderOrFirstRun(ProfileFile& settings, const std::filesystem::path& dataDir,
                                       const ShortcutPlaces* shortcuts = nullptr);

}  // namespace kestro
