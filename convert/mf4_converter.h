// The MF4 converter: a Standard MIDI file becomes the content of an MF4
// song (one track at 480 ticks per quarter note, the marker FF 00 FF at the
// head of the track, two-byte note-offs, the lyrics as karaoke messages),
// and the song's descriptive fields are captured for its header.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "convert/convert_context.h"
#include "convert/midi_reader.h"
#include "context/env.h"

namespace kestro {

// Ticks of the MF4 content per quarter note.
inline constexpr int kMf4Division = 480;
// Events longer than this are not written into MF4 content (the player's
// tools work with a buffer of this size).
inline constexpr size_t kConverterEventBuffer = 512;

// The check-box text of the two import questions.
inline constexpr const char* kShowAgainText = "Visualizza ancora questo messaggio";

// Results of import_midi_file.
inline constexpr int kImportDeclined = 0;
inline constexpr int kImportGoOn = 1;

// Converts `source` into MF4 content at `destination` as the main window's
// import does: catalogue detection, the catalogue pre-processing (when
// `preprocess`), the lyrics detection, the conversion and the two questions.
// Returns kImportGoOn, or kImportDeclined when the user said No. Whether a
// file was written is in ctx.outputWritten.
int import_midi_file(Env& env, ConvertContext& ctx, const std::filesystem::path& source,
                     const std::filesystem::path& destination, bool preprocess);

// Writes the MF4 content of the song `reader` is open on and fills the
// captured fields and the header's channel tables. True when the whole
// file was written.
bool convert_midi(Env& env, ConvertContext& ctx, MidiStreamReader& reader, const std::filesystem::path& destination);

// The content of an unpacked .MF3 package re-wrapped as MF4 content; the
// header's magic becomes "_MF4".
bool convert_mf3_content(Env& env, ConvertContext& ctx, const std::filesystem::path& source,
                         const std::filesystem::path& destination);

// Source ticks at `division` per quarter note in ticks at 480 per quarter
// note (a division of 0 leaves them as they are).
uint32_t scale_time(uint32_t ticks, int division);

// The maker's songs: page marks moved to the end of their pages, then the
// lyric re-timing; through "%s_M1.MID" and "%s_M2.MID" in the install folder.
bool preprocess_catalogue_song(Env& env, const std::filesystem::path& source, const std::filesystem::path& destination);

// The pre-scan: the chord and text-item tables from the song's karaoke
// messages; the reader is rewound afterwards.
void prescan_lyrics(MidiStreamReader& reader, LyricTables& tables);

// The title as the player shows it: ASCII upper case, accented letters in
// the player's codes.
std::string PlayerTitle(std::string_view title);

}  // namespace kestro
