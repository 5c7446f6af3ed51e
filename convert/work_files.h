// The intermediate files of a conversion. They lie in the install folder and
// go when the import of a file ends.
#pragma once

#include <filesystem>
#include <string_view>

#include "context/env.h"

namespace kestro::workfile {

inline constexpr const char* kContent = "0.MID";          // MF4 content before packing
inline constexpr const char* kMf3Stream = "TEMP.MIT";     // unpacked .MF3
inline constexpr const char* kTemp = "TEMP.MID";          // copy of the source (lyrics) or the .MF3 stream
inline constexpr const char* kPreprocessed = "pre.MID";   // catalogue song after its pre-processing
inline constexpr const char* kRewrite = "midi.tmp";       // one pass of the page-mark rewrite
inline constexpr const char* kKaraoke = "WB.MID";         // karaoke messages made from ordinary lyrics
inline constexpr const char* kTune1000 = "Tune1000.MID";  // the source with those messages merged in
inline constexpr const char* kPreview = "TEXT.TXT";       // the pages of the lyrics as laid out
inline constexpr const char* kLog = "LOGILE.TXT";         // one line per event copied into TEMP.MID

// "%s_M1.MID" .. "%s_M3.MID" of the source's base name.
std::filesystem::path CataloguePass(const Env& env, std::string_view sourceStem, int pass);

// Removes every intermediate file of the conversion of a source with this
// base name.
void RemoveAll(const Env& env, std::string_view sourceStem);

// The path is one of the intermediate files of a source with this base name
// (a source there would be overwritten while it is read).
bool IsWorkFile(const Env& env, const std::filesystem::path& path, std::string_view sourceStem);

}  // namespace kestro::workfile
