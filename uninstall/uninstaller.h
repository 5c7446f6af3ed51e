// The uninstaller's work around its dialog. It asks a running Kestro (and
// the USB agent) to close, asks once more before deleting anything, removes
// the shortcuts that the first run made, writes the removal script and
// starts the sweeper, which carries the script out once the uninstaller has
// ended (so that the install folder can go too). What it removes is the
// user's own Kestro: the install folder's files, the settings and the
// shortcuts. The songs of the PC song folder stay unless they lie in the
// install folder and the user agrees to lose them. The programs of a system
// installation belong to the package manager.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "context/dictionary.h"
#include "context/shortcuts.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace kestro::uninstall {

// How the package is removed, told when the programs belong to one.
inline constexpr const char* kPackageRemoval = "sudo apt remove kestro";

// What one run works on.
struct Places {
  std::filesystem::path settingsDir;  // the folder of Zumbla.INI; the script goes there
  UserFolders folders;                // the user's menu and desktop
  std::filesystem::path sweeper;      // the script runner
  bool systemWide = false;            // the programs belong to the system's package
};

// True when the programs in `programDir` are those of the system's package:
// the package installs them into /usr/bin, where only the package manager
// puts programs (a build installed by hand goes to /usr/local or the home).
bool FromSystemPackage(const std::filesystem::path& programDir);

// PATH/"Installpath", "??" when the key is missing.
std::string ReadInstallFolder(const ProfileFile& settings);
// The install folder as a folder that paths can be built on: nothing for
// "??" or any other value that is not an absolute path.
std::optional<std::filesystem::path> UsableInstallFolder(const std::string& value);

// The dictionary of the install folder; when the folder has none (a first
// run never happened, or it was removed), the shipped one. A damaged
// dictionary shows the loader's message; without any the texts read as
// their "String Error" forms and the run goes on.
void LoadUninstallDictionary(Dictionary& dict, const std::string& installFolder, ProfileFile& settings,
                             const std::filesystem::path& shippedDataDir, Ui& ui);

class Uninstaller {
 public:
  // The shutdown handshake: this many polls, this far apart.
  static constexpr int kPolls = 50;
  static constexpr uint32_t kPollMs = 100;
  // Pause after the dialog before the closing word.
  static constexpr uint32_t kAfterDialogMs = 2000;

  Uninstaller(Ui& ui, Clock& clock, ProfileFile& settings, const Dictionary& dict, ProcessStarter& starter,
              Places places);

  // What the dialog's OK runs: handshake, question, shortcuts, script,
  // sweeper (started also when the user said Cancel at the question).
  void Removal();
  // After the dialog ended with `result` (1 OK, 0 Cancel).
  void AfterDialog(int result);

  // Asks Kestro and the USB agent to close; true when both answered within
  // kPolls polls. Both keys are 0 afterwards either way.
  bool ShutdownHandshake();
  // The removal script; `songs`: the PC songs in the install folder go too.
  std::vector<std::string> ScriptLines(bool songs) const;
  // The PC songs that lie in the install folder (none when the PC song
  // folder is elsewhere).
  std::vector<std::filesystem::path> SongsInInstallFolder() const;
  void RemoveShortcuts();

 private:
  Ui& ui_;
  Clock& clock_;
  ProfileFile& settings_;
  const Dictionary& dict_;
  ProcessStarter& starter_;
  Places places_;
  std::string installFolder_;
};

}  // namespace kestro::uninstall
