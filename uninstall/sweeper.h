// The script runner: carries out the removal script that the uninstaller
// left in the settings folder, after the uninstaller has ended, then deletes
// the script. It has no window of its own: it beeps, shows the script's
// message lines, and reports nothing but a registry line's syntax errors.
// Every command is fire and forget: what cannot be deleted stays, and the
// next line follows.
//
// It deletes only inside the folders the script was made for: the install
// folder that the settings name, and the suite's own files in the settings
// folder. Lines that could not have come from the uninstaller (too long,
// control characters, relative paths, "..", a way through a symbolic link)
// are passed over without a word.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/ui.h"

namespace kestro::uninstall {

// The folders a script may touch.
struct SweepRoots {
  // Nothing when the settings name no install folder, or one that would let
  // a script reach the user's other files (see SafeInstallRoot).
  std::optional<std::filesystem::path> installDir;
  std::filesystem::path settingsDir;
};

// An install folder a script may delete in: an absolute path that is not
// "/", the home folder, nor a folder holding the home or settings folder.
std::optional<std::filesystem::path> SafeInstallRoot(std::string_view value, const std::filesystem::path& home,
                                                     const std::filesystem::path& settingsDir);
// The roots of the current user: PATH/"Installpath" of `settings` and the
// settings folder.
SweepRoots RootsFromSettings(const std::filesystem::path& settingsDir, const ProfileFile& settings);

class Sweeper {
 public:
  // The longest pause a script can ask for: a longer (or garbled) value
  // would leave the runner waiting unseen.
  static constexpr uint32_t kMaxPauseMs = 60000;

  Sweeper(Ui& ui, Clock& clock, std::function<void()> beep, SweepRoots roots);

  // Beep, carry out the script (when there is one), delete it and, when that
  // leaves the settings folder empty, the folder too.
  void Run();
  // One line as read, without its line feed.
  void CarryOut(std::string_view line);

  std::filesystem::path ScriptPath() const;

 private:
  bool Remove(const std::filesystem::path& path, bool folder);

  Ui& ui_;
  Clock& clock_;
  std::function<void()> beep_;
  SweepRoots roots_;
};

}  // namespace kestro::uninstall
