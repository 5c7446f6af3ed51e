// The descriptive texts of a song file: the header of an MF4 (or MF3)
// package, or the ID3v2 tag of an MP3 file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "library/song_record.h"

namespace kestro::library {

// Bytes of a song file that the scan reads.
inline constexpr size_t kSongHeadBytes = 1024;

// Header offsets of the MF4 texts.
inline constexpr size_t kMf4Title = 122;
inline constexpr size_t kMf4Editor = 154;
inline constexpr size_t kMf4Author = 186;
inline constexpr size_t kMf4Performer = 218;
inline constexpr size_t kMf4Genre = 250;
inline constexpr size_t kMf4Rights = 90;

// The three upper-case characters after the last point of a path's last
// component ("MF4", "MP3", ...); empty without a point.
std::string ExtensionOf(std::string_view path);
// The last path component without its extension.
std::string BaseNameOf(std::string_view path);

// ReadSongTexts: fills title, author (performer), genre, composer, publisher
// and rights text of `r` from the first bytes of its file, by the extension
// of its fileName. Other extensions leave the record as it is.
void ReadSongTexts(SongRecord& r, const uint8_t* data, size_t size);

// The six texts of the file-information dialog.
struct SongTexts {
  std::string title;
  std::string performer;
  std::string genre;
  std::string editor;
  std::string author;
  std::string rights;
};

// Texts as stored in a file (at most 31 characters each, not upper-cased):
// for MF4 the header fields, for MP3 the frames TIT2, TPE1, TCON, TPUB, TCOM
// and TCOP.
SongTexts ReadStoredTexts(std::string_view path, const uint8_t* data, size_t size);

// Writes title, performer, genre, editor and author (at most 31 characters
// each) and the rights text back into an MF4 header or an MP3 tag. An MP3
// without a tag gets a new tag of 1,024 bytes in front of its audio; frames
// that do not fit the existing tag grow it, never overwriting the audio.
// `scratchDir` holds the temporary copy. False when the file cannot be
// read or written, or is read-only (it is then left unchanged).
bool WriteSongTexts(const std::filesystem::path& path, const SongTexts& texts,
                    const std::filesystem::path& scratchDir);

}  // namespace kestro::library
