// kestro-cli play: a song played on the sound card, or its sound written to
// a WAV file; kestro-cli midi from-stream: a song's decoded event stream
// made a Standard MIDI File.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "convert/event_stream.h"
#include "convert/karaoke_screen.h"
#include "platform/latin1.h"
#include "playback/playback.h"

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

int Usage(const char* synopsis) {
  std::fprintf(stderr, "usage: kestro-cli %s\n", synopsis);
  return kUsage;
}

constexpr double kPageSettles = 0.25;

// A page of the karaoke screen as it comes.
void PrintPage(const KaraokeScreen& s) {
  std::printf("\n");
  for (const auto& l : s.lines) std::printf("  %s\n", Latin1ToUtf8(l.text).c_str());
  std::fflush(stdout);
}

int Play(Context& ctx, std::vector<std::string>& a) {
  const char* synopsis = "play FILE [--wav OUT] [--words]";
  auto wav = TakeOption(a, "--wav");
  const bool words = TakeFlag(a, "--words");
  if (a.size() != 1 || UnknownOption(a)) return Usage(synopsis);
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  Playback playback(*env);
  const fs::path song = a[0];
  if (wav) {
    if (!playback.RenderToWav(song, *wav)) return ctx.Fail("no sound written for " + song.string());
    std::printf("%s: written to %s\n", song.string().c_str(), wav->c_str());
    return kOk;
  }
  if (!playback.PlaySong(song)) return ctx.Fail("cannot play " + song.string());
  auto karaoke = playback.Karaoke();
  int page = -2;
  while (playback.Playing()) {
    if (words && karaoke) {
      const double now = playback.PositionSeconds();
      const int shown = karaoke->At(now).page;
      // A page's lines come one after the other just before it is sung.
      if (shown != page) PrintPage(karaoke->At(now + kPageSettles));
      page = shown;
    }
    ctx.clock.SleepMs(50);
  }
  playback.StopPlayback();
  return kOk;
}

int FromStream(Context& ctx, std::vector<std::string>& a) {
  const char* synopsis = "midi from-stream IN OUT [--skip25] [--keep-sysex]";
  const bool skip25 = TakeFlag(a, "--skip25");
  const bool keep = TakeFlag(a, "--keep-sysex");
  if (a.size() != 2 || UnknownOption(a)) return Usage(synopsis);
  Env* env = ctx.RequireInstall();
  if (!env) return kFailed;
  int error = 0;
  if (ConvertStreamToMidi(*env, a[1], a[0], skip25, keep, &error) != 1) {
    // An input that cannot be opened has been shown.
    if (error == kStreamNoError) return kFailed;
    return ctx.Fail("the stream breaks off (error " + std::to_string(error) + "); " + a[1] + " holds what came before");
  }
  return kOk;
}

}  // namespace

void RegisterPlayCommands(CommandTable& t) {
  t.push_back({{"play"}, "FILE [--wav OUT] [--words]", "play a song (.MF4 .MF3 .MP3) on the sound card, or write its sound",
               "An MF4 or MF3 song is unpacked, made a Standard MIDI File and played by the\n"
               "General MIDI synthesizer (FluidSynth) with the SoundFont of [Settings]\n"
               "SoundFont in Zumbla.INI, else Debian's default one; an MP3 song is decoded as it\n"
               "is. The command returns when the song has ended. --words prints the karaoke\n"
               "pages as the player's screen shows them, when they come. --wav OUT writes the\n"
               "sound into a 16-bit stereo WAV file instead (no sound card needed).\n"
               "A song that cannot be played fails with the reason shown (\"Sound system error\n"
               "(code N)\": 1 no SoundFont, 2 the sound cannot be decoded, 3 no sound system,\n"
               "4 no sound output).",
               Play});
  t.push_back({{"midi", "from-stream"}, "IN OUT [--skip25] [--keep-sysex]",
               "make a song's decoded event stream (kestro-cli unpack) a Standard MIDI File",
               "IN is the unpacked content of an MF4 or MF3 song. Its header is skipped (25\n"
               "bytes with --skip25, as for MF4 content with its marker, else 22), note-offs\n"
               "get the release velocity 64, key pressure on channels 9 and 10 is dropped, and\n"
               "system-exclusive events (the karaoke text among them) only go through with\n"
               "--keep-sysex. The result has 480 ticks per quarter note. A stream that breaks\n"
               "off (a status missing, a delta time too long) fails; OUT then holds what came\n"
               "before.",
               FromStream});
}

}  // namespace kestro::cli
