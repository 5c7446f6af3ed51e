// The player's own text codes: titles and card file names on the player use
// the codes 1 to 31 for accented letters. These functions turn them into
// Windows Latin-1 letters (10, 27 and 28 stay as they are).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestro {

// The Latin-1 letter for a player code; every other byte is returned as is.
uint8_t PlayerCharToLatin1(uint8_t c);
// A player text (title, author, 8.3 name) in Latin-1.
std::string PlayerTextToLatin1(std::string_view text);
// The other way: the player code of an accented Latin-1 letter, every other
// byte as is.
uint8_t Latin1ToPlayerChar(uint8_t c);
// A PC path built from a player title: the player codes become the letters
// they stand for, written in the file system's UTF-8. Bytes of the path
// that are not player codes are kept.
std::filesystem::path MapPlayerPath(const std::filesystem::path& path);

}  // namespace kestro
