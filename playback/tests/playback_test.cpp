// Playing songs: their sound rendered into WAV files (no sound card needed)
// and measured with sox, damaged songs, and the sound card itself through
// SDL's dummy output and an output that does not exist.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include "convert/mf4_converter.h"
#include "convert/package.h"
#include "convert/tests/mf4_test_support.h"
#include "playback/playback.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using namespace mf4test;

constexpr const char* kDictionary =
    "[ENUMKEYS]\nK0=MSG_PLAY_ERROR\nK1=MSG_CAPTION_WARNING\nK2=MSG_CANTOPEN\nK3=MSG_READERROR\nK4=MSG_CANTCREATE\n"
    "K5=MSG_WRITEERROR\nK6=MSG_OPEN_ERR\nK7=MSG_WRITE_ERR\nK8=MSG_COPYRIGHT\n"
    "[ITALIANO]\nMSG_PLAY_ERROR=Errore audio %d\nMSG_CAPTION_WARNING=Attenzione\nMSG_CANTOPEN=Non apro %s\n"
    "MSG_READERROR=Errore di lettura\nMSG_CANTCREATE=Non creo %s\nMSG_WRITEERROR=Errore di scrittura\n"
    "MSG_OPEN_ERR=Non apro %s\nMSG_WRITE_ERR=Errore di conversione\nMSG_COPYRIGHT=Diritti\n";

// The smallest General MIDI SoundFont there is keeps the tests quick.
std::string TestSoundFont() {
  for (const char* p : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
    if (fs::exists(p)) return p;
  }
  return "";
}

struct Measured {
  double seconds = -1;
  double rms = -1;
};

// What sox says of a sound file.
Measured Sox(const fs::path& file) {
  auto r = testing::Run({"/usr/bin/sox", file.string(), "-n", "stat"});
  EXPECT_EQ(r.status, 0) << r.err;
  Measured m;
  std::smatch match;
  if (std::regex_search(r.err, match, std::regex(R"(Length \(seconds\):\s+([0-9.]+))"))) m.seconds = std::stod(match[1]);
  if (std::regex_search(r.err, match, std::regex(R"(RMS\s+amplitude:\s+([0-9.]+))"))) m.rms = std::stod(match[1]);
  return m;
}

class PlaybackTest : public ::testing::Test {
 protected:
  Install in;

  void SetUp() override {
    in.dict.LoadFromText(kDictionary, "ITALIANO", in.ui);
    ASSERT_FALSE(TestSoundFont().empty()) << "a General MIDI SoundFont (timgm6mb-soundfont) is needed";
    in.profile.WriteString("Settings", "SoundFont", TestSoundFont());
  }
  void TearDown() override { unsetenv("SDL_AUDIODRIVER"); }

  // An MF4 song of `notes` quarter notes at 120 a minute (half a second
  // each), a piano melody over a bass, with a few words.
  fs::path Song(const std::string& name, int notes) {
    Track t;
    t.Meta(0, 0x03, "Melodia").Meta(0, 0x51, std::string("\x07\xA1\x20", 3));
    t.At(0, {0xC0, 0x00}).At(0, {0xC1, 0x20});
    for (int i = 0; i < notes; ++i) {
      const uint32_t at = static_cast<uint32_t>(i) * 480;
      const uint8_t pitch = static_cast<uint8_t>(60 + (i * 5) % 12);
      t.At(at, {0x90, pitch, 0x60}).At(at, {0x91, 0x30, 0x50});
      t.At(at + 470, {0x80, pitch, 0x40}).At(at + 470, {0x81, 0x30, 0x40});
    }
    const auto src = in.Write(name + ".mid", SongFile(480, {t.End()}));
    in.ui.answers = {kIdYes};
    EXPECT_EQ(import_midi_file(*in.env, in.ctx, src, in.Path("0.MID"), true), kImportGoOn);
    const fs::path song = in.Path(name + ".MF4");
    EXPECT_EQ(pack(*in.env, in.ctx.header, in.Path("0.MID"), song), kPackDone);
    RemoveFile(in.Path("0.MID"));
    in.ui.messages.clear();
    return song;
  }

  // An MF4 package around a hand-made event stream.
  fs::path PackedStream(const std::string& name, const ByteVec& events) {
    ByteVec s = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0, 0xFF, 0x00, 0xFF};
    s.insert(s.end(), events.begin(), events.end());
    const auto content = in.Write(name + ".content", s);
    PackageHeader h;
    const fs::path song = in.Path(name + ".MF4");
    EXPECT_EQ(pack(*in.env, h, content, song), kPackDone);
    return song;
  }

  fs::path Mp3Tone(double seconds) {
    const fs::path mp3 = in.Path("tone.mp3");
    auto r = testing::Run({"/usr/bin/sox", "-n", "-r", "44100", "-c", "2", mp3.string(), "synth", std::to_string(seconds),
                           "sine", "440", "vol", "0.5"});
    EXPECT_EQ(r.status, 0) << r.err;
    return mp3;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : in.ui.messages) t.push_back(m.text);
    return t;
  }
};

TEST_F(PlaybackTest, Mf4SongRenderedToWav) {
  const fs::path song = Song("melodia", 16);  // 16 half-second notes: 8 seconds
  Playback p(*in.env);
  const fs::path wav = in.Path("melodia.wav");
  ASSERT_TRUE(p.RenderToWav(song, wav)) << ::testing::PrintToString(Texts());
  const Measured m = Sox(wav);
  EXPECT_NEAR(m.seconds, 8.0, 8.0 * 0.05);
  EXPECT_GT(m.rms, 0.01) << "not silent";
  EXPECT_TRUE(in.ui.messages.empty());
  // The intermediate files are gone.
  EXPECT_FALSE(fs::exists(in.Path(kPlayStream)));
  EXPECT_FALSE(fs::exists(in.Path(kPlayMidi)));
}

TEST_F(PlaybackTest, Mp3RenderedToWavThroughTheDecoder) {
  const fs::path mp3 = Mp3Tone(3.0);
  Playback p(*in.env);
  const fs::path wav = in.Path("tone.wav");
  ASSERT_TRUE(p.RenderToWav(mp3, wav)) << ::testing::PrintToString(Texts());
  const Measured m = Sox(wav);
  EXPECT_NEAR(m.seconds, 3.0, 3.0 * 0.05);
  EXPECT_NEAR(m.rms, 0.5 / std::sqrt(2.0), 0.05) << "the tone at its level";
}

TEST_F(PlaybackTest, DamagedSongs) {
  const fs::path wav = in.Path("out.wav");
  struct Case {
    const char* name;
    fs::path song;
    std::vector<std::string> shown;
  };
  testing::WriteFileOrDie(in.Path("noise.MF4"), std::string(700, '\x5A'));
  testing::WriteFileOrDie(in.Path("noise.mp3"), std::string(20000, '\x11'));
  const Case cases[] = {
      // The package decoder tells of a package it cannot read.
      {"a damaged package", in.Path("noise.MF4"), {"Non apro " + in.Path("noise.MF4").string()}},
      {"a missing song", in.Path("none.MF4"), {"Non apro " + in.Path("none.MF4").string()}},
      // A stream that cannot be converted plays nothing and says nothing.
      {"a data byte without running status", PackedStream("broken", {0x00, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}), {}},
      {"a delta time of five bytes", PackedStream("delta", {0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3C, 0x40}), {}},
      {"an MP3 file with no sound in it", in.Path("noise.mp3"), {"Errore audio 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    in.ui.messages.clear();
    Playback p(*in.env);
    EXPECT_FALSE(p.RenderToWav(c.song, wav));
    EXPECT_EQ(Texts(), c.shown);
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_FALSE(fs::exists(in.Path(kPlayStream)));
  }
}

TEST_F(PlaybackTest, NoSoundFont) {
  const fs::path song = Song("melodia", 2);
  in.profile.WriteString("Settings", "SoundFont", in.Path("none.sf2").string());
  Playback p(*in.env);
  EXPECT_FALSE(p.RenderToWav(song, in.Path("out.wav")));
  EXPECT_EQ(Texts(), std::vector<std::string>{"Errore audio 1"});
  EXPECT_EQ(in.ui.messages[0].caption, "Attenzione");
}

// Records what the play controls were told.
struct Controls : PlaybackView {
  std::vector<bool> shown;
  void ShowPlayControls(bool playing) override { shown.push_back(playing); }
};

TEST_F(PlaybackTest, NoSoundDeviceGivesThePlayError) {
  setenv("SDL_AUDIODRIVER", "kestro-no-such-output", 1);
  const fs::path song = Song("melodia", 2);
  Controls controls;
  Playback p(*in.env, &controls);
  EXPECT_FALSE(p.PlaySong(song));
  EXPECT_FALSE(p.Playing());
  ASSERT_EQ(Texts(), std::vector<std::string>{"Errore audio 3"});
  EXPECT_EQ(in.ui.messages[0].caption, "Attenzione");
  EXPECT_EQ(in.ui.messages[0].style & 0xF0, mb::kIconExclamation);
  // Stopped first, enabled for the song, reset when it could not play.
  EXPECT_EQ(controls.shown, (std::vector<bool>{false, true, false}));
  EXPECT_FALSE(p.PlaySong(Mp3Tone(0.5)));
  EXPECT_EQ(in.ui.messages.back().text, "Errore audio 3");
}

TEST_F(PlaybackTest, PlaysStopsAndFollowsTheSongOnAnOutput) {
  // SDL's dummy output takes the sound at the pace of a real one.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  const fs::path song = Song("melodia", 4);
  Controls controls;
  Playback p(*in.env, &controls);
  ASSERT_TRUE(p.PlaySong(song)) << ::testing::PrintToString(Texts());
  EXPECT_TRUE(p.Playing());
  ASSERT_TRUE(p.Karaoke());
  EXPECT_EQ(p.Karaoke()->At(0).lines[0].text, "MELODIA");
  in.clock.SleepMs(0);
  RealClock real;
  const uint64_t start = real.NowMs();
  while (p.PositionSeconds() < 0.3 && real.NowMs() - start < 5000) real.SleepMs(20);
  EXPECT_GE(p.PositionSeconds(), 0.3) << "the sound moves on";
  EXPECT_LT(p.PositionSeconds(), 2.0);

  // A song that cannot be converted stops the one playing, silently.
  EXPECT_FALSE(p.PlaySong(PackedStream("broken", {0x00, 0x3C, 0x40})));
  EXPECT_FALSE(p.Playing());
  EXPECT_FALSE(p.Karaoke());
  EXPECT_TRUE(in.ui.messages.empty());

  // An MP3 plays to its end.
  ASSERT_TRUE(p.PlaySong(Mp3Tone(0.3)));
  EXPECT_FALSE(p.Karaoke()) << "an MP3 song has no words on screen";
  const uint64_t mp3Start = real.NowMs();
  while (!p.Ended() && real.NowMs() - mp3Start < 5000) real.SleepMs(20);
  EXPECT_TRUE(p.Ended());
  EXPECT_FALSE(p.Playing());
  p.StopPlayback();
  EXPECT_FALSE(p.Ended());
  EXPECT_EQ(controls.shown.back(), false);
}

}  // namespace
}  // namespace kestro
