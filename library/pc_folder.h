// The PC song folder: its list, the start-up merge of the folders where new
// and downloaded songs arrive, and the texts an import writes into a new
// song's header.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "library/song_record.h"
#include "context/env.h"

namespace kestro::library {

// ScanPcFolder: empties `list` and fills it with the MF4 and MP3 files of
// `folder` (names in byte order), reading each file's texts. A progress
// window is shown for more than 50 files.
void ScanPcFolder(Env& env, const std::filesystem::path& folder, SongList& list);

// MergeNewSongs: moves the "*.MF4" files of NEW_MF4 and then DOWNLOAD_MF4
// into OLD_MF4 (overwriting). A folder that is OLD_MF4 itself is left alone.
void MergeNewSongs(Env& env);

// The folders of the settings file (each defaulting to the install folder).
struct PcFolders {
  std::filesystem::path oldMf4;
  std::filesystem::path newMf4;
  std::filesystem::path downloadMf4;
};
PcFolders ReadPcFolders(const Env& env);

// What a conversion found in a MIDI file, for the header of its MF4 file.
struct ImportedTexts {
  std::string title;
  bool hadTitle = false;      // the MIDI file named its title
  std::string author;
  std::string performer;
  std::string editor;
  std::string genre;
  std::string sourceRights;   // the FF 02 text as found
  std::string rightsToStore;  // that text, or the catalogue's own text
  uint16_t tempo = 0;         // header offset 38
  uint8_t markers = 0;        // header offset 185
};

// True when the rights text names a publisher of the catalogue, or the
// settings say every song is one ("ForceDBSettings").
bool IsCatalogueSong(const Env& env, const std::string& sourceRights);

// FillImportedHeader: writes the texts of a freshly converted song into its
// header, taking missing ones from MIDI.DBF for catalogue songs.
bool FillImportedHeader(Env& env, const std::filesystem::path& mf4Path, const ImportedTexts& texts);

// CopyHeaderTexts: the six 32-byte text fields of `source`'s header into
// `target`'s header.
bool CopyHeaderTexts(Env& env, const std::filesystem::path& source, const std::filesystem::path& target);

// StampSourceName: "%s.MF4" of the file's base name at header offset 42.
bool StampSourceName(Env& env, const std::filesystem::path& mf4Path);

// The lines of a suggestion list ("Artist.dat", "genere.dat" in the install
// folder), trimmed of surrounding blanks, empty lines left out; empty when
// the file is missing.
std::vector<std::string> LoadSuggestionList(const std::filesystem::path& path);

// The after-import check: the text of "MSG_IMPORT_FIRST_4_CHAR_MUST_BE_NOT_DIGIT"
// when the title, performer or genre of the file's header holds a digit in
// its first four characters.
std::optional<std::string> DigitWarning(Env& env, const std::filesystem::path& mf4Path);

}  // namespace kestro::library
