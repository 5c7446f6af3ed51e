// Where the suite keeps its files on this machine.
#pragma once

#include <filesystem>

namespace kestro {

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

}  // namespace kestro
