// Where the suite keeps its files on this machine.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace kestro {

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path HomeDir();

// The settings folder: $ZUMBLA_HOME when set, else ~/.config/zumbla. It plays
// the part of the Windows directory for every program of the suite.
std::filesystem::path SettingsDir();
// Zumbla.INI in the settings folder.
std::filesystem::path ProfilePath();
inline constexpr const char* kProfileName = "Zumbla.INI";

// The folder of the running program.
std::filesystem::path ExecutableDir();
// The data that ships with the programs (DICT.DIC, MBRPBR.DAT, ...):
// $KESTRO_DATA_DIR when set, else ../share/kestro beside the program.
std::filesystem::path ShippedDataDir();

// The folders of the freedesktop base directories: the user's data folder
// ($XDG_DATA_HOME, else ~/.local/share) and the system's ($XDG_DATA_DIRS,
// else /usr/local/share and /usr/share), in that order of precedence.
std::filesystem::path DataHomeDir();
std::vector<std::filesystem::path> SystemDataDirs();
// The user's desktop folder as the user-dirs.dirs file of the configuration
// folder names it (XDG_DESKTOP_DIR), else ~/Desktop; nothing when it does not
// exist or is the home folder itself (a desktop switched off).
std::optional<std::filesystem::path> DesktopDir();

// True when `path` is `folder` or lies inside it, compared component by
// component after lexical normalisation (no file system access).
bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& folder);

}  // namespace kestro
