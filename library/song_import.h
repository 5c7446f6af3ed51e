// The import of one song file into a PC song folder, as the main window, the
// floppy import and the command-line tool do it: MF4 and MP3 files are
// copied, MF3 packages re-wrapped as MF4, MIDI and karaoke files converted
// and packed with their texts.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "convert/convert_context.h"
#include "library/pc_folder.h"
#include "context/env.h"

namespace kestro::library {

enum class SongFileKind { Mf4, Mf3, Midi, Mp3, Other };

// By the extension of the file name, in any case: ".MF4", ".MF3", ".MID" or
// ".KAR", ".MP3".
SongFileKind SongFileKindOf(const std::filesystem::path& source);

enum class ImportOutcome {
  Imported,  // the song is in the song folder
  NotASong,  // not a song file: skipped, not counted
  Declined,  // the user answered No to a question of the conversion
  Failed,    // the user has been told why
};
// "imported", "skipped (not a song)", "declined", "failed".
const char* OutcomeText(ImportOutcome outcome);

struct ImportOptions {
  // Run the pre-processing of the maker's catalogue songs.
  bool preprocessCatalogue = true;
  // The file was dropped on the window: an MF4 copy gets its source name
  // stamped into its header.
  bool dropped = false;
};

struct ImportResult {
  ImportOutcome outcome = ImportOutcome::Failed;
  std::filesystem::path destination;  // the file in the song folder
  std::string reason;                 // for a log line when the import failed
  // The after-import check of a converted song ("MSG_IMPORT_FIRST_4_CHAR_MUST_BE_NOT_DIGIT").
  std::optional<std::string> digitWarning;
};

// "NAME.MF4" (or "NAME.MP3") in the song folder, NAME being the source's file
// name without its extension; empty when the source has no name to give.
std::filesystem::path DestinationFor(const std::filesystem::path& songFolder, const std::filesystem::path& source);

// Imports `source` into `songFolder` (overwriting a song of the same name).
// The conversion's questions go through env.ui and keep their answers in
// ctx; the intermediate files in the install folder are gone afterwards.
ImportResult ImportSongFile(Env& env, ConvertContext& ctx, const std::filesystem::path& source,
                            const std::filesystem::path& songFolder, const ImportOptions& options = {});

// Imports the files one after another as ImportSongFile does, with the same
// questions, messages and results, and tells `done` of each file in order,
// on the calling thread, with its index in `sources`. A converted MIDI song
// is packed on a second thread while the next file is converted. When `done`
// returns false no further file is started; one already converted is still
// finished and told of.
using ImportDone = std::function<bool(size_t index, const ImportResult& result)>;
void ImportSongFiles(Env& env, ConvertContext& ctx, const std::vector<std::filesystem::path>& sources,
                     const std::filesystem::path& songFolder, const ImportOptions& options, const ImportDone& done);

// The texts of the last conversion, for FillImportedHeader.
ImportedTexts TextsFromConversion(const ConvertContext& ctx);

}  // namespace kestro::library
