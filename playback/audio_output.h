// The sound card: one output (SDL's, which speaks to PulseAudio, PipeWire
// or ALSA, whichever the desktop has) fed from a SoundSource on SDL's audio
// thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "playback/sound_source.h"

namespace kestro {

// Why the sound card could not play; the numbers the user is shown.
enum PlayError : int {
  kPlayOk = 0,
  kPlayNoSoundFont = 1,    // no General MIDI SoundFont, or it cannot be loaded
  kPlayUndecodable = 2,    // the song's sound cannot be decoded
  kPlayNoAudioSystem = 3,  // the sound system cannot be started
  kPlayNoDevice = 4,       // no sound output can be opened
  kPlayNoSettings = 5,     // no program for the sound settings could be started
};

class AudioOutput {
 public:
  AudioOutput() = default;
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Opens the default output for `source`, which must outlive the output
  // or its Close; nothing sounds before Start. kPlayOk or the reason.
  int Open(SoundSource& source);
  // Starts pulling sound from the source.
  int Start();
  // Stops the sound; the source is no longer used when this returns.
  void Close();

  bool IsOpen() const { return device_ != 0; }
  // The source has run out.
  bool Ended() const { return ended_.load(); }
  // Play time of the sound heard so far (the device's buffer not counted).
  double Seconds() const;

 private:
  static void Pull(void* self, uint8_t* stream, int len);

  bool systemUp_ = false;
  uint32_t device_ = 0;
  SoundSource* source_ = nullptr;
  int rate_ = 0;
  uint32_t bufferFrames_ = 0;
  std::atomic<uint64_t> frames_{0};
  std::atomic<bool> ended_{false};
};

}  // namespace kestro
