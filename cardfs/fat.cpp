// The FAT image, directories and whole-file copies.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cardfs/card_fs.h"
#include "platform/bytes.h"
#include "platform/charmap.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

// The directory part of a directory argument in its 11-character form
// (blank-padded when given shorter); empty for the root.
std::optional<std::string> DirName(std::string_view dir) {
  dir = dir.substr(0, dir.find('\\'));
  std::string d(dir);
  while (!d.empty() && d.back() == ' ') d.pop_back();
  if (d.empty()) return std::string();
  if (dir.size() > kName11) return std::nullopt;
  std::string out(dir);
  out.resize(kName11, ' ');
  return out;
}

// Clusters met on a walk along a chain: a chain that comes back to one is
// damaged, and ends the walk there.
class Visited {
 public:
  explicit Visited(uint32_t clusters) : seen_(clusters, false) {}
  bool First(uint32_t c) {
    if (c >= seen_.size() || seen_[c]) return false;
    seen_[c] = true;
    return true;
  }

 private:
  std::vector<bool> seen_;
};

bool SameName(const uint8_t* entry, std::string_view name11) {
  return name11.size() == kName11 && std::memcmp(entry, name11.data(), kName11) == 0;
}

}  // namespace

// --- FAT image ---

int CardFs::LoadFatSector(uint32_t k) {
  if (k >= fatState_.size() || fatState_[k] == fat::kUnreadable) return 0;
  if (fatState_[k] != fat::kNotLoaded) return 1;
  if (!ReadVolume(volume_.firstFatSector + k, 1, fat_.data() + static_cast<size_t>(k) * kSectorBytes)) {
    // Read in vain through every retry: not asked for again until the next
    // mount. A lost link says nothing about the sector.
    if (LinkErrorState() != 1) fatState_[k] = fat::kUnreadable;
    return 0;
  }
  fatState_[k] = fat::kLoaded;
  // Free clusters in a sector seen for the first time may lie below the
  // search start, if an earlier read of it failed.
  lowestFree_ = std::min(lowestFree_, std::max<uint32_t>(2, k * 256));
  return 1;
}

uint16_t CardFs::FatGetEntry(uint32_t cluster) {
  if (!mounted_ || cluster >= volume_.clusterCount) return 0;
  // A FAT sector that cannot be read counts as in use: nothing is
  // allocated over clusters whose state is unknown.
  if (!LoadFatSector(cluster / 256)) return fat::kEndOfChain;
  return Le16(fat_.data() + static_cast<size_t>(cluster) * 2);
}

void CardFs::FatSetEntry(uint32_t cluster, uint16_t value) {
  if (!mounted_ || cluster >= volume_.clusterCount) return;
  uint32_t k = cluster / 256;
  // The rest of the sector must come from the card before it is written back.
  if (!LoadFatSector(k)) return;
  PutLe16(fat_.data() + static_cast<size_t>(cluster) * 2, value);
  fatState_[k] = fat::kChanged;
  if (value == fat::kFree && cluster >= 2 && cluster < lowestFree_) lowestFree_ = cluster;
}

int CardFs::WriteFatSectors() {
  uint32_t n = static_cast<uint32_t>(fatState_.size());
  for (uint32_t k = 0; k < n;) {
    if (fatState_[k] != fat::kChanged) {
      ++k;
      continue;
    }
    uint32_t end = k;
    while (end < n && fatState_[end] == fat::kChanged) fatState_[end++] = fat::kLoaded;
    for (uint32_t f = 0; f < volume_.numberOfFats; ++f) {
      uint32_t at = volume_.firstFatSector + f * volume_.sectorsPerFat + k;
      if (!WriteVolume(at, end - k, fat_.data() + static_cast<size_t>(k) * kSectorBytes)) {
        // Still to be written: a later flush tries again.
        for (uint32_t j = k; j < end; ++j) fatState_[j] = fat::kChanged;
        return 0;
      }
    }
    k = end;
  }
  return 1;
}

int CardFs::FlushFat() {
  if (deferredFlush_) return 1;
  if (!mounted_) return 0;
  if (!WriteFatSectors()) return 0;
  return WriteStagedDirectories();
}

uint16_t CardFs::FindFreeCluster() {
  if (!mounted_) return 0;
  // Only clusters the player's firmware knows of.
  for (uint32_t c = std::max<uint32_t>(2, lowestFree_); c < volume_.playerClusterCount; ++c) {
    if (FatGetEntry(c) == fat::kFree) {
      lowestFree_ = c;
      return static_cast<uint16_t>(c);
    }
    if (LinkErrorState() == 1) return 0;
  }
  lowestFree_ = volume_.playerClusterCount;
  return 0;
}

uint32_t CardFs::CountFreeUpTo(uint32_t enough) {
  uint32_t n = 0;
  for (uint32_t c = std::max<uint32_t>(2, lowestFree_); c < volume_.playerClusterCount && n < enough; ++c) {
    if (FatGetEntry(c) == fat::kFree) ++n;
    if (LinkErrorState() == 1) return 0;
  }
  return n;
}

uint32_t CardFs::ChainLength(uint32_t first) {
  uint32_t n = 0;
  Visited visited(volume_.clusterCount);
  for (uint32_t c = first; ValidCluster(c) && visited.First(c); ++n) {
    uint16_t next = FatGetEntry(c);
    if (LinkErrorState() == 1 || next >= fat::kFirstEnd) return n + 1;
    c = next;
  }
  return n;
}

int64_t CardFs::NextCluster(uint32_t cluster) {
  uint16_t v = FatGetEntry(cluster);
  if (v >= fat::kFirstEnd) return 0;
  if (!ValidCluster(v)) return -1;
  return v;
}

void CardFs::BrokenChain() {
  env().ui.ShowMessage(env().T("MSG_CF_INTERNAL_ERR"), env().T("MSG_ZUMBLA_CF_ERR"), mb::kIconStop);
  LinkErrorState() = 1;
}

void CardFs::FreeChain(uint32_t first) {
  uint32_t c = first;
  for (uint32_t steps = 0; ValidCluster(c) && steps < volume_.clusterCount; ++steps) {
    uint16_t next = FatGetEntry(c);
    if (LinkErrorState() == 1) return;
    FatSetEntry(c, fat::kFree);
    if (next >= fat::kFirstEnd) return;
    c = next;
  }
}

// --- Directory sectors ---

void CardFs::DropDirectoryCache() {
  for (DirSector& d : dirCache_) {
    if (!d.dirty) d.valid = false;
  }
}

CardFs::DirSector* CardFs::FindDirSlot(uint32_t sector) {
  for (DirSector& d : dirCache_) {
    if (d.valid && d.sector == sector) return &d;
  }
  return nullptr;
}

CardFs::DirSector& CardFs::FreeDirSlot() {
  DirSector* best = nullptr;
  for (DirSector& d : dirCache_) {
    if (!d.valid) return d;
    if (!d.dirty && (!best || d.used < best->used)) best = &d;
  }
  if (best && dirCache_.size() >= kDirCacheSectors) return *best;
  return dirCache_.emplace_back();
}

uint8_t* CardFs::DirSectorData(uint32_t sector) {
  if (DirSector* d = FindDirSlot(sector)) {
    d->used = ++dirUse_;
    return d->data.data();
  }
  std::array<uint8_t, kSectorBytes> data;
  if (!ReadVolume(sector, 1, data.data())) return nullptr;
  DirSector& slot = FreeDirSlot();
  slot = {true, false, sector, data, ++dirUse_};
  return slot.data.data();
}

uint8_t* CardFs::EntryPlace(uint16_t dirCluster, uint32_t index) {
  if (dirCluster == 0) {
    if (index >= volume_.rootEntries) return nullptr;
    return root_.data() + static_cast<size_t>(index) * kDirEntrySize;
  }
  if (!ValidCluster(dirCluster) || index >= volume_.sectorsPerCluster * 16u) return nullptr;
  uint8_t* d = DirSectorData(volume_.ClusterSector(dirCluster) + index / 16);
  return d ? d + (index % 16) * kDirEntrySize : nullptr;
}

void CardFs::MarkStaged(uint16_t dirCluster, uint32_t index) {
  if (dirCluster == 0) {
    rootStaged_[index / 16] = true;
  } else if (DirSector* d = FindDirSlot(volume_.ClusterSector(dirCluster) + index / 16)) {
    d->dirty = true;
  }
}

bool CardFs::IsStaged(uint16_t dirCluster, uint32_t index) const {
  if (dirCluster == 0) return rootStaged_[index / 16];
  uint32_t sector = volume_.ClusterSector(dirCluster) + index / 16;
  for (const DirSector& d : dirCache_) {
    if (d.valid && d.sector == sector) return d.dirty;
  }
  return false;
}

int CardFs::WriteDirectorySector(uint16_t dirCluster, uint32_t index) {
  if (dirCluster == 0) {
    uint32_t s = index / 16;
    if (!WriteVolume(volume_.firstRootSector + s, 1, root_.data() + static_cast<size_t>(s) * kSectorBytes)) return 0;
    rootStaged_[s] = false;
    return 1;
  }
  uint32_t sector = volume_.ClusterSector(dirCluster) + index / 16;
  DirSector* d = FindDirSlot(sector);
  if (!d) return 0;
  // The write drops the kept copy of its sector: keep this one.
  DirSector keep = *d;
  if (!WriteVolume(sector, 1, keep.data.data())) return 0;
  keep.dirty = false;
  *d = keep;
  return 1;
}

int CardFs::WriteStagedDirectories() {
  for (uint32_t s = 0; s < rootStaged_.size(); ++s) {
    if (rootStaged_[s] && !WriteDirectorySector(0, s * 16)) return 0;
  }
  for (DirSector& d : dirCache_) {
    if (!d.valid || !d.dirty) continue;
    DirSector keep = d;
    if (!WriteVolume(keep.sector, 1, keep.data.data())) return 0;
    keep.dirty = false;
    d = keep;
  }
  return 1;
}

// --- Finding entries ---

int CardFs::RootFindEntry(std::string_view name11, CardDirEntry& out) {
  if (!mounted_ || name11.size() != kName11) return 0;
  for (uint32_t i = 0; i < volume_.rootEntries; ++i) {
    const uint8_t* e = RootEntry(i);
    if (e[0] == 0) break;
    if (e[11] == fat::kAttrLongName || !SameName(e, name11)) continue;
    std::memcpy(out.bytes.data(), e, kDirEntrySize);
    out.dirCluster = 0;
    out.index = static_cast<int>(i);
    return 1;
  }
  return 0;
}

CardFs::Walk CardFs::WalkDirectory(uint16_t firstCluster, const std::function<bool(const uint8_t*)>& match,
                                   CardDirEntry& out, uint16_t* lastCluster) {
  if (!ValidCluster(firstCluster)) {
    BrokenChain();
    return Walk::Broken;
  }
  uint32_t c = firstCluster;
  Visited visited(volume_.clusterCount);
  visited.First(c);
  for (;;) {
    if (lastCluster) *lastCluster = static_cast<uint16_t>(c);
    for (uint32_t s = 0; s < volume_.sectorsPerCluster; ++s) {
      uint8_t* d = DirSectorData(volume_.ClusterSector(c) + s);
      if (!d) return Walk::Failed;
      for (uint32_t i = 0; i < 16; ++i) {
        const uint8_t* e = d + i * kDirEntrySize;
        int index = static_cast<int>(s * 16 + i);
        // The end marker: no entry follows it.
        if (e[0] == 0) {
          out.bytes.fill(0);
          out.dirCluster = static_cast<uint16_t>(c);
          out.index = index;
          return Walk::End;
        }
        if (match(e)) {
          std::memcpy(out.bytes.data(), e, kDirEntrySize);
          out.dirCluster = static_cast<uint16_t>(c);
          out.index = index;
          return Walk::Found;
        }
      }
    }
    int64_t next = NextCluster(c);
    if (LinkErrorState() == 1) return Walk::Failed;
    if (next == 0) {
      out.index = -1;
      return Walk::End;
    }
    if (next < 0 || !visited.First(static_cast<uint32_t>(next))) {
      BrokenChain();
      return Walk::Broken;
    }
    c = static_cast<uint32_t>(next);
  }
}

int CardFs::DirFindEntry(uint16_t firstCluster, std::string_view name11, CardDirEntry& out) {
  if (!mounted_ || name11.size() != kName11) return 0;
  CardDirEntry found;
  Walk w = WalkDirectory(
      firstCluster, [&](const uint8_t* e) { return e[11] != fat::kAttrLongName && SameName(e, name11); }, found);
  if (w != Walk::Found) return 0;
  out = found;
  return 1;
}

int CardFs::FindDirectory(std::string_view dir, CardDirEntry& out) {
  auto name = DirName(dir);
  if (!name || name->empty()) return 0;
  CardDirEntry e;
  if (!RootFindEntry(*name, e)) return 0;
  if (!(e.Attribute() & fat::kAttrDirectory) || (e.Attribute() & fat::kAttrVolume)) return 0;
  out = e;
  return 1;
}

int CardFs::FindEntry(std::string_view dir, std::string_view name11, CardDirEntry& out) {
  if (!mounted_) return 0;
  auto d = DirName(dir);
  if (!d) return 0;
  if (d->empty()) return RootFindEntry(name11, out);
  CardDirEntry folder;
  if (!FindDirectory(dir, folder)) return 0;
  return DirFindEntry(folder.FirstCluster(), name11, out);
}

int CardFs::FindFreeRootEntry(CardDirEntry& out) {
  out.index = -1;
  for (uint32_t i = 0; i < volume_.rootEntries; ++i) {
    const uint8_t* e = RootEntry(i);
    if (e[0] == 0 || e[0] == fat::kDeleted) {
      std::memcpy(out.bytes.data(), e, kDirEntrySize);
      out.dirCluster = 0;
      out.index = static_cast<int>(i);
      return 1;
    }
  }
  return 0;
}

int CardFs::FindFreeEntry(std::string_view dir, CardDirEntry& out) {
  out.index = -1;
  if (!mounted_) return 0;
  auto d = DirName(dir);
  if (!d) return 0;
  if (d->empty()) return FindFreeRootEntry(out);
  CardDirEntry folder;
  if (!FindDirectory(dir, folder)) return 0;
  uint16_t last = 0;
  CardDirEntry place;
  Walk w = WalkDirectory(folder.FirstCluster(), [](const uint8_t* e) { return e[0] == fat::kDeleted; }, place, &last);
  if (w == Walk::Broken || w == Walk::Failed) return 0;
  if (place.index >= 0) {
    out = place;
    return 1;
  }
  // Every entry is taken: the directory grows by one zero-filled cluster.
  uint16_t c = FindFreeCluster();
  if (c == 0) return 0;
  FatSetEntry(last, c);
  FatSetEntry(c, fat::kEndOfChain);
  std::fill(cluster_.begin(), cluster_.end(), 0);
  if (!WriteCluster(c, cluster_.data())) {
    FatSetEntry(last, fat::kEndOfChain);
    FatSetEntry(c, fat::kFree);
    return 0;
  }
  out = CardDirEntry{};
  out.dirCluster = c;
  out.index = 0;
  return 1;
}

// --- Writing entries ---

int CardFs::StageEntry(const CardDirEntry& entry) {
  if (!mounted_ || entry.index < 0) return 0;
  uint32_t index = static_cast<uint32_t>(entry.index);
  uint8_t* place = EntryPlace(entry.dirCluster, index);
  if (!place) return 0;
  std::memcpy(place, entry.bytes.data(), kDirEntrySize);
  place[11] = 0;
  Stamp(place);
  MarkStaged(entry.dirCluster, index);
  return 1;
}

int CardFs::WriteEntry(const CardDirEntry& entry) {
  if (!StageEntry(entry)) return 0;
  return FlushFat();
}

int CardFs::MakeDirectory(std::string_view name11) {
  if (!mounted_ || name11.size() != kName11) return 0;
  CardDirEntry existing;
  if (RootFindEntry(name11, existing)) return 0;
  CardDirEntry place;
  if (!FindFreeRootEntry(place)) return 0;
  uint16_t c = FindFreeCluster();
  if (c == 0) return 0;

  std::fill(cluster_.begin(), cluster_.end(), 0);
  auto dotEntry = [&](uint8_t* e, const char* name, uint16_t cluster) {
    std::memcpy(e, name, kName11);
    e[11] = fat::kAttrDirectory;
    PutLe16(e + 26, cluster);
    Stamp(e);
  };
  dotEntry(cluster_.data(), ".          ", c);
  dotEntry(cluster_.data() + kDirEntrySize, "..         ", 0);
  FatSetEntry(c, fat::kEndOfChain);
  if (!WriteCluster(c, cluster_.data())) {
    FatSetEntry(c, fat::kFree);
    return 0;
  }
  uint8_t* e = root_.data() + static_cast<size_t>(place.index) * kDirEntrySize;
  std::memset(e, 0, kDirEntrySize);
  std::memcpy(e, name11.data(), kName11);
  e[11] = fat::kAttrDirectory;
  PutLe16(e + 26, c);
  Stamp(e);
  MarkStaged(0, static_cast<uint32_t>(place.index));
  return FlushFat();
}

// --- Listing ---

int CardFs::ListDirFirst(std::string_view dir, uint8_t* out32) {
  listActive_ = false;
  if (!mounted_) return 0;
  auto d = DirName(dir);
  if (d && d->empty()) {
    sectors_.Trace("Root dir not supported");
    return 0;
  }
  CardDirEntry folder;
  if (!FindDirectory(dir, folder)) return 0;
  uint16_t c = folder.FirstCluster();
  if (!ValidCluster(c)) {
    BrokenChain();
    return 0;
  }
  const uint8_t* e = EntryPlace(c, 0);
  if (!e) return 0;
  listCluster_ = c;
  listIndex_ = 0;
  listSeen_.assign(volume_.clusterCount, false);
  listSeen_[c] = true;
  listActive_ = true;
  std::memcpy(out32, e, kDirEntrySize);
  return 1;
}

int CardFs::ListDirNext(uint8_t* out32) {
  if (!listActive_ || !mounted_) return 0;
  listActive_ = false;
  if (++listIndex_ >= volume_.bytesPerCluster / kDirEntrySize) {
    int64_t next = NextCluster(listCluster_);
    if (LinkErrorState() == 1 || next == 0) return 0;
    if (next < 0 || listSeen_[static_cast<size_t>(next)]) {
      BrokenChain();
      return 0;
    }
    listSeen_[static_cast<size_t>(next)] = true;
    listCluster_ = static_cast<uint32_t>(next);
    listIndex_ = 0;
  }
  // Read through the kept sectors: entries staged in this batch are listed too.
  const uint8_t* e = EntryPlace(static_cast<uint16_t>(listCluster_), listIndex_);
  if (!e) return 0;
  std::memcpy(out32, e, kDirEntrySize);
  if (out32[0] == 0) return 0;
  listActive_ = true;
  return 1;
}

// --- Files ---

int CardFs::CardDeleteFile(std::string_view dir, std::string_view name11) {
  CardDirEntry e;
  if (!FindEntry(dir, name11, e)) return 0;
  // A folder or the volume label is not a file: freeing a folder's chain
  // would lose every file in it.
  if (e.Attribute() & (fat::kAttrDirectory | fat::kAttrVolume)) return 0;

  // The entry, and the long-name parts other systems put right before it
  // (left behind they would be orphans to every other system).
  std::vector<std::pair<uint8_t*, uint8_t>> changed;  // for undoing
  std::vector<uint32_t> sectors;                      // indexes of the sectors, the entry's first
  bool staged = false;
  for (int i = e.index; i >= 0 && i >= e.index - 20; --i) {
    uint32_t u = static_cast<uint32_t>(i);
    uint8_t* p = EntryPlace(e.dirCluster, u);
    if (!p) {
      if (i == e.index) return 0;
      break;
    }
    if (i != e.index && (p[11] != fat::kAttrLongName || p[0] == 0 || p[0] == fat::kDeleted)) break;
    changed.emplace_back(p, p[0]);
    p[0] = fat::kDeleted;
    if (std::find(sectors.begin(), sectors.end(), u / 16) == sectors.end()) sectors.push_back(u / 16);
    staged = staged || IsStaged(e.dirCluster, u);
  }
  // The deletion is written now: the clusters it frees may be reused before
  // the next flush. A sector that also holds staged entries takes the FAT
  // they need first.
  bool ok = !staged || WriteFatSectors();
  for (size_t i = 0; ok && i < sectors.size(); ++i) {
    MarkStaged(e.dirCluster, sectors[i] * 16);
    ok = WriteDirectorySector(e.dirCluster, sectors[i] * 16) != 0;
    if (!ok && i > 0) ok = true;  // the entry itself is gone; an orphan part is no harm
    if (!ok) break;
  }
  if (!ok) {
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) *it->first = it->second;
    return 0;
  }
  // Only once no entry points at them are the clusters given back.
  FreeChain(e.FirstCluster());
  FlushFat();
  return 1;
}

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int CardFs::CardWriteFile(std::string_view dir, std::string_view name11, const fs::path& pcPath) {
  if (!mounted_ || name11.size() != kName11) return 0;
  Env& e = env();
  e.clock.SleepMs(100);
  // The PC file first: one that cannot be read must not cost the card its
  // older copy.
  std::string shownPath = Utf8ToLatin1(pcPath.string());
  File f(std::fopen(pcPath.c_str(), "rb"));
  auto size = f ? FileSize(pcPath) : std::nullopt;
  if (!f || !size) {
    e.ui.ShowMessage(e.TF("MSG_CANTOPEN", shownPath), e.T("MSG_READERROR"), mb::kIconStop);
    return 0;
  }
  auto full = [&] {
    e.ui.ShowMessage(e.T("MSG_INSUFFICIENT_SPACE_ON_CARD"), e.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
    return 0;
  };
  if (*size > UINT32_MAX) return full();  // beyond what a FAT file can hold

  // A folder whose own cluster the FAT calls free is damaged: the new file
  // could be given that cluster, and the folder's entry would overwrite it.
  CardDirEntry folder;
  if (auto d = DirName(dir); d && !d->empty() && FindDirectory(dir, folder) &&
                             (!ValidCluster(folder.FirstCluster()) || FatGetEntry(folder.FirstCluster()) == fat::kFree)) {
    if (LinkErrorState() != 1) BrokenChain();
    return 0;
  }

  // The file it replaces, and the room: the old file's clusters count as
  // free, but are given back only once the new file no longer needs them.
  CardDirEntry old;
  bool replacing = FindEntry(dir, name11, old) == 1;
  if (LinkErrorState() == 1) return 0;
  if (replacing && (old.Attribute() & (fat::kAttrDirectory | fat::kAttrVolume))) return 0;  // not a file
  const uint32_t bpc = volume_.bytesPerCluster;
  const uint32_t need = static_cast<uint32_t>((*size + bpc - 1) / bpc);
  const uint32_t oldClusters = replacing ? ChainLength(old.FirstCluster()) : 0;
  const uint32_t free = CountFreeUpTo(need);
  if (LinkErrorState() == 1) return 0;
  if (uint64_t{free} + oldClusters < need) return full();
  if (replacing && free < need) {
    // No room for both: the old file makes the room.
    if (!CardDeleteFile(dir, name11)) return 0;
    replacing = false;
  }
  CardDirEntry place = old;
  if (!replacing && !FindFreeEntry(dir, place)) return 0;

  uint16_t first = 0;
  if (*size > 0) {
    first = FindFreeCluster();
    if (first == 0) return LinkErrorState() == 1 ? 0 : full();
    // Whatever stops the copy gives back what it took.
    auto giveBack = [&] {
      FreeChain(first);
      FlushFat();
      return 0;
    };
    uint64_t remaining = *size;
    uint16_t cur = first;
    for (;;) {
      FatSetEntry(cur, fat::kEndOfChain);
      std::fill(cluster_.begin(), cluster_.end(), 0);
      size_t want = static_cast<size_t>(std::min<uint64_t>(bpc, remaining));
      if (std::fread(cluster_.data(), 1, want, f.get()) != want) {
        giveBack();
        ReportReadError(e, shownPath);
        return 0;
      }
      if (!WriteCluster(cur, cluster_.data())) return giveBack();
      remaining -= want;
      if (remaining > 0) {
        uint16_t next = FindFreeCluster();
        if (next == 0) {
          giveBack();
          return LinkErrorState() == 1 ? 0 : full();
        }
        FatSetEntry(cur, next);
        cur = next;
      }
      if (e.ui.AbortRequested()) return giveBack();
      if (remaining == 0) break;
    }
  }
  f.reset();

  place.bytes.fill(0);
  place.SetName(name11);
  place.SetFirstCluster(first);
  place.SetSize(static_cast<uint32_t>(*size));
  if (!StageEntry(place)) {
    FreeChain(first);
    FlushFat();
    return 0;
  }
  if (!replacing) return FlushFat();
  // The new file takes the old one's entry: its clusters reach the FAT on the
  // card first, then the one directory sector switches the entry over, also
  // in a deferred batch; the old clusters are free only after that.
  if (!WriteFatSectors() || !WriteDirectorySector(place.dirCluster, static_cast<uint32_t>(place.index))) return 0;
  FreeChain(old.FirstCluster());
  return FlushFat();
}

int CardFs::CardReadFile(std::string_view dir, std::string_view name11, const fs::path& pcPath) {
  if (!mounted_) return 0;
  Env& e = env();
  fs::path target = MapPlayerPath(pcPath);
  e.clock.SleepMs(100);
  CardDirEntry entry;
  if (!FindEntry(dir, name11, entry)) return 0;
  if (entry.Attribute() & (fat::kAttrDirectory | fat::kAttrVolume)) return 0;
  auto damaged = [&] {
    e.ui.ShowMessage(e.T("MSG_CF_INTERNAL_ERR"), e.T("MSG_ZUMBLA_CF_ERR"), mb::kIconStop);
    return 0;
  };
  uint32_t size = entry.Size();
  uint32_t c = entry.FirstCluster();
  if (size > 0) {
    if (!ValidCluster(c)) return damaged();
    if (!ReadCluster(c, cluster_.data())) return 0;
  }
  File f(std::fopen(target.c_str(), "wb"));
  if (!f) {
    e.ui.ShowMessage(e.TF("MSG_CANTCREATE", Utf8ToLatin1(target.string())), e.T("MSG_WRITEERROR"), mb::kIconStop);
    return 0;
  }
  auto drop = [&](int result) {
    f.reset();
    RemoveFile(target);
    return result;
  };
  uint32_t remaining = size;
  Visited visited(volume_.clusterCount);
  visited.First(c);
  while (remaining > 0) {
    uint32_t n = std::min(remaining, volume_.bytesPerCluster);
    if (std::fwrite(cluster_.data(), 1, n, f.get()) != n) {
      drop(0);
      ReportWriteError(e, Utf8ToLatin1(target.string()));
      return 0;
    }
    remaining -= n;
    if (remaining == 0) break;
    int64_t next = NextCluster(c);
    if (LinkErrorState() == 1) return drop(0);
    // The chain ends before the size says: what is missing cannot be read.
    if (next <= 0 || !visited.First(static_cast<uint32_t>(next))) {
      drop(0);
      return damaged();
    }
    if (e.ui.AbortRequested()) return drop(0);
    c = static_cast<uint32_t>(next);
    if (!ReadCluster(c, cluster_.data())) return drop(0);
  }
  if (std::fclose(f.release()) != 0) {
    RemoveFile(target);
    ReportWriteError(e, Utf8ToLatin1(target.string()));
    return 0;
  }
  return 1;
}

uint32_t CardFs::CardFileSectors(std::string_view name11) {
  CardDirEntry e;
  if (!RootFindEntry(name11, e) || e.Size() == 0) return 0;
  uint64_t clusters = (static_cast<uint64_t>(e.Size()) + volume_.bytesPerCluster - 1) / volume_.bytesPerCluster;
  return static_cast<uint32_t>(clusters * volume_.sectorsPerCluster);
}

}  // namespace kestro
