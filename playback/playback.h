// Playing one song on the PC: an MF4 or MF3 song is unpacked to its event
// stream, made a Standard MIDI File and played by the General MIDI
// synthesizer; an MP3 song is decoded as it is. Either way the sound goes
// to the one audio output, or into a WAV file when there is no sound card
// to hear it on.
//
// Order of PlaySong: stop what plays; make the song ready (a stream that
// cannot be converted ends it here, silently); enable the play controls;
// open the output and start it - a failure of either is shown as
// "MSG_PLAY_ERROR" with its number (PlayError) and nothing plays.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "context/env.h"
#include "convert/karaoke_screen.h"
#include "platform/fileutil.h"
#include "playback/audio_output.h"
#include "playback/midi_synth.h"

namespace kestro {

// The intermediate files of playing an MF4 or MF3 song, in the install
// folder: the unpacked event stream and the MIDI file made from it. They
// go once the synthesizer has the song.
inline constexpr const char* kPlayStream = "TEMP.MIT";
inline constexpr const char* kPlayMidi = "TEMP.MID";

// What the window shows of playback.
class PlaybackView {
 public:
  virtual ~PlaybackView() = default;
  // The STOP and PLAY controls: both usable while a song plays, STOP not
  // once it has stopped.
  virtual void ShowPlayControls(bool /*playing*/) {}
};

// A song made ready to sound.
struct PreparedSong {
  bool mp3 = false;
  std::filesystem::path path;  // the song file
  Bytes midi;                  // the MIDI file of an MF4 or MF3 song
  std::shared_ptr<const KaraokeTimeline> karaoke;  // its screen; none for MP3
};

class Playback {
 public:
  explicit Playback(Env& env, PlaybackView* view = nullptr);
  ~Playback();
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  // The window that shows the play controls (none: nothing is shown).
  void SetView(PlaybackView* view) { view_ = view; }

  // PlaySong: stops any playback and plays `song`. True when it plays.
  bool PlaySong(const std::filesystem::path& song);
  // StopPlayback: closes the output and resets the play controls.
  void StopPlayback();

  // A song is sounding (it has not ended and was not stopped).
  bool Playing() const;
  // The song that was started has played to its end.
  bool Ended() const;
  // Play time of what is heard, in seconds.
  double PositionSeconds() const;
  // The karaoke screen of the song playing (none for an MP3 song or when
  // nothing plays).
  std::shared_ptr<const KaraokeTimeline> Karaoke() const { return karaoke_; }

  // The song's sound into a 16-bit stereo WAV file, with no sound card:
  // the same conversion and synthesizer as PlaySong (which it stops).
  // Failures are shown as PlaySong shows them; a WAV file that cannot be
  // written as "MSG_CANTCREATE".
  bool RenderToWav(const std::filesystem::path& song, const std::filesystem::path& wav);

  // Makes an MF4, MF3 or MP3 song ready: nothing when the conversion
  // failed (shown only by the package decoder when the package itself is
  // unreadable).
  std::optional<PreparedSong> Prepare(const std::filesystem::path& song);

 private:
  // The source of a prepared song, or a PlayError.
  std::unique_ptr<SoundSource> OpenSource(const PreparedSong& song, int& error);
  void ShowPlayError(int code);

  Env& env_;
  PlaybackView* view_;
  std::unique_ptr<GmSynth> synth_;
  std::unique_ptr<SoundSource> source_;
  AudioOutput output_;
  std::shared_ptr<const KaraokeTimeline> karaoke_;
  bool started_ = false;
};

}  // namespace kestro
