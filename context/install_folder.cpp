#include "context/install_folder.h"

#include <cstdlib>
#include <system_error>

#include "context/env.h"
#include "context/settings_keys.h"
#include "platform/paths.h"

namespace kestro {

namespace fs = std::filesystem;

fs::path DefaultInstallDir() {
  if (const char* z = std::getenv("ZUMBLA_HOME"); z && *z) return fs::path(z) / "Kestro";
  return DataHomeDir() / "kestro";
}

std::string LayOutInstallFolder(const fs::path& dataDir, const fs::path& dir, ProfileFile& settings) {
  std::error_code ec;
  // All shipped files must be there before anything is copied: a folder
  // without its dictionary would be recorded as an installation that cannot
  // start.
  for (const char* name : kLaidOutFiles) {
    if (!fs::is_regular_file(dataDir / name, ec)) return "shipped data not found: " + (dataDir / name).string();
  }
  fs::create_directories(dir, ec);
  if (ec) return "cannot create " + dir.string() + ": " + ec.message();
  for (const char* name : kLaidOutFiles) {
    fs::copy_file(dataDir / name, dir / name, fs::copy_options::overwrite_existing, ec);
    if (ec) return "cannot copy " + (dataDir / name).string() + ": " + ec.message();
  }
  if (!settings.WriteString(settings::kInstallPath.section, settings::kInstallPath.name, dir.string()))
    return "cannot write " + settings.Path().string();
  return "";
}

FirstRunResult InstallFolderOrFirstRun(ProfileFile& settings, const fs::path& dataDir, const ShortcutPlaces* shortcuts) {
  FirstRunResult r;
  r.installDir = ReadInstallPath(settings);
  if (r.installDir) return r;
  std::error_code ec;
  fs::path dir = fs::absolute(DefaultInstallDir(), ec);
  r.problem = LayOutInstallFolder(dataDir, dir, settings);
  if (!r.problem.empty()) return r;
  r.installDir = dir;
  r.laidOut = true;
  if (shortcuts) MakeShortcuts(shortcuts->folders, shortcuts->programDir, dataDir);
  return r;
}

}  // namespace kestro
