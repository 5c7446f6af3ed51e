// Where the card's songs live: the folder of a song code, the names of its
// file on the player's card (11-character form) and on a card in a card
// reader, and the file copies of the card reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace kestro::library {

// Song folders 0 to 30; a song lives in folder code mod 31.
inline constexpr int kCardSongFolders = 31;
inline int SongFolderOf(uint16_t code) { return code % kCardSongFolders; }

// "DRIVE/FOLDER/%05d.MF4" (or .MP3) of a song on a card in a card reader.
std::filesystem::path ReaderSongPath(const std::filesystem::path& drive, uint16_t code, bool mp3);

// The song a card file stands for. Only the names the player itself looks
// for count: five digits and MF4 or MP3, in the folder of that code. Any
// other file would give the index a song the player cannot find.
struct CardSongName {
  uint16_t code = 0;
  bool mp3 = false;
};
// From a directory entry's 11-character name ("00007   MF4").
std::optional<CardSongName> SongOfName11(std::string_view name11, int folder);
// From a file name in a card reader's folder ("00007.MF4", any case).
std::optional<CardSongName> SongOfFileName(std::string_view name, int folder);

// The allocation unit of a card-reader drive of this total size, as a FAT16
// format gives it: 512 bytes up to 16 MiB, doubling with every doubling of
// the size, 16,384 above 256 MiB.
uint32_t CardReaderUnit(uint64_t totalBytes);

// Copies a file through a temporary file beside the target, then renames it
// over the target: a copy that fails (a full card, a card pulled out) leaves
// neither a half file nor a damaged older copy.
bool CopyFileSafely(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace kestro::library
