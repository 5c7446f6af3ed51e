// Texts inside the suite are bytes of the Windows Latin-1 code page, as the
// player and its files use them; the terminal and the file system of the PC
// speak UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kestro {

std::string Latin1ToUtf8(std::string_view s);
// Characters outside Latin-1 become '?'; invalid UTF-8 bytes are taken as
// Latin-1 bytes as they stand.
std::string Utf8ToLatin1(std::string_view s);
// True when s is valid UTF-8 (plain ASCII included).
bool IsValidUtf8(std::string_view s);

}  // namespace kestro
