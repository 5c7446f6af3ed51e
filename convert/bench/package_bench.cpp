// Packs and unpacks a 10 MB corpus of MIDI files and random data and prints
// the speed of each direction, for the coder on memory and for pack/unpack
// on files.
#include <unistd.h>

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
#include "convert/lzhuf.h"
#include "convert/package.h"
#include "platform/clock.h"
#include "platform/fileutil.h"
#include "platform/profile.h"
#include "platform/scripted_ui.h"
#include "context/dictionary.h"

namespace {

using kestro::Bytes;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using kestro::bench::PutBe32;
using kestro::bench::PutVarLen;

// A Standard MIDI file of about `size` bytes: a conductor track and a few
// instrument tracks with notes, controllers and lyrics.
Bytes MakeMidiFile(size_t size, std::mt19937& rng) {
  static const char* kWords[] = {"Vo", "la", "re ", "oh ", "o ", "can", "ta", "re ", "nel ", "blu ", "di", "pin", "to "};
  Bytes f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 5, 0x01, 0xE0};
  const int tracks = 5;
  for (int t = 0; t < tracks; ++t) {
    Bytes trk;
    uint8_t ch = static_cast<uint8_t>(t);
    std::vector<uint8_t> scale = {0, 2, 4, 5, 7, 9, 11};
    int base = 48 + 12 * (t % 3);
    size_t target = size / tracks;
    if (t == 0) {
      trk.insert(trk.end(), {0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20, 0, 0xFF, 0x58, 4, 4, 2, 24, 8});
    }
    trk.insert(trk.end(), {0, static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(rng() % 128)});
    int bar = 0;
    while (trk.size() < target) {
      // A phrase repeats with small changes, like real songs do.
      for (int n = 0; n < 16 && trk.size() < target; ++n) {
        uint8_t note = static_cast<uint8_t>(base + scale[(n * 3 + bar) % 7] + (rng() % 8 == 0 ? 12 : 0));
        uint8_t vel = static_cast<uint8_t>(80 + rng() % 30);
        PutVarLen(trk, n == 0 ? 0 : 120);
        trk.insert(trk.end(), {static_cast<uint8_t>(0x90 | ch), note, vel});
        if (t == 1) {
          const char* w = kWords[(n + bar) % 13];
          size_t len = std::char_traits<char>::length(w);
          trk.insert(trk.end(), {0, 0xFF, 0x05, static_cast<uint8_t>(len)});
          trk.insert(trk.end(), w, w + len);
        }
        if (rng() % 6 == 0) {
          trk.insert(trk.end(), {0, static_cast<uint8_t>(0xB0 | ch), 7, static_cast<uint8_t>(90 + rng() % 20)});
        }
        PutVarLen(trk, 360 + (rng() % 3) * 60);
        trk.insert(trk.end(), {static_cast<uint8_t>(0x80 | ch), note, 0x40});
      }
      ++bar;
    }
    trk.insert(trk.end(), {0, 0xFF, 0x2F, 0});
    f.insert(f.end(), {'M', 'T', 'r', 'k'});
    PutBe32(f, static_cast<uint32_t>(trk.size()));
    f.insert(f.end(), trk.begin(), trk.end());
  }
  return f;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Part {
  std::string name;
  std::vector<Bytes> files;
  size_t bytes = 0;
};

// Best of a few runs of the coder over every file of a part.
void BenchCoder(const Part& part, int runs) {
  auto enc = std::make_unique<kestro::lzhuf::Encoder>();
  auto dec = std::make_unique<kestro::lzhuf::Decoder>();
  std::vector<Bytes> bodies(part.files.size());
  double bestEnc = 1e9, bestDec = 1e9;
  size_t packed = 0;
  for (int r = 0; r < runs; ++r) {
    auto t0 = Clock::now();
    for (size_t i = 0; i < part.files.size(); ++i) {
      bodies[i].clear();
      enc->Encode(part.files[i].data(), part.files[i].size(), bodies[i]);
    }
    auto t1 = Clock::now();
    Bytes out;
    bool ok = true;
    for (size_t i = 0; i < part.files.size(); ++i) {
      ok = dec->Decode(bodies[i].data(), bodies[i].size(), out) == kestro::lzhuf::DecodeStatus::Ok && ok;
      ok = ok && out == part.files[i];
    }
    auto t2 = Clock::now();
    if (!ok) {
      std::fprintf(stderr, "round trip failed for %s\n", part.name.c_str());
      std::exit(1);
    }
    bestEnc = std::min(bestEnc, Seconds(t1 - t0));
    bestDec = std::min(bestDec, Seconds(t2 - t1));
  }
  packed = 0;
  for (const auto& b : bodies) packed += b.size();
  double mb = static_cast<double>(part.bytes) / (1024.0 * 1024.0);
  std::printf("  %-26s %6.2f MB -> %6.2f MB (%5.1f%%)   pack %7.1f MB/s   unpack %7.1f MB/s\n", part.name.c_str(), mb,
              static_cast<double>(packed) / (1024.0 * 1024.0), 100.0 * static_cast<double>(packed) / static_cast<double>(part.bytes),
              mb / bestEnc, mb / bestDec);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::mt19937 rng(2024);

  const size_t kTotal = size_t{10} << 20;
  Part midi{"MIDI files", {}, 0};
  while (midi.bytes < kTotal * 7 / 10) {
    Bytes f = MakeMidiFile(40000 + rng() % 260000, rng);
    midi.bytes += f.size();
    midi.files.push_back(std::move(f));
  }
  Part random{"random data", {}, 0};
  while (midi.bytes + random.bytes < kTotal) {
    size_t n = std::min<size_t>(512 * 1024, kTotal - midi.bytes - random.bytes);
    Bytes f(n);
    for (auto& b : f) b = static_cast<uint8_t>(rng() >> 24);
    random.bytes += n;
    random.files.push_back(std::move(f));
  }
  Part all{"whole corpus", midi.files, midi.bytes + random.bytes};
  all.files.insert(all.files.end(), random.files.begin(), random.files.end());

  std::printf("Song package codec, best of %d runs\n", runs);
  std::printf("Coder on memory (%zu files):\n", all.files.size());
  BenchCoder(midi, runs);
  BenchCoder(random, runs);
  BenchCoder(all, runs);

  // pack / unpack on files, as every import does.
  fs::path dir = fs::temp_directory_path() / ("kestro-package-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  kestro::ScriptedUi ui;
  kestro::VirtualClock clock;
  kestro::ProfileFile profile(dir / "Zumbla.INI");
  kestro::Dictionary dict;
  dict.LoadFromText("", "ITALIANO", ui);
  kestro::Env env{ui, clock, profile, dict, dir};
  std::vector<fs::path> sources;
  for (size_t i = 0; i < all.files.size(); ++i) {
    fs::path p = dir / ("song" + std::to_string(i) + ".mid");
    kestro::WriteBinaryFile(p, all.files[i]);
    sources.push_back(p);
  }
  double bestPack = 1e9, bestUnpack = 1e9;
  for (int r = 0; r < runs; ++r) {
    auto t0 = Clock::now();
    for (size_t i = 0; i < sources.size(); ++i) {
      kestro::PackageHeader h;
      if (kestro::pack(env, h, sources[i], dir / ("song" + std::to_string(i) + ".mf4")) != kestro::kPackDone) return 1;
    }
    auto t1 = Clock::now();
    for (size_t i = 0; i < sources.size(); ++i) {
      kestro::PackageHeader h;
      if (kestro::unpack(env, h, dir / ("song" + std::to_string(i) + ".mf4"), dir / "out.mid") != kestro::kPackDone)
        return 1;
    }
    auto t2 = Clock::now();
    bestPack = std::min(bestPack, Seconds(t1 - t0));
    bestUnpack = std::min(bestUnpack, Seconds(t2 - t1));
  }
  double mb = static_cast<double>(all.bytes) / (1024.0 * 1024.0);
  std::printf("pack/unpack on files (%zu files, %.2f MB):\n", sources.size(), mb);
  std::printf("  pack %7.1f MB/s   unpack %7.1f MB/s\n", mb / bestPack, mb / bestUnpack);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
