#include "library/card_paths.h"

#include <string>
#include <system_error>

#include "library/song_record.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::optional<CardSongName> SongOf(std::string_view digits, std::string_view ext, int folder) {
  if (digits.size() != 5) return std::nullopt;
  uint32_t code = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    code = code * 10 + static_cast<uint32_t>(c - '0');
  }
  if (code > 0xFFFF || static_cast<int>(code % kCardSongFolders) != folder) return std::nullopt;
  std::string e;
  for (char c : ext) e += Upper(c);
  if (e != "MF4" && e != "MP3") return std::nullopt;
  return CardSongName{static_cast<uint16_t>(code), e == "MP3"};
}

}  // namespace

fs::path ReaderSongPath(const fs::path& drive, uint16_t code, bool mp3) {
  return drive / std::to_string(SongFolderOf(code)) / SongFileName(code, mp3);
}

std::optional<CardSongName> SongOfName11(std::string_view name11, int folder) {
  if (name11.size() != 11 || name11.substr(5, 3) != "   ") return std::nullopt;
  return SongOf(name11.substr(0, 5), name11.substr(8, 3), folder);
}

std::optional<CardSongName> SongOfFileName(std::string_view name, int folder) {
  if (name.size() != 9 || name[5] != '.') return std::nullopt;
  return SongOf(name.substr(0, 5), name.substr(6, 3), folder);
}

uint32_t CardReaderUnit(uint64_t totalBytes) {
  constexpr uint64_t kMiB = 1024 * 1024;
  uint32_t unit = 512;
  for (uint64_t limit = 16 * kMiB; limit <= 256 * kMiB && totalBytes > limit; limit *= 2) unit *= 2;
  return unit;
}

bool CopyFileSafely(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  // A short name: the card's folders keep 8.3 names.
  fs::path temp = to.parent_path() / "~KESTRO.TMP";
  fs::remove(temp, ec);
  fs::copy_file(from, temp, ec);
  if (!ec) fs::rename(temp, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

}  // namespace kestro::library
