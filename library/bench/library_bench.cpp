// Times of the card's index work with a full card list, and of a PC folder
// scan.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "library/index_files.h"
#include "library/library.h"
#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "context/dictionary.h"

namespace {

namespace fs = std::filesystem;
using Stopwatch = std::chrono::steady_clock;

double Seconds(Stopwatch::time_point since) { return std::chrono::duration<double>(Stopwatch::now() - since).count(); }

}  // namespace

int main() {
  using namespace kestro;
  fs::path dir = fs::temp_directory_path() / ("kestro-library-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir / "card");
  fs::create_directories(dir / "songs");
  ProfileFile profile(dir / "Zumbla.INI");
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir};
  library::Library lib(env);
  lib.medium = library::kMediumCardReader;
  lib.flashDrive = dir / "card";

  // A full card: 16,384 songs, 2,000 performers.
  for (int i = 0; i < 16384; ++i) {
    library::SongRecord r;
    r.code = static_cast<uint16_t>(i);
    r.title = "SONG " + std::to_string((i * 7919) % 16384);
    r.author = "PERFORMER " + std::to_string(i % 2000);
    r.fileName = library::SongFileName(r.code, i % 10 == 0);
    lib.player.push_back(r);
  }
  lib.CreateCardStructure();
  auto t0 = Stopwatch::now();
  bool ok = lib.RebuildCardIndexes();
  double rebuild = Seconds(t0);
  t0 = Stopwatch::now();
  lib.player.clear();
  ok = ok && lib.LoadCardSongList();
  double load = Seconds(t0);
  std::printf("RebuildCardIndexes, 16384 songs: %.3f s\n", rebuild);
  std::printf("LoadCardSongList, 16384 songs:   %.3f s (%zu songs loaded)\n", load, lib.player.size());

  // A PC folder of 5,000 song files.
  Bytes header(2048, 0);
  std::memcpy(header.data(), "_MF4", 4);
  for (int i = 0; i < 5000; ++i) {
    std::string t = "TITLE " + std::to_string(i);
    std::memcpy(header.data() + 122, t.c_str(), t.size() + 1);
    WriteBinaryFile(dir / "songs" / ("song" + std::to_string(i) + ".MF4"), header);
  }
  library::SongList pc;
  t0 = Stopwatch::now();
  library::ScanPcFolder(env, dir / "songs", pc);
  std::printf("ScanPcFolder, 5000 files:        %.3f s (%zu songs)\n", Seconds(t0), pc.size());

  std::error_code ec;
  fs::remove_all(dir, ec);
  return ok && pc.size() == 5000 ? 0 : 1;
}
