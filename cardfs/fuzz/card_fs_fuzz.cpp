// A card image from anywhere (a card another machine wrote, or damaged) under
// the card code, through sectors held in memory instead of the player: mount,
// the root directory and every folder walked, every small file read, the
// free count, the card report; then a song written, read back and deleted.
//
// The input is a list of sectors, each three bytes of sector number (low
// byte first) and 512 bytes of data; a sector not listed reads as zeros, one
// past the last 4 GB (but the identification block) cannot be read.
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cardfs/card_fs.h"
#include "context/fuzz/fuzz_support.h"
#include "platform/fileutil.h"

using namespace kestro;

namespace {

constexpr uint32_t kReadableSectors = 1u << 23;
// Files larger than this are not read (a made-up chain may be long).
constexpr uint32_t kLargestRead = 256 * 1024;
// Entries walked per folder at most (a made-up chain may be long).
constexpr int kLargestWalk = 4096;

class MemoryCard final : public SectorStore {
 public:
  std::map<uint32_t, std::array<uint8_t, kSectorBytes>> sectors;
  bool ReadSector(uint32_t sector, uint8_t* out512) override {
    if (sector >= kReadableSectors && sector != kIdentifySectorNumber) return false;
    auto it = sectors.find(sector);
    if (it == sectors.end()) std::memset(out512, 0, kSectorBytes);
    else std::memcpy(out512, it->second.data(), kSectorBytes);
    return true;
  }
  bool WriteSector(uint32_t sector, const uint8_t* data512) override {
    if (sector >= kReadableSectors) return false;
    std::memcpy(sectors[sector].data(), data512, kSectorBytes);
    return true;
  }
};

class NoDevice final : public ByteChannel {
 public:
  bool Open(IoWait&) override { return false; }
  bool Close() override { return false; }
  bool IsOpen() const override { return false; }
  IoResult Send(const uint8_t*, size_t, uint32_t, IoWait&) override { return {}; }
  IoResult Receive(uint8_t*, size_t, uint32_t, IoWait&) override { return {}; }
};

LinkChannels NoChannels() {
  LinkChannels c;
  c.ftdi = std::make_unique<NoDevice>();
  c.bulk = std::make_unique<NoDevice>();
  return c;
}

bool Mount(CardFs& card) { return card.MountVolume() == 1 && card.ReadRootDirectory() == 1; }

// Every file of the root and of its folders read (the small ones), every
// folder walked.
void ReadEverything(CardFs& card) {
  const auto pc = fuzz::ScratchDir() / "read.bin";
  const uint32_t entries = std::min<uint32_t>(card.RootEntryCount(), 512);
  for (uint32_t i = 0; i < entries && card.LinkErrorState() != 1; ++i) {
    CardDirEntry e;
    std::memcpy(e.bytes.data(), card.RootEntry(i), kDirEntrySize);
    if (e.bytes[0] == 0) break;
    if (e.bytes[0] == fat::kDeleted || e.Attribute() == fat::kAttrLongName || (e.Attribute() & fat::kAttrVolume))
      continue;
    const std::string name(e.Name());
    if (e.Attribute() & fat::kAttrDirectory) {
      uint8_t entry[kDirEntrySize];
      int n = 0;
      for (int more = card.ListDirFirst(name, entry); more && n < kLargestWalk; more = card.ListDirNext(entry), ++n) {
        if (entry[0] == 0 || entry[0] == fat::kDeleted || entry[0] == '.') continue;
        CardDirEntry f;
        std::memcpy(f.bytes.data(), entry, kDirEntrySize);
        if (f.Attribute() & (fat::kAttrDirectory | fat::kAttrVolume)) continue;
        if (f.Size() > kLargestRead) continue;
        // A damaged folder may hold a name twice: a read by name reads the
        // first entry of that name, and must give it whole.
        const std::string fname(f.Name());
        CardDirEntry found;
        if (!card.FindEntry(name, fname, found) || found.Size() > kLargestRead) continue;
        if (card.CardReadFile(name, fname, pc) == 1) {
          auto size = FileSize(pc);
          if (!size || *size != found.Size()) std::abort();  // a file read is read whole
        }
      }
    } else if (e.Size() <= kLargestRead) {
      (void)card.CardFileSectors(name);
      CardDirEntry found;
      if (!card.FindEntry("", name, found) || found.Size() > kLargestRead) continue;
      if (card.CardReadFile("", name, pc) == 1) {
        auto size = FileSize(pc);
        if (!size || *size != found.Size()) std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  fuzz::FuzzEnv fe;
  MemoryCard memory;
  for (size_t at = 0; at + 3 < size; at += 3 + kSectorBytes) {
    uint32_t sector = data[at] | data[at + 1] << 8 | static_cast<uint32_t>(data[at + 2]) << 16;
    auto& s = memory.sectors[sector];
    s.fill(0);
    std::memcpy(s.data(), data + at + 3, std::min(kSectorBytes, size - at - 3));
  }

  BasicCycleSide cycle;
  Link link(fe.env, NoChannels(), cycle);
  SectorAccess sectors(link, memory);
  Player player(link);
  CardFs card(sectors, player);
  card.localTime = [] { return std::optional(LocalDateTime{2024, 5, 6, 7, 8, 10}); };
  if (!Mount(card)) return 0;

  (void)card.CountFreeClusters();
  (void)card.CountChains();
  (void)card.ShowCardSpace();
  (void)card.WriteCardReport(fuzz::ScratchDir() / "report.html");
  ReadEverything(card);

  // A song into folder 7, as a transfer writes it: what was written reads
  // back the same after a fresh mount, and a delete gives its room back.
  if (!Mount(card)) return 0;
  Bytes song(3000);
  for (size_t i = 0; i < song.size(); ++i) song[i] = static_cast<uint8_t>(i * 7 + 1);
  const auto pcSong = fuzz::ScratchDir() / "song.MF4";
  WriteBinaryFile(pcSong, song);
  const std::string folder = FolderName11(7), name = SongName11(7);
  (void)card.MakeDirectory(folder);
  card.SetDeferredFlush(true);
  int written = card.CardWriteFile(folder, name, pcSong);
  card.SetDeferredFlush(false);
  int flushed = card.FlushFat();
  if (written == 1 && flushed == 1) {
    if (!Mount(card)) std::abort();  // the card mounted before the write
    const auto back = fuzz::ScratchDir() / "back.MF4";
    if (card.CardReadFile(folder, name, back) == 1 && ReadBinaryFile(back) != song) std::abort();
  }
  (void)card.CardDeleteFile(folder, name);
  (void)card.FlushFat();
  return 0;
}
