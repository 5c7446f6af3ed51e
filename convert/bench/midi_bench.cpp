// How fast a large MIDI file (about 10 MB of events in 16 tracks) is read by
// the stream reader, loaded by the event list and written by the writer.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/midi_reader.h"
#include "convert/midi_writer.h"
#include "convert/song_event_list.h"
#include "platform/clock.h"
#include "platform/fileutil.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "context/dictionary.h"

namespace fs = std::filesystem;
using namespace kestro;

namespace {

void Be32(std::vector<uint8_t>& v, uint32_t x) {
  v.insert(v.end(), {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x)});
}

// A format 1 file of 16 tracks: notes with running status, controllers,
// pitch bends, lyrics and now and then a system-exclusive message.
std::vector<uint8_t> MakeSong(size_t targetBytes, size_t& events) {
  constexpr int kTracks = 16;
  std::mt19937 rnd(42);
  std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, kTracks, 0x01, 0xE0};
  events = 0;
  for (int t = 0; t < kTracks; ++t) {
    std::vector<uint8_t> d;
    uint8_t ch = static_cast<uint8_t>(t);
    while (d.size() < targetBytes / kTracks) {
      uint8_t note = static_cast<uint8_t>(36 + rnd() % 48);
      // Dense enough to stay within 2000 bars at 480 ticks per quarter.
      d.insert(d.end(), {uint8_t(rnd() % 24), uint8_t(0x90 | ch), note, uint8_t(1 + rnd() % 126)});
      d.insert(d.end(), {uint8_t(rnd() % 24), note, 0x00});  // running status
      events += 2;
      switch (rnd() % 16) {
        case 0:
          d.insert(d.end(), {0x00, uint8_t(0xB0 | ch), 0x07, uint8_t(rnd() % 128)});
          ++events;
          break;
        case 1:
          d.insert(d.end(), {0x00, uint8_t(0xE0 | ch), 0x00, uint8_t(rnd() % 128)});
          ++events;
          break;
        case 2:
          d.insert(d.end(), {0x00, 0xFF, 0x05, 0x04, 'l', 'a', 'l', 'a'});
          ++events;
          break;
        case 3:
          d.insert(d.end(), {0x00, 0xF0, 0x08, 0x00, 0x20, 0x24, 0x00, 0x08, 0x01, 0x02, 0xF7});
          ++events;
          break;
        default:
          break;
      }
    }
    d.insert(d.end(), {0x00, 0xFF, 0x2F, 0x00});
    ++events;
    f.insert(f.end(), {'M', 'T', 'r', 'k'});
    Be32(f, static_cast<uint32_t>(d.size()));
    f.insert(f.end(), d.begin(), d.end());
  }
  return f;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 10;
  char tmpl[] = "/tmp/kestro-midi-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  fs::path dir = tmpl;
  ScriptedUi ui;
  VirtualClock clock;
  ProfileFile profile(dir / "Zumbla.INI");
  Dictionary dict;
  dict.LoadFromText("[ENUMKEYS]\nK0=MSG_CAPTION_WARNING\n[ITALIANO]\nMSG_CAPTION_WARNING=Attenzione\n", "ITALIANO", ui);
  Env env{ui, clock, profile, dict, dir};

  size_t events = 0;
  auto song = MakeSong(megabytes << 20, events);
  fs::path file = dir / "big.mid";
  if (!WriteBinaryFile(file, song)) return 1;
  std::printf("file: %.1f MB, %zu events in 16 tracks\n", song.size() / 1048576.0, events);

  constexpr int kRounds = 3;
  double best = 1e9;
  size_t read = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    auto r = MidiStreamReader::open(env, file);
    if (!r) return 1;
    std::vector<uint8_t> buf(512);
    size_t len = 0;
    read = 0;
    while (true) {
      r->next_event(buf, len);
      if (r->end_of_song() || r->error()) break;
      ++read;
    }
    best = std::min(best, Seconds(t0, std::chrono::steady_clock::now()));
  }
  std::printf("stream reader: %zu events in %.3f s: %.2f million events/s (%.0f MB/s)\n", read, best,
              read / best / 1e6, song.size() / best / 1048576.0);

  best = 1e9;
  size_t loaded = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    SongEventList list(env);
    if (!list.load(file)) return 1;
    loaded = list.size();
    best = std::min(best, Seconds(t0, std::chrono::steady_clock::now()));
  }
  std::printf("event list load: %zu events in %.3f s: %.2f million events/s (%.0f MB/s)\n", loaded, best,
              loaded / best / 1e6, song.size() / best / 1048576.0);

  {
    SongEventList list(env);
    if (!list.load(file)) return 1;
    auto t0 = std::chrono::steady_clock::now();
    int percent = list.catalogue_mark_percent();
    double s = Seconds(t0, std::chrono::steady_clock::now());
    std::printf("catalogue mark: %d%% over %zu events in %.3f s: %.2f million events/s\n", percent, list.size(), s,
                list.size() / s / 1e6);
  }

  best = 1e9;
  size_t written = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto r = MidiStreamReader::open(env, file);
    if (!r) return 1;
    auto t0 = std::chrono::steady_clock::now();
    auto w = MidiFileWriter::create(env, dir / "out.mid", r->division());
    if (!w) return 1;
    std::vector<uint8_t> buf(kMidiMaxEventBytes);
    size_t len = 0;
    written = 0;
    while (true) {
      r->next_event(buf, len);
      if (r->end_of_song() || r->error()) break;
      w->write_event({buf.data(), len}, r->absolute_time());
      ++written;
    }
    w->close();
    best = std::min(best, Seconds(t0, std::chrono::steady_clock::now()));
  }
  std::printf("read + write as one track: %zu events in %.3f s: %.2f million events/s\n", written, best,
              written / best / 1e6);
  // Any message means a damaged file or a stopped load: the figures above would not count.
  std::printf("messages shown: %zu\n", ui.messages.size());
  fs::remove_all(dir);
  return 0;
}
