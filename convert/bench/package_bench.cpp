// Packs and unpacks a 10 MB corpus of MIDI files and random data and prints
// the speed of each direction: the coder on memory against the published
// coder on the same input in the same run (best of a few runs each, every
// body checked bit for bit against the published one), pack and unpack on
// files, and the peak memory of packing and unpacking a 10 MB input in a
// process of its own.
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
#include "convert/tests/lzhuf_reference.h"
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

double MegaBytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// Both coders over every file of a part, back to back, best of `runs`.
void CompareWithPublished(const Part& part, int runs) {
  auto ours = std::make_unique<kestro::lzhuf::Encoder>();
  auto ourDecoder = std::make_unique<kestro::lzhuf::Decoder>();
  auto published = std::make_unique<kestro::testing::ReferenceLzhuf>();
  std::vector<Bytes> expected(part.files.size()), bodies(part.files.size());
  double packOurs = 1e9, packPublished = 1e9, unpackOurs = 1e9, unpackPublished = 1e9;
  size_t packed = 0;
  for (int r = 0; r < runs; ++r) {
    auto t0 = Clock::now();
    for (size_t i = 0; i < part.files.size(); ++i) expected[i] = published->Encode(part.files[i]);
    auto t1 = Clock::now();
    for (size_t i = 0; i < part.files.size(); ++i) {
      bodies[i].clear();
      ours->Encode(part.files[i].data(), part.files[i].size(), bodies[i]);
    }
    auto t2 = Clock::now();
    packPublished = std::min(packPublished, Seconds(t1 - t0));
    packOurs = std::min(packOurs, Seconds(t2 - t1));
    if (bodies != expected) {
      std::fprintf(stderr, "%s: the packed bodies differ from the published coder's\n", part.name.c_str());
      std::exit(1);
    }

    bool same = true;
    Bytes out;
    t0 = Clock::now();
    for (size_t i = 0; i < part.files.size(); ++i) same = published->Decode(expected[i]) == part.files[i] && same;
    t1 = Clock::now();
    for (size_t i = 0; i < part.files.size(); ++i) {
      same = ourDecoder->Decode(bodies[i].data(), bodies[i].size(), out) == kestro::lzhuf::DecodeStatus::Ok &&
             out == part.files[i] && same;
    }
    t2 = Clock::now();
    if (!same) {
      std::fprintf(stderr, "%s: unpacking did not give the files back\n", part.name.c_str());
      std::exit(1);
    }
    unpackPublished = std::min(unpackPublished, Seconds(t1 - t0));
    unpackOurs = std::min(unpackOurs, Seconds(t2 - t1));
  }
  packed = 0;
  for (const auto& b : bodies) packed += b.size();
  const double mb = MegaBytes(part.bytes);
  std::printf("  %-12s %5.2f MB -> %5.2f MB   pack %5.2fx (%6.1f MB/s, published %6.1f)   unpack %5.2fx (%6.1f MB/s, published %6.1f)\n",
              part.name.c_str(), mb, MegaBytes(packed), packPublished / packOurs, mb / packOurs, mb / packPublished,
              unpackPublished / unpackOurs, mb / unpackOurs, mb / unpackPublished);
}

// The child process of a peak-memory measure: one pack or unpack, then the
// process's peak resident memory in KB on standard output. The kernel's
// high-water mark of this program's own memory (VmHWM) is read, as the
// resource usage of a child also counts the parent it was forked from.
int PeakChild(const std::string& what, const fs::path& in, const fs::path& out) {
  int r = kestro::kPackFailed;
  {
    kestro::ScriptedUi ui;
    kestro::VirtualClock clock;
    kestro::ProfileFile profile(out.parent_path() / "Zumbla.INI");
    kestro::Dictionary dict;
    dict.LoadFromText("", "ITALIANO", ui);
    kestro::Env env{ui, clock, profile, dict, out.parent_path()};
    kestro::PackageHeader h;
    r = what == "pack" ? kestro::pack(env, h, in, out) : kestro::unpack(env, h, in, out);
  }
  auto status = kestro::ReadTextFile("/proc/self/status");
  size_t at = status ? status->find("VmHWM:") : std::string::npos;
  if (r != kestro::kPackDone || at == std::string::npos) return 1;
  std::printf("%ld\n", std::strtol(status->c_str() + at + 6, nullptr, 10));
  return 0;
}

// Peak resident memory of a pack or unpack in a process of its own, in MB.
double PeakMegaBytes(const std::string& what, const fs::path& in, const fs::path& out) {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const std::string command = "'" + self.string() + "' --peak " + what + " '" + in.string() + "' '" + out.string() + "'";
  std::FILE* child = popen(command.c_str(), "r");
  long kb = -1;
  if (!child || std::fscanf(child, "%ld", &kb) != 1 || pclose(child) != 0 || kb <= 0) {
    std::fprintf(stderr, "%s of %s failed\n", what.c_str(), in.c_str());
    std::exit(1);
  }
  return static_cast<double>(kb) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--peak") return PeakChild(argv[2], argv[3], argv[4]);
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
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
  std::printf("Against the published coder (-O2), same input, same run; bodies bit for bit the same:\n");
  CompareWithPublished(midi, runs);
  CompareWithPublished(random, runs);
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

  // Peak memory of one 10 MB input, each kind in a process of its own.
  std::printf("peak memory with a 10 MB input (whole process; limit 40 MB):\n");
  for (const Part* part : {&midi, &random}) {
    Bytes big;
    while (big.size() < kTotal) {
      for (const auto& f : part->files) big.insert(big.end(), f.begin(), f.end());
    }
    big.resize(kTotal);
    const fs::path in = dir / "big.in", packed = dir / "big.mf4", back = dir / "big.out";
    kestro::WriteBinaryFile(in, big);
    const double packPeak = PeakMegaBytes("pack", in, packed);
    const double unpackPeak = PeakMegaBytes("unpack", packed, back);
    if (kestro::ReadBinaryFile(back) != big) {
      std::fprintf(stderr, "the 10 MB input did not come back\n");
      return 1;
    }
    std::printf("  %-12s pack %5.1f MB   unpack %5.1f MB\n", part->name.c_str(), packPeak, unpackPeak);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
