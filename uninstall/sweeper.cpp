#include "uninstall/sweeper.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <system_error>

#include "context/settings_keys.h"
#include "platform/paths.h"
#include "uninstall/confined_remove.h"
#include "uninstall/removal_script.h"

namespace kestro::uninstall {

namespace fs = std::filesystem;

namespace {

// The suite's own files in the settings folder.
bool IsSuiteSettingsFile(const std::string& name) {
  return name == kProfileName || name == std::string(kProfileName) + ".lock" || name == kScriptName;
}

std::string WithoutTrailingSeparators(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

std::optional<fs::path> SafeInstallRoot(std::string_view value, const fs::path& home, const fs::path& settingsDir) {
  fs::path root(WithoutTrailingSeparators(fs::path(value).lexically_normal().string()));
  if (!root.is_absolute() || root == root.root_path()) return std::nullopt;
  // A folder that holds the home (or is it) holds all of the user's files;
  // one that holds the settings folder holds the other programs' settings.
  if (IsWithin(home, root)) return std::nullopt;
  if (IsWithin(settingsDir, root) && !IsWithin(root, settingsDir)) return std::nullopt;
  return root;
}

SweepRoots RootsFromSettings(const fs::path& settingsDir, const ProfileFile& settings) {
  std::string value = settings.GetString(settings::kInstallPath.section, settings::kInstallPath.name, "??",
                                         static_cast<size_t>(settings::kInstallPath.size));
  return {SafeInstallRoot(value, HomeDir(), settingsDir), settingsDir};
}

Sweeper::Sweeper(Ui& ui, Clock& clock, std::function<void()> beep, SweepRoots roots)
    : ui_(ui), clock_(clock), beep_(std::move(beep)), roots_(std::move(roots)) {}

fs::path Sweeper::ScriptPath() const { return roots_.settingsDir / kScriptName; }

bool Sweeper::Remove(const fs::path& path, bool folder) {
  const Removal kind = folder ? Removal::EmptyFolder : Removal::File;
  if (roots_.installDir && RemoveInside(*roots_.installDir, path, kind)) return true;
  // In the settings folder, its suite files only.
  fs::path settings(WithoutTrailingSeparators(roots_.settingsDir.lexically_normal().string()));
  if (!folder && path.parent_path() == settings && IsSuiteSettingsFile(path.filename().string()))
    return RemoveInside(settings, path, Removal::File);
  return false;
}

void Sweeper::CarryOut(std::string_view line) {
  if (!IsCleanLine(line)) return;
  auto l = ParseLine(line);
  if (!l) return;
  switch (l->letter) {
    case 'a':
      ui_.SystemMessage(l->argument, "Message", mb::kIconInformation);
      break;
    case 'd':
      Remove(fs::path(l->argument), false);
      break;
    case 'r':
      Remove(fs::path(l->argument), true);
      break;
    case 's': {
      // The leading decimal digits, as the C library reads them.
      uint64_t ms = 0;
      for (char c : l->argument) {
        if (c < '0' || c > '9') break;
        ms = std::min<uint64_t>(ms * 10 + static_cast<uint64_t>(c - '0'), kMaxPauseMs);
      }
      beep_();
      clock_.SleepMs(static_cast<uint32_t>(ms));
      beep_();
      break;
    }
    case 'g':
      // There is no registry here: the line is only checked.
      if (!ParseRegistryArgument(l->argument))
        ui_.SystemMessage("Syntax error in registry deletion", "Syntax error", mb::kIconStop);
      break;
    default:
      break;
  }
}

void Sweeper::Run() {
  beep_();
  const fs::path script = ScriptPath();
  if (std::FILE* f = std::fopen(script.c_str(), "rb")) {
    std::string line;
    bool overlong = false;  // a line too long to hold is dropped whole, not taken in pieces
    for (int c; (c = std::fgetc(f)) != EOF;) {
      if (c == '\n') {
        if (!overlong) CarryOut(line);
        line.clear();
        overlong = false;
      } else if (!overlong) {
        line += static_cast<char>(c);
        if (line.size() > kMaxLineChars) {
          overlong = true;
          line.clear();
        }
      }
    }
    if (!overlong && !line.empty()) CarryOut(line);
    std::fclose(f);
  }
  Remove(script, false);
  RemoveInside(roots_.settingsDir, roots_.settingsDir, Removal::EmptyFolder);
}

}  // namespace kestro::uninstall
