// Where the sound of a song comes from: a synthesizer playing a MIDI file,
// or an MP3 decoder. The sound card and the WAV writer pull from it alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro {

// Frames of 16-bit stereo, left sample first.
class SoundSource {
 public:
  virtual ~SoundSource() = default;
  virtual int SampleRate() const = 0;
  // Fills up to `frames` frames; returns how many were filled. Fewer than
  // asked means the song has ended (the rest is left alone).
  virtual size_t Render(int16_t* out, size_t frames) = 0;
};

}  // namespace kestro
