// The General MIDI synthesizer (FluidSynth with a SoundFont) that plays the
// MIDI files made from MF4 and MF3 songs.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "context/env.h"
#include "playback/sound_source.h"

namespace kestro {

// Where Debian's General MIDI SoundFonts lie, best first.
inline constexpr const char* kSoundFontPlaces[] = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/soundfonts/default.sf2",
};

// The SoundFont to play with: [Settings] SoundFont when set, else the first
// of kSoundFontPlaces that is there. Nothing when there is none.
std::optional<std::filesystem::path> FindSoundFont(const Env& env);

class GmSynth {
 public:
  static constexpr int kSampleRate = 44100;

  // Loads the SoundFont (which takes a moment for a large one); nothing when
  // it cannot be loaded.
  static std::unique_ptr<GmSynth> Load(const std::filesystem::path& soundFont);
  ~GmSynth();
  GmSynth(const GmSynth&) = delete;
  GmSynth& operator=(const GmSynth&) = delete;

  const std::filesystem::path& SoundFont() const { return soundFont_; }

  // A source that plays `midi` (a Standard MIDI File) from its start on this
  // synthesizer; one at a time. Nothing when the file is refused. The sound
  // runs on a little after the song's end, for the last notes to fade.
  std::unique_ptr<SoundSource> Play(std::span<const uint8_t> midi);

 private:
  struct Fluid;
  explicit GmSynth(std::unique_ptr<Fluid> fluid);
  std::filesystem::path soundFont_;
  std::unique_ptr<Fluid> fluid_;
};

}  // namespace kestro
