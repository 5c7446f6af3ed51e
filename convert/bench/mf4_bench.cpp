// Imports 100 karaoke files of typical size (50 to 200 KB) into a song folder
// as the main window does, and prints the time taken: the whole import (best
// of a few runs, wall clock and processor time), and the conversion alone.
// The songs it writes must be byte for byte the ones recorded in
// kExpectedSongsDigest before any time is reported.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/bench/midi_bytes.h"
#include "convert/convert_context.h"
#include "convert/mf4_converter.h"
#include "convert/work_files.h"
#include "library/song_import.h"
#include "platform/clock.h"
#include "platform/fileutil.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "context/dictionary.h"

namespace {

using kestro::Bytes;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

using kestro::bench::PutBe32;
using kestro::bench::PutVarLen;

struct TrackData {
  Bytes bytes;
  uint32_t last = 0;
  void At(uint32_t t, std::initializer_list<uint8_t> ev) {
    PutVarLen(bytes, t - last);
    bytes.insert(bytes.end(), ev);
    last = t;
  }
  void Meta(uint32_t t, uint8_t type, const std::string& text) {
    PutVarLen(bytes, t - last);
    bytes.insert(bytes.end(), {0xFF, type, static_cast<uint8_t>(text.size())});
    bytes.insert(bytes.end(), text.begin(), text.end());
    last = t;
  }
};

// A .KAR file of about `size` bytes as karaoke programs write them: a
// conductor track, a words track of FF 01 syllables with "/" and "\" marks,
// a melody and accompaniment tracks with controllers, and drums.
Bytes MakeKaraokeFile(size_t size, std::mt19937& rng) {
  static const char* kSyllables[] = {"Vo", "la", "re ", "oh ", "o ", "can", "ta", "re ", "nel ", "blu ", "di",
                                     "pin", "to ", "di ", "blu ", "fe", "li", "ce ", "di ", "sta", "re ", "las", "su "};
  const uint32_t division = 480;
  const int instruments = 10;
  // Song length in beats from the size: about 210 bytes of events per beat.
  const uint32_t beats = static_cast<uint32_t>(size / 210);
  std::vector<TrackData> tracks(static_cast<size_t>(instruments + 3));

  TrackData& conductor = tracks[0];
  conductor.Meta(0, 0x03, "Canzone " + std::to_string(rng() % 1000));
  conductor.At(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
  conductor.At(0, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08});
  conductor.Meta(0, 0x01, "@KMIDI KARAOKE FILE");
  conductor.Meta(0, 0x02, "(C) 2024 Edizioni di prova");

  TrackData& words = tracks[1];
  words.Meta(0, 0x03, "Words");
  size_t w = 0;
  for (uint32_t beat = 4; beat < beats; beat += 1) {
    std::string s = kSyllables[w++ % std::size(kSyllables)];
    if (w % 9 == 0) s = "/" + s;
    if (w % 37 == 0) s = "\\" + s;
    words.Meta(beat * division, 0x01, s);
  }

  for (int i = 0; i < instruments; ++i) {
    TrackData& t = tracks[static_cast<size_t>(i + 2)];
    const uint8_t ch = static_cast<uint8_t>(i);
    t.Meta(0, 0x03, "Strumento " + std::to_string(i));
    t.At(0, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(rng() % 128)});
    t.At(0, {static_cast<uint8_t>(0xB0 | ch), 7, static_cast<uint8_t>(80 + rng() % 40)});
    t.At(0, {static_cast<uint8_t>(0xB0 | ch), 10, static_cast<uint8_t>(rng() % 128)});
    t.At(0, {static_cast<uint8_t>(0xB0 | ch), 91, 40});
    const int base = 40 + 5 * i;
    const uint32_t step = division / (1 + (i % 3));
    for (uint32_t at = 0; at < beats * division; at += step) {
      const uint8_t note = static_cast<uint8_t>(base + rng() % 12);
      t.At(at, {static_cast<uint8_t>(0x90 | ch), note, static_cast<uint8_t>(60 + rng() % 60)});
      t.At(at + step * 3 / 4, {static_cast<uint8_t>(0x80 | ch), note, 0x40});
      if (rng() % 16 == 0) t.At(at + step * 3 / 4, {static_cast<uint8_t>(0xE0 | ch), 0, static_cast<uint8_t>(rng() % 128)});
    }
  }
  TrackData& drums = tracks.back();
  for (uint32_t at = 0; at < beats * division; at += division / 2) {
    for (uint8_t note : {uint8_t{36}, uint8_t{42}}) {
      drums.At(at, {0x99, note, 100});
    }
    drums.At(at + 60, {0x89, 36, 0x40});
    drums.At(at + 60, {0x89, 42, 0x40});
  }

  Bytes f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<uint8_t>(tracks.size()), 0x01, 0xE0};
  for (auto& t : tracks) {
    t.At(t.last, {0xFF, 0x2F, 0x00});
    f.insert(f.end(), {'M', 'T', 'r', 'k'});
    PutBe32(f, static_cast<uint32_t>(t.bytes.size()));
    f.insert(f.end(), t.bytes.begin(), t.bytes.end());
  }
  return f;
}

// The digest of the 100 songs that the import writes (recorded after lyric
// pages of more than three inner line ends were split after the third): a
// quicker import must write the very same files. Change it only with a
// change that is meant to change the songs.
constexpr uint64_t kExpectedSongsDigest = 0x5e2c66aafaaa9585;

double Seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

// Processor time of the whole process, user and system: a measure that the
// other programs on a busy machine disturb less than the wall clock.
double ProcessorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// FNV-1a, 64 bits.
uint64_t Digest(uint64_t h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

// One digest over the names, sizes and bytes of the songs, in order.
uint64_t DigestOfSongs(const std::vector<std::filesystem::path>& songs) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (const auto& p : songs) {
    const std::string name = p.filename().string();
    auto bytes = kestro::ReadBinaryFile(p);
    const uint64_t size = bytes ? bytes->size() : ~uint64_t{0};
    h = Digest(h, reinterpret_cast<const uint8_t*>(name.data()), name.size());
    h = Digest(h, reinterpret_cast<const uint8_t*>(&size), sizeof size);
    if (bytes) h = Digest(h, bytes->data(), bytes->size());
  }
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char pattern[] = "/tmp/kestro-mf4-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path root = pattern;
  const fs::path install = root / "install", sources = root / "sources", songs = root / "songs";
  fs::create_directories(install);
  fs::create_directories(sources);
  fs::create_directories(songs);
  for (const char* f : {"DICT.DIC", "MIDI.DBF"}) {
    std::error_code ec;
    fs::copy_file(kestro::ShippedDataDir() / f, install / f, ec);
  }

  kestro::ScriptedUi ui;
  kestro::VirtualClock clock;
  kestro::ProfileFile profile(root / "Zumbla.INI");
  kestro::Dictionary dict;
  if (!dict.Load(install, profile, ui)) {
    std::fprintf(stderr, "no dictionary in %s (set KESTRO_DATA_DIR)\n", kestro::ShippedDataDir().c_str());
    return 1;
  }
  kestro::Env env{ui, clock, profile, dict, install};

  constexpr int kFiles = 100;
  std::mt19937 rng(2024);
  std::vector<fs::path> files;
  uint64_t sourceBytes = 0;
  for (int i = 0; i < kFiles; ++i) {
    const size_t size = 50 * 1024 + static_cast<size_t>(150 * 1024) * static_cast<size_t>(i) / (kFiles - 1);
    Bytes song = MakeKaraokeFile(size, rng);
    fs::path p = sources / ("song" + std::to_string(i) + ".kar");
    kestro::WriteBinaryFile(p, song);
    files.push_back(p);
    sourceBytes += song.size();
  }

  // The conversion alone (with its lyric layout), into the install folder.
  kestro::ConvertContext conversion;
  auto t0 = Steady::now();
  for (const auto& f : files) {
    kestro::import_midi_file(env, conversion, f, install / "0.MID", true);
    kestro::workfile::RemoveAll(env, f.stem().string());
  }
  const double convertSeconds = Seconds(Steady::now() - t0);

  // The whole import: conversion, packing and the header texts, each run
  // into a fresh song folder.
  double bestWall = 1e9, bestProcessor = 1e9;
  int imported = 0;
  uint64_t songBytes = 0;
  for (int run = 0; run < runs; ++run) {
    const fs::path folder = songs / std::to_string(run);
    fs::create_directories(folder);
    kestro::ConvertContext ctx;
    ctx.EnableQuestions();
    imported = 0;
    songBytes = 0;
    std::vector<fs::path> written;
    const double p0 = ProcessorSeconds();
    t0 = Steady::now();
    kestro::library::ImportSongFiles(env, ctx, files, folder, {},
                                     [&](size_t, const kestro::library::ImportResult& r) {
                                       if (r.outcome == kestro::library::ImportOutcome::Imported) {
                                         ++imported;
                                         written.push_back(r.destination);
                                       }
                                       return true;
                                     });
    const double wall = Seconds(Steady::now() - t0);
    const double processor = ProcessorSeconds() - p0;
    for (const auto& w : written) songBytes += fs::file_size(w);
    const uint64_t digest = DigestOfSongs(written);
    if (imported != kFiles || digest != kExpectedSongsDigest) {
      std::fprintf(stderr, "the import wrote %d songs with digest %016llx, not the %d recorded songs (%016llx)\n",
                   imported, static_cast<unsigned long long>(digest), kFiles,
                   static_cast<unsigned long long>(kExpectedSongsDigest));
      std::error_code ec;
      fs::remove_all(root, ec);
      return 1;
    }
    bestWall = std::min(bestWall, wall);
    bestProcessor = std::min(bestProcessor, processor);
  }

  std::printf("karaoke files: %d, %.1f KB on average (%.0f to %.0f KB)\n", kFiles,
              static_cast<double>(sourceBytes) / kFiles / 1024, static_cast<double>(fs::file_size(files.front())) / 1024,
              static_cast<double>(fs::file_size(files.back())) / 1024);
  std::printf("conversion only:  %.2f s in all, %.1f ms per file, %.1f MB/s\n", convertSeconds,
              convertSeconds * 1000 / kFiles, static_cast<double>(sourceBytes) / 1e6 / convertSeconds);
  std::printf("whole import:     %.2f s in all (processor time %.2f s), %.1f ms per file, %.1f MB/s; best of %d\n",
              bestWall, bestProcessor, bestWall * 1000 / kFiles, static_cast<double>(sourceBytes) / 1e6 / bestWall, runs);
  std::printf("imported %d songs, %.1f KB per MF4 file, byte for byte the recorded ones; %zu messages shown\n", imported,
              static_cast<double>(songBytes) / imported / 1024, ui.messages.size());
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
