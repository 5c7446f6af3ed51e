// MP3 songs decoded with libmpg123, as 16-bit stereo at the file's own rate.
#pragma once

#include <filesystem>
#include <memory>

#include "playback/sound_source.h"

namespace kestro {

// Nothing when the file cannot be opened or holds no MP3 audio.
std::unique_ptr<SoundSource> OpenMp3(const std::filesystem::path& path);

}  // namespace kestro
