// Sector traffic of the card file system against the in-process simulator:
// a batch of 10 songs of 100 KB written into their folders, and a mount with
// its free-space count, each beside the least the card's layout needs.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

#include "cardfs/card_fs.h"
#include "platform/fileutil.h"
#include "platform/paths.h"
#include "sim/sim_rig.h"

namespace {

using namespace kestro;
namespace fs = std::filesystem;

constexpr int kSongs = 10;
constexpr size_t kSongBytes = 100 * 1024;

// The sectors of [first, first + count) that differ between two readings.
std::set<uint32_t> Changed(sim::CardImage& card, uint32_t first, uint32_t count, const std::vector<Bytes>& before) {
  std::set<uint32_t> out;
  for (uint32_t i = 0; i < count; ++i) {
    Bytes now(512);
    card.Read(first + i, now.data());
    if (now != before[i]) out.insert(first + i);
  }
  return out;
}

std::vector<Bytes> Snapshot(sim::CardImage& card, uint32_t first, uint32_t count) {
  std::vector<Bytes> out(count, Bytes(512));
  for (uint32_t i = 0; i < count; ++i) card.Read(first + i, out[i].data());
  return out;
}

struct Traffic {
  uint64_t reads, writes;
};
Traffic Now(const SectorAccess& s) { return {s.traffic.reads, s.traffic.writes}; }

bool Bench(uint64_t cardMb) {
  sim::SimConfig cfg;
  cfg.cardBytes = cardMb << 20;
  cfg.mode = sim::Mode::Card;
  cfg.keepWireLog = false;
  sim::SimRig rig(cfg);
  if (!CopyFileOver(ShippedDataDir() / "MBRPBR.DAT", rig.dir / "MBRPBR.DAT")) {
    std::fprintf(stderr, "MBRPBR.DAT not found in %s\n", ShippedDataDir().c_str());
    return false;
  }
  SectorAccess sectors(rig.link);
  CardFs card(sectors, rig.player);
  rig.link.LinkOpen();
  rig.player.CardAccessBegin();
  rig.player.CardAccessOpen();
  if (!card.FormatCard() || !card.CheckCard()) {
    std::fprintf(stderr, "the card was not formatted\n");
    return false;
  }
  for (int f = 0; f <= 30; ++f) card.MakeDirectory(FolderName11(f));
  card.FlushFat();
  // The connection cycle's card check comes first, as in the program.
  if (!card.CheckCard()) return false;
  const VolumeRecord v = card.Volume();
  sim::CardImage& img = *rig.sim.Card();
  std::printf("card %llu MB: clusters of %u bytes, %u FATs of %u sectors, %u clusters\n",
              static_cast<unsigned long long>(cardMb), v.bytesPerCluster, v.numberOfFats, v.sectorsPerFat,
              v.clusterCount - 2);

  // --- The batch ---
  Bytes song(kSongBytes);
  for (size_t i = 0; i < song.size(); ++i) song[i] = static_cast<uint8_t>(i * 31 + i / 512);
  fs::path pc = rig.dir / "song.mf4";
  WriteBinaryFile(pc, song);
  auto fatBefore = Snapshot(img, v.firstFatSector, v.sectorsPerFat);
  Traffic t0 = Now(sectors);
  auto start = std::chrono::steady_clock::now();
  card.SetDeferredFlush(true);
  for (uint16_t code = 1; code <= kSongs; ++code) {
    if (!card.CardWriteFile(FolderName11(code % 31), SongName11(code), pc)) {
      std::fprintf(stderr, "song %u was not written\n", code);
      return false;
    }
  }
  card.SetDeferredFlush(false);
  card.FlushFat();
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  Traffic t1 = Now(sectors);

  uint64_t clustersPerSong = (kSongBytes + v.bytesPerCluster - 1) / v.bytesPerCluster;
  uint64_t dataSectors = kSongs * clustersPerSong * v.sectorsPerCluster;
  std::set<uint32_t> dirSectors;
  for (uint16_t code = 1; code <= kSongs; ++code) {
    CardDirEntry e;
    card.FindEntry(FolderName11(code % 31), SongName11(code), e);
    dirSectors.insert(v.ClusterSector(e.dirCluster) + static_cast<uint32_t>(e.index) / 16);
  }
  uint64_t fatSectors = Changed(img, v.firstFatSector, v.sectorsPerFat, fatBefore).size();
  uint64_t leastWrites = dataSectors + dirSectors.size() + fatSectors * v.numberOfFats;
  // Each folder's sector is read once to add the entry; the FAT is in memory
  // since the card check.
  uint64_t leastReads = dirSectors.size();
  std::printf("  %d songs of %zu KB: %llu sector writes (least %llu: %llu data, %zu directory, %llu FAT x %u), "
              "%llu sector reads (least %llu: directory), %.0f ms in-process\n",
              kSongs, kSongBytes / 1024, static_cast<unsigned long long>(t1.writes - t0.writes),
              static_cast<unsigned long long>(leastWrites), static_cast<unsigned long long>(dataSectors),
              dirSectors.size(), static_cast<unsigned long long>(fatSectors), v.numberOfFats,
              static_cast<unsigned long long>(t1.reads - t0.reads), static_cast<unsigned long long>(leastReads), ms);

  // --- A mount with its free count, as at every connection ---
  SectorAccess sectors2(rig.link);
  CardFs fresh(sectors2, rig.player);
  start = std::chrono::steady_clock::now();
  if (!fresh.CheckCard()) return false;
  ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  uint64_t fatRead = (v.clusterCount + 255) / 256;
  uint64_t leastMount = 1 + 2 + v.rootSectors + fatRead;  // identification, MBR and boot sector, root, FAT
  std::printf("  mount and free count: %llu sector reads (least %llu: identification 1, MBR and boot sector 2, "
              "root %u, FAT %llu), %llu sector writes, %.0f ms in-process\n",
              static_cast<unsigned long long>(sectors2.traffic.reads), static_cast<unsigned long long>(leastMount),
              v.rootSectors, static_cast<unsigned long long>(fatRead),
              static_cast<unsigned long long>(sectors2.traffic.writes), ms);
  std::printf("  (a sector read moves 523 bytes over the link, a write 524)\n");
  rig.player.CardAccessEnd();
  rig.link.LinkClose();
  return true;
}

}  // namespace

int main() {
  bool ok = true;
  for (uint64_t mb : {32, 256}) ok = Bench(mb) && ok;
  return ok ? 0 : 1;
}
