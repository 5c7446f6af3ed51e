// Every key of Zumbla.INI that the suite reads or writes, with its section,
// type and default, named in one place.
#pragma once

#include <string_view>

namespace kestro::settings {

enum class Type { Text, Int, Struct };

struct Key {
  std::string_view section;
  std::string_view name;
  Type type;
  std::string_view textDefault;  // Text keys ("" also for "the install folder")
  int intDefault;                // Int keys
  int size;                      // characters (Text) or bytes (Struct)
};

// Language section of the dictionary.
inline constexpr Key kCurrLanguage{"SETTINGS", "CURRLANGUAGE", Type::Text, "ITALIANO", 0, 63};
// Install folder; "?" means no installation at start-up.
inline constexpr Key kInstallPath{"PATH", "Installpath", Type::Text, "?", 0, 256};
// Nonzero while another program uses the player.
inline constexpr Key kUsbAgent{"SETTINGS", "USB_Agent", Type::Int, "", 0, 0};
// Liveness counter that Kestro writes on every tick.
inline constexpr Key kKestroActive{"SETTINGS", "KESTROACTIVE", Type::Int, "", 0, 0};
// Another program asks Kestro to close.
inline constexpr Key kKestroShutdown{"Settings", "KESTROSHUTDOWN", Type::Int, "", 0, 0};
// New songs were placed in the PC song folders.
inline constexpr Key kNewSongs{"SETTINGS", "NEWSONGS", Type::Int, "", 0, 0};
// Set to 1 whenever the songs on the player or its card change.
inline constexpr Key kMediaChange{"Settings", "mediaChange", Type::Int, "", 0, 0};
// Folder of a card in a PC card reader.
inline constexpr Key kFlashDrive{"PATH", "Flashdrive", Type::Text, "", 0, 256};
// PC song folders; empty default means the install folder.
inline constexpr Key kOldMf4{"PATH", "OLD_MF4", Type::Text, "", 0, 256};
inline constexpr Key kNewMf4{"PATH", "NEW_MF4", Type::Text, "", 0, 256};
inline constexpr Key kDownloadMf4{"PATH", "DOWNLOAD_MF4", Type::Text, "", 0, 256};
// Folder last used by the import chooser.
inline constexpr Key kImportPath{"PATH", "ImportPath", Type::Text, "", 0, 256};
// The maker's web server, for firmware and song downloads.
inline constexpr Key kServerPath{"PATH", "ServerPath", Type::Text, "www.zumbla.example.com", 0, 256};
inline constexpr Key kWebUpdate{"Settings", "WebUpdate", Type::Int, "", 1, 0};
inline constexpr Key kForceDbSettings{"Settings", "ForceDBSettings", Type::Int, "", 0, 0};
inline constexpr Key kListSortOrder{"SETTINGS", "LISTSORTORDER", Type::Text, "0000", 0, 4};
inline constexpr Key kList1Width{"ListSettings", "List1_Width", Type::Struct, "", 0, 40};
inline constexpr Key kList2Width{"ListSettings", "List2_Width", Type::Struct, "", 0, 40};
// Uninstaller handshake.
inline constexpr Key kAgentShutdown{"SETTINGS", "zumagentshutdown", Type::Int, "", 1, 0};
inline constexpr Key kKestroShutDownAsk{"SETTINGS", "KestroShutDown", Type::Int, "", 1, 0};

// Playback and the floppy on this platform.
// The General MIDI SoundFont that plays MF4 and MF3 songs; empty: the first
// one of the usual places.
inline constexpr Key kSoundFont{"Settings", "SoundFont", Type::Text, "", 0, 256};
// The folder that stands for the floppy disk; empty: the first mounted
// removable medium that is not the player's card.
inline constexpr Key kFloppy{"PATH", "Floppy", Type::Text, "", 0, 256};

// The player link on this platform.
// Socket of a running player simulator; when set, the link uses it.
inline constexpr Key kSimulator{"Link", "Simulator", Type::Text, "", 0, 256};
// USB ids of the bulk-transport player (decimal or 0x hexadecimal). The
// default is the bulk-loop identity of the Cypress EZ-USB chips such players
// are built on; FTDI's own ids would take the FTDI bridge away from its
// transport.
inline constexpr Key kBulkVid{"Link", "BulkVid", Type::Int, "", 0x04B4, 0};
inline constexpr Key kBulkPid{"Link", "BulkPid", Type::Int, "", 0x1004, 0};
// USB ids of the player's FTDI bridge, for a bridge that carries ids of its
// own (decimal or 0x hexadecimal). 0 or empty: FTDI's standard ids.
inline constexpr Key kFtdiVid{"Link", "FtdiVid", Type::Int, "", 0, 0};
inline constexpr Key kFtdiPid{"Link", "FtdiPid", Type::Int, "", 0, 0};

// Default column widths of the two song lists.
inline constexpr int kList1WidthDefault[10] = {200, 200, 96, 96, 96, 100, 100, 100, 0, 0};
inline constexpr int kList2WidthDefault[10] = {200, 200, 96, 96, 100, 100, 100, 0, 0, 0};

}  // namespace kestro::settings
