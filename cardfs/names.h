// Card file names: the 11-character directory form of FAT short names (base
// padded to 8 and extension to 3 characters with blanks, no dot), and the
// usual NAME.EXT form people type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

inline constexpr size_t kName11 = 11;

// "song.mf4" -> "SONG    MF4", "0" -> "0          ". Letters are upper-cased.
// Nothing for a name that is no FAT short name (empty base, base over 8 or
// extension over 3 characters, a second dot, a blank or a character FAT
// does not allow).
std::optional<std::string> ToName11(std::string_view name);

// "SONG    MF4" -> "SONG.MF4", "0          " -> "0". A leading 05 stands
// for E5, as in FAT.
std::string FromName11(std::string_view name11);
inline std::string FromName11(const uint8_t* name11) {
  return FromName11(std::string_view(reinterpret_cast<const char*>(name11), kName11));
}

// A song folder, "%-11d" of its number ("7          ").
std::string FolderName11(int folder);
// A song file, "%05d   MF4" (or MP3) of its code.
std::string SongName11(uint16_t code, std::string_view ext = "MF4");

}  // namespace kestro
