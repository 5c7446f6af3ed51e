// The FAT16 volume on the player's card, read and written sector by sector
// through the player (sectors.h).
//
// One CardFs per program, owned by the application and kept across card
// accesses: it holds the volume record of the last mount, the FAT image
// (loaded one sector at a time as entries are needed), the root directory
// image, the cluster buffer, and a few recently used directory sectors. Every
// operation runs inside a card access the caller opened:
//
//   link.LinkOpen(); player.CardAccessBegin(); player.CardAccessOpen();
//   card.CheckCard();                 // or MountVolume() + ReadRootDirectory()
//   card.SetDeferredFlush(true);      // a batch of writes ...
//   card.CardWriteFile(FolderName11(7), SongName11(7), "/pc/song.mf4");
//   card.SetDeferredFlush(false);
//   card.FlushFat();                  // ... ends with one flush
//   player.CardAccessEnd(); link.LinkClose();
//
// Results are 1 for success and 0 for failure; the reason of a failure that
// concerns the link or the card's format is in the link's `link error
// state` (1 link lost or player busy, 3 sector sum error, 6 no usable FAT16
// volume, 7 FAT32 volume).
//
// Layout served: files in the root directory and in subdirectories one level
// below it, named in the 11-character form of names.h, compared byte for
// byte. A directory argument is such a name (only the part before a
// backslash counts); an empty one means the root.
//
// Order of writes: file data first, then the FAT's changed sectors (to
// every FAT), then the directory entries that rely on them. A new entry waits
// in memory until the flush (at the end of the operation, or of a deferred
// batch), so a card access that breaks off leaves at worst clusters no entry
// uses, never an entry whose clusters the FAT calls free. A deletion is
// written at once, its freed clusters with the FAT.
//
// Damaged cards: a walk along a cluster chain ends at a value outside the
// volume and at a cluster it has passed before, so a cyclic or broken chain
// never loops and no sector outside the volume is asked for. A directory
// whose chain breaks shows "MSG_CF_INTERNAL_ERR" and sets the link error
// state to 1; a file whose chain ends before its size says is not read (the
// PC copy is removed) and shows the same text. Cluster chains end at any of
// 0xFFF8-0xFFFF, as other systems write them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cardfs/names.h"
#include "link/player.h"
#include "link/sectors.h"

namespace kestro {

inline constexpr size_t kDirEntrySize = 32;

namespace fat {
inline constexpr uint16_t kFree = 0;
inline constexpr uint16_t kEndOfChain = 0xFFFF;  // what this code writes
inline constexpr uint16_t kFirstEnd = 0xFFF8;    // 0xFFF8-0xFFFF all end a chain
inline constexpr uint16_t kMaxClusterCount = 0xFFF7;  // 0xFFF7 marks a bad cluster
inline constexpr uint8_t kAttrVolume = 0x08;
inline constexpr uint8_t kAttrDirectory = 0x10;
inline constexpr uint8_t kAttrLongName = 0x0F;
inline constexpr uint8_t kDeleted = 0xE5;
// FAT sector states.
inline constexpr uint8_t kNotLoaded = 0;
inline constexpr uint8_t kLoaded = 1;
inline constexpr uint8_t kChanged = 2;
// Could not be read: its clusters count as taken until the next mount.
inline constexpr uint8_t kUnreadable = 3;
}  // namespace fat

// The caller's handle on a directory entry: its 32 bytes, the cluster of the
// directory that holds it (0 for the root) and its index in that cluster or
// in the root directory (-1: no place was found).
struct CardDirEntry {
  std::array<uint8_t, kDirEntrySize> bytes{};
  uint16_t dirCluster = 0;
  int index = -1;

  std::string_view Name() const { return {reinterpret_cast<const char*>(bytes.data()), 11}; }
  uint8_t Attribute() const { return bytes[11]; }
  uint16_t FirstCluster() const { return static_cast<uint16_t>(bytes[26] | bytes[27] << 8); }
  uint32_t Size() const;
  void SetName(std::string_view name11);
  void SetFirstCluster(uint16_t c);
  void SetSize(uint32_t size);
};

// Words and texts of the card's identification block (ATA IDENTIFY DEVICE).
uint16_t IdWord(const std::array<uint8_t, kSectorBytes>& id, int word);
uint32_t IdLong(const std::array<uint8_t, kSectorBytes>& id, int lowWord);  // two words, low one first
// Exchanges the two bytes of every word of a text field (the block stores
// its texts in swapped pairs).
void SwapIdTexts(std::array<uint8_t, kSectorBytes>& id);

// The volume record, filled by every successful mount.
struct VolumeRecord {
  std::array<uint8_t, kSectorBytes> identify{};  // texts put right
  std::array<uint8_t, kSectorBytes> mbr{};
  std::array<uint8_t, kSectorBytes> pbr{};
  uint16_t partitionOffset = 0;  // where the boot sector was found
  uint16_t bytesPerSector = 0;
  uint8_t sectorsPerCluster = 0;
  uint16_t reservedSectors = 0;
  uint8_t numberOfFats = 0;
  uint16_t rootEntries = 0;
  uint32_t totalSectors = 0;
  uint8_t mediaDescriptor = 0;
  uint16_t sectorsPerFat = 0;
  uint16_t sectorsPerTrack = 0;
  uint16_t heads = 0;
  uint16_t hiddenSectors = 0;  // low half of the boot sector's field, as read
  uint32_t tracks = 0;
  // Absolute card sectors. They are counted from the boot sector's own
  // place: a boot sector whose hidden-sectors field does not say where it
  // lies (an image formatted elsewhere) is still read right.
  uint32_t firstFatSector = 0;
  uint32_t firstRootSector = 0;
  uint32_t firstDataSector = 0;
  uint32_t rootSectors = 0;
  // One above the highest cluster the volume has: clusters 2 to
  // clusterCount - 1 hold data (as many as the data area and the FAT both
  // have room for). Files other systems wrote may use any of them.
  uint32_t clusterCount = 0;
  // One above the highest cluster Kestro allocates, and the end of the free
  // count: the player's firmware counts (total sectors - first data sector
  // counted from the start of the card, the hidden sectors included) / sectors
  // per cluster, which leaves out the last clusters of the data area. At
  // most clusterCount, at least 2 (nothing to allocate).
  uint32_t playerClusterCount = 0;
  uint32_t bytesPerCluster = 0;
  uint32_t cardSizeMb = 0;  // total / 2048 + 1; ShowCardSpace puts the nominal size here

  uint32_t ClusterSector(uint32_t cluster) const { return (cluster - 2) * sectorsPerCluster + firstDataSector; }
  uint32_t VolumeEnd() const { return partitionOffset + totalSectors; }
};

// The nominal card size (4, 8, ... 4096 MB) nearest to a size in MB; the
// smaller one on a tie.
uint32_t NominalCardSizeMb(uint32_t sizeMb);

// The layout a format gives a card with this identification data.
struct FormatLayout {
  uint16_t cylinders = 0, heads = 0, sectorsPerTrack = 0;
  uint32_t sectorsPerCard = 0;
  uint32_t partitionStart = 0;  // = sectors per track
  uint32_t partitionSectors = 0;
  uint8_t sectorsPerCluster = 0;
  uint16_t sectorsPerFat = 0;
  uint32_t dataClusters = 0;
  // Empty when the card can take the layout; else why not.
  std::string problem;
};
FormatLayout ComputeFormatLayout(const std::array<uint8_t, kSectorBytes>& identify);

class CardFs {
 public:
  // Steps of the progress window while mounting.
  static constexpr int kMountProgressSteps = 72;
  // Directory sectors kept after use.
  static constexpr size_t kDirCacheSectors = 32;

  // `sectors` and `player` use the same link and outlive the CardFs.
  CardFs(SectorAccess& sectors, Player& player);
  CardFs(const CardFs&) = delete;
  CardFs& operator=(const CardFs&) = delete;

  Env& env() { return sectors_.env(); }
  Link& link() { return sectors_.link(); }
  SectorAccess& sectors() { return sectors_; }
  int& LinkErrorState() { return sectors_.link().linkErrorState; }

  // --- Hooks the application installs ---
  // The local time for directory entries (tests fix it).
  LocalTimeSource localTime = SystemLocalTime;
  // Called when the free count starts: the shell closes its first-connection
  // message there (its state 2 becomes 3).
  std::function<void()> onFreeCountStart;
  // The last step of EraseStructure: creating the index files, the setup
  // record, the firmware copy and the 31 song folders on the fresh card.
  // The song library installs it; it runs inside the card access of the
  // format with the new volume mounted and its root directory in memory,
  // and its result becomes EraseStructure's. Afterwards the templates
  // "EMPTY.DAT" and "MINUS1FILE.DAT" are removed from the install folder.
  std::function<int(CardFs&)> createStructure;

  // --- Volume ---
  // Finds the FAT16 boot sector (sector 0 without a partition table, the
  // card's default sectors per track, else a search up to sector 255) and
  // fills the volume record. The root directory is read by the caller
  // (ReadRootDirectory). Refusals: state 7 FAT32; state 6 FAT12, nothing
  // found, or a boot sector whose geometry cannot be a volume; state 0 a
  // sector size other than 512 or a sector that could not be read; 1 a lost
  // link.
  int MountVolume();
  bool Mounted() const { return mounted_; }
  const VolumeRecord& Volume() const { return volume_; }
  // Why the last mount refused the boot sector's geometry (empty otherwise).
  const std::string& MountProblem() const { return mountProblem_; }
  // Reads the root directory into its image; 0 when the link was lost or a
  // sector could not be read (then the state is 1).
  int ReadRootDirectory();
  // Forget the directory sectors kept since the mount (those holding entries
  // still to be written stay), for a caller that knows the card was written
  // by someone else in the meantime.
  void DropDirectoryCache();

  // One cluster of the mounted volume (2 to clusterCount - 1).
  int ReadCluster(uint32_t cluster, uint8_t* buffer);
  int WriteCluster(uint32_t cluster, const uint8_t* data);

  // Free clusters Kestro may allocate (2 to playerClusterCount - 1).
  uint32_t CountFreeClusters();
  uint32_t CountChains();
  // Counts the free space and shows "MSG_MESSAGE_CF3" (nominal size, free
  // per cent, at most 100: a card a little larger than its nominal size
  // would show more) on status line 2. Returns the link error state when it
  // is not 0 (then nothing is shown), else 0.
  int ShowCardSpace();
  int WriteCardReport(const std::filesystem::path& path);
  // "MBRPBR.DAT" of the install folder into the MBR and PBR images.
  int LoadMbrPbrTemplates();

  // --- FAT ---
  uint16_t FatGetEntry(uint32_t cluster);
  void FatSetEntry(uint32_t cluster, uint16_t value);
  // Writes every changed FAT sector to every FAT, then the directory
  // entries waiting for them; nothing while deferred.
  int FlushFat();
  // While set, FlushFat writes nothing: the FAT changes and the new entries
  // of a batch wait for the flush that ends it.
  void SetDeferredFlush(bool on) { deferredFlush_ = on; }
  bool DeferredFlush() const { return deferredFlush_; }
  // The lowest free cluster, or 0 when the card is full.
  uint16_t FindFreeCluster();
  uint8_t FatSectorState(uint32_t k) const { return k < fatState_.size() ? fatState_[k] : fat::kNotLoaded; }

  // --- Directories ---
  int RootFindEntry(std::string_view name11, CardDirEntry& out);
  int DirFindEntry(uint16_t firstCluster, std::string_view name11, CardDirEntry& out);
  int FindEntry(std::string_view dir, std::string_view name11, CardDirEntry& out);
  // A free place for a new entry (a subdirectory grows by one cluster when
  // it has none); 0 and index -1 when there is no place.
  int FindFreeEntry(std::string_view dir, CardDirEntry& out);
  // Writes the entry back to its place with attribute 0 and the time. It is
  // written with the FAT: at once (after the FAT's changed sectors), or by
  // the flush that ends a deferred batch.
  int WriteEntry(const CardDirEntry& entry);
  // A subdirectory of the root; 1 when made (nothing is done when the name
  // exists). Like WriteEntry, its root entry goes to the card with the FAT.
  int MakeDirectory(std::string_view name11);
  // Walks the entries of a subdirectory: First gives entry 0 and 1, Next
  // each following entry and 1, or 0 at the end (an entry whose first byte
  // is 0, or the end of the chain). ".", ".." and deleted entries come too.
  int ListDirFirst(std::string_view dir, uint8_t* out32);
  int ListDirNext(uint8_t* out32);
  // Root entry i (32 bytes) of the root image.
  const uint8_t* RootEntry(uint32_t i) const { return root_.data() + static_cast<size_t>(i) * kDirEntrySize; }
  uint32_t RootEntryCount() const { return mounted_ ? volume_.rootEntries : 0; }

  // --- Files ---
  // Deletes a file (not a folder, not the volume label), and the long-name
  // parts another system wrote before its entry; 0 when there is none.
  int CardDeleteFile(std::string_view dir, std::string_view name11);
  // Copies a PC file to the card, replacing a file of that name. The room
  // is checked first (the clusters of the file replaced count as free): a
  // file that does not fit changes nothing ("MSG_INSUFFICIENT_SPACE_ON_CARD").
  // When the card has room for both, the new file is written beside the old
  // one and takes its entry in one directory write, and only then are the
  // old clusters given back; otherwise the old file goes first. Polls the
  // progress window's cancel once per cluster; a cancelled or failed write
  // leaves no new entry and gives back the clusters it took.
  int CardWriteFile(std::string_view dir, std::string_view name11, const std::filesystem::path& pcPath);
  // Copies a card file to the PC (player codes in the path mapped). A
  // cancelled or failed read removes the PC file.
  int CardReadFile(std::string_view dir, std::string_view name11, const std::filesystem::path& pcPath);
  // Sectors of a root file rounded up to whole clusters; 0 for an empty or
  // missing file.
  uint32_t CardFileSectors(std::string_view name11);

  // --- Format ---
  // Mounts the card and reads its root directory; offers to format a card
  // without a usable format. 1 when the card is ready. A refusal leaves the
  // link error state 1, as the connection cycle expects; why the card was
  // refused stays in CheckRefusal().
  int CheckCard();
  // Why the last CheckCard refused the card: 6 no usable FAT16 volume (the
  // format was declined or failed), 7 a FAT32 volume; 0 when it did not
  // refuse the card itself (it was ready, or the link was lost).
  int CheckRefusal() const { return checkRefusal_; }
  int FormatCard();
  int EraseStructure();

 private:
  // A kept directory sector. Slots stay where they are (a deque that only
  // grows), so a pointer to one holds until the slot is taken for another
  // sector; a staged (dirty) slot is never taken.
  struct DirSector {
    bool valid = false;
    bool dirty = false;  // holds entries that still go to the card
    uint32_t sector = 0;
    std::array<uint8_t, kSectorBytes> data{};
    uint64_t used = 0;
  };
  // What the walk along a directory's entries found.
  enum class Walk { Found, End, Broken, Failed };

  bool InVolume(uint32_t first, uint32_t count) const;
  bool ValidCluster(uint32_t c) const { return c >= 2 && c < volume_.clusterCount; }
  // Free clusters up to `enough` (the count stops there); 0 when the link
  // was lost.
  uint32_t CountFreeUpTo(uint32_t enough);
  // Clusters of a chain, up to its end, a break or a cluster met twice.
  uint32_t ChainLength(uint32_t first);
  // Reads/writes sectors of the volume; 0 outside it, when the link is lost
  // or when a sector could not be read. A write replaces the kept copies of
  // the sectors it covers.
  int ReadVolume(uint32_t first, uint32_t count, uint8_t* buffer);
  int WriteVolume(uint32_t first, uint32_t count, const uint8_t* data);
  DirSector* FindDirSlot(uint32_t sector);
  DirSector& FreeDirSlot();
  uint8_t* DirSectorData(uint32_t sector);  // read through the kept sectors; null on failure
  int LoadFatSector(uint32_t k);
  // The next cluster of a chain: 0 at its end, -1 when it breaks.
  int64_t NextCluster(uint32_t cluster);
  // Sets the link error state to 1 and tells the user the card's folders
  // are damaged.
  void BrokenChain();
  void FreeChain(uint32_t first);
  // Finds a root entry that is a subdirectory.
  int FindDirectory(std::string_view dir, CardDirEntry& out);
  // Walks a subdirectory's entries sector by sector up to the end marker.
  // `match` sees each entry; the first true stops the walk there.
  Walk WalkDirectory(uint16_t firstCluster, const std::function<bool(const uint8_t*)>& match, CardDirEntry& out,
                     uint16_t* lastCluster = nullptr);
  int FindFreeRootEntry(CardDirEntry& out);

  // Directory entries reach the card after the FAT sectors they rely on:
  // an entry is staged in the root image or a kept sector, and written by
  // the next flush, after the FAT. Interrupted anywhere, the card then holds
  // at worst clusters that no entry uses, never an entry whose clusters the
  // FAT calls free.
  uint8_t* EntryPlace(uint16_t dirCluster, uint32_t index);  // null when unreadable
  void MarkStaged(uint16_t dirCluster, uint32_t index);
  bool IsStaged(uint16_t dirCluster, uint32_t index) const;
  int StageEntry(const CardDirEntry& entry);
  // Writes one directory sector (root sector or kept sector) now.
  int WriteDirectorySector(uint16_t dirCluster, uint32_t index);
  int WriteFatSectors();
  int WriteStagedDirectories();

  void Stamp(uint8_t* entry) { FatTimestamp(entry, localTime ? localTime() : std::nullopt); }
  bool IsFat16(const uint8_t* s) const;
  int ReadBootProbe(uint32_t sector, std::array<uint8_t, kSectorBytes>& out);
  bool TakeBootSector(uint16_t offset);
  int Mount();

  SectorAccess& sectors_;
  Player& player_;
  VolumeRecord volume_;
  bool mounted_ = false;
  std::string mountProblem_;
  int checkRefusal_ = 0;
  std::vector<uint8_t> root_;
  std::vector<bool> rootStaged_;  // per root sector
  std::vector<uint8_t> fat_;
  std::vector<uint8_t> fatState_;
  std::vector<uint8_t> cluster_;
  bool deferredFlush_ = false;
  uint32_t lowestFree_ = 2;  // no free cluster lies below it
  std::deque<DirSector> dirCache_;
  uint64_t dirUse_ = 0;
  // ListDirFirst/Next.
  uint32_t listCluster_ = 0;
  uint32_t listIndex_ = 0;
  std::vector<bool> listSeen_;  // clusters of the walk so far
  bool listActive_ = false;
};

}  // namespace kestro
