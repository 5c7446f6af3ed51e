// The card check of every connection and the format for the player.
#include <cmath>
#include <cstring>

#include "cardfs/card_fs.h"
#include "platform/bytes.h"
#include "platform/fileutil.h"

namespace kestro {

namespace {


constexpr uint32_t kMaxSectorsPerCluster = 128;  // the boot sector keeps it in a byte
constexpr uint32_t kClusterLimitPerSize = 65000;
constexpr uint32_t kRootEntries = 128;
constexpr uint32_t kRootSectors = kRootEntries * kDirEntrySize / kSectorBytes;
// Other systems take a volume with fewer clusters for FAT12, or with more
// for FAT32, whatever its boot sector says.
constexpr uint32_t kMinFat16Clusters = 4085;
constexpr uint32_t kMaxFat16Clusters = 65524;
const char* kVolumeLabel = "ZUM-BLA-MF4";

}  // namespace

FormatLayout ComputeFormatLayout(const std::array<uint8_t, kSectorBytes>& id) {
  FormatLayout l;
  l.cylinders = IdWord(id, 1);
  l.heads = IdWord(id, 3);
  l.sectorsPerTrack = IdWord(id, 6);
  l.sectorsPerCard = static_cast<uint32_t>(IdWord(id, 7)) << 16 | IdWord(id, 8);
  uint32_t c = l.cylinders, h = l.heads, t = l.sectorsPerTrack;
  // The partition entry keeps heads and sectors per track in CHS fields.
  if (c < 2 || h < 1 || h > 255 || t < 1 || t > 63) {
    l.problem = Fmt("the card's geometry (%u cylinders, %u heads, %u sectors per track) cannot be partitioned", c, h, t);
    return l;
  }
  uint64_t s = static_cast<uint64_t>(t) * (static_cast<uint64_t>(h) * (c - 1) - 1);
  if (t + s > l.sectorsPerCard || t + s >= kIdentifySectorNumber || s <= kRootSectors + 1) {
    l.problem = Fmt("the card's geometry does not fit its %u sectors", l.sectorsPerCard);
    return l;
  }
  l.partitionStart = t;
  l.partitionSectors = static_cast<uint32_t>(s);

  uint32_t spc = 1;
  if (l.sectorsPerCard > kClusterLimitPerSize) {
    spc = 2;
    while (l.sectorsPerCard / spc > kClusterLimitPerSize && spc <= kMaxSectorsPerCluster) spc *= 2;
  }
  if (spc > kMaxSectorsPerCluster) {
    l.problem = "the card is too large for FAT16";
    return l;
  }
  l.sectorsPerCluster = static_cast<uint8_t>(spc);

  double x = static_cast<double>(s) - 129;
  double share = std::trunc(x * 256 * spc / (256.0 * spc + 2));
  uint64_t spf = static_cast<uint64_t>(x - share) / 2 + 1;
  auto clusters = [&](uint64_t f) {
    uint64_t meta = 1 + 2 * f + kRootSectors;
    return meta < s ? (s - meta) / spc : 0;
  };
  // Every cluster needs its FAT entry (the rule gives enough; this keeps it so).
  while (spf * 256 < clusters(spf) + 2) ++spf;
  uint64_t n = clusters(spf);
  if (spf > 0xFFFF || n < kMinFat16Clusters || n > kMaxFat16Clusters) {
    l.problem = Fmt("a card of %u sectors cannot hold a FAT16 volume", l.sectorsPerCard);
    return l;
  }
  l.sectorsPerFat = static_cast<uint16_t>(spf);
  l.dataClusters = static_cast<uint32_t>(n);
  return l;
}

int CardFs::CheckCard() {
  Env& e = env();
  LinkErrorState() = 0;
  checkRefusal_ = 0;
  if (!MountVolume()) {
    e.ui.ProgressEnd();
    int state = LinkErrorState();
    if (state == 7) {
      e.ui.ShowMessage(e.T("MSG_FLAHFAT32FORMAT"), e.T("MSG_FORMAT_ERROR"), mb::kIconInformation);
      checkRefusal_ = 7;
      LinkErrorState() = 1;
      return 0;
    }
    if (state != 6) {
      LinkErrorState() = 1;
      return 0;
    }
    if (e.ui.ShowMessage(e.T("MSG_FLAHBADFORMAT"), e.T("MSG_INVALIDE_FORMAT"), mb::kOkCancel | mb::kIconQuestion) !=
        kIdOk) {
      checkRefusal_ = 6;
      LinkErrorState() = 1;
      return 0;
    }
    player_.CardAccessBegin();
    player_.CardAccessOpen();
    if (!FormatCard() || !MountVolume()) {
      e.ui.ProgressEnd();
      e.ui.ShowMessage(e.T("MSG_FORMATFLASH_ERR"), e.T("MSG_FORMAT_ERROR"), mb::kIconStop);
      // A format cut off by a lost link is the link's failure.
      if (LinkErrorState() != 1) checkRefusal_ = 6;
      LinkErrorState() = 1;
      return 0;
    }
  }
  e.ui.ProgressReset(static_cast<int>(volume_.rootSectors + volume_.clusterCount / 256));
  if (!ReadRootDirectory()) {
    e.ui.ProgressEnd();
    return 0;
  }
  ShowCardSpace();
  e.ui.ProgressEnd();
  return 1;
}

int CardFs::FormatCard() {
  Env& e = env();
  e.WriteInt(settings::kMediaChange, 1);
  VolumeRecord& v = volume_;
  if (!sectors_.ReadSectors(kIdentifySectorNumber, 1, v.identify.data()) || sectors_.failedSectors != 0) return 0;
  if (!LoadMbrPbrTemplates()) return 0;
  SwapIdTexts(v.identify);
  if (IdWord(v.identify, 0) != 0x848A) {
    e.ui.ShowMessage("Flash invalida in Zumbla (Header chunk error)", e.T("MSG_CAPTION_WARNING"),
                     mb::kSystemModal | mb::kIconStop);
    return 0;
  }
  FormatLayout l = ComputeFormatLayout(v.identify);
  if (!l.problem.empty()) {
    // Identification data no card can have: nothing is written.
    mountProblem_ = l.problem;
    e.ui.ShowMessage("Flash invalida in Zumbla (Header chunk error)", e.T("MSG_CAPTION_WARNING"),
                     mb::kSystemModal | mb::kIconStop);
    return 0;
  }
  uint32_t c = l.cylinders, h = l.heads, t = l.sectorsPerTrack, s = l.partitionSectors;
  // From here on the card changes under the old volume.
  mounted_ = false;

  uint8_t* p = v.mbr.data() + 446;
  p[0] = 0;
  p[1] = 1;
  p[2] = 1;
  p[3] = 0;
  p[4] = 1;
  p[5] = static_cast<uint8_t>(h - 1);
  p[6] = static_cast<uint8_t>(t + (((c - 2) >> 2) & 0xC0));
  p[7] = static_cast<uint8_t>((c - 2) & 0xFF);
  PutLe32(p + 8, t);
  PutLe32(p + 12, s);

  uint8_t* b = v.pbr.data();
  std::memcpy(b + 3, "Zumbla  ", 8);
  PutLe16(b + 11, kSectorBytes);
  b[13] = l.sectorsPerCluster;
  PutLe16(b + 14, 1);
  b[16] = 2;
  PutLe16(b + 17, kRootEntries);
  PutLe16(b + 19, s < 65536 ? s : 0);
  PutLe32(b + 32, s < 65536 ? 0 : s);
  PutLe16(b + 22, l.sectorsPerFat);
  PutLe16(b + 24, t);
  PutLe16(b + 26, h);
  PutLe32(b + 28, t);
  b[36] = 0x82;
  // The extended boot signature: without it other systems take the label
  // and file-system type fields for unset, and see the label in the root
  // differ from the boot sector's.
  b[38] = 0x29;
  PutLe32(b + 39, 0);
  std::memcpy(b + 43, kVolumeLabel, 11);
  b[510] = 0x55;
  b[511] = 0xAA;
  v.partitionOffset = static_cast<uint16_t>(t);
  WriteCardReport(e.InstallPath("FormatFresh.html"));

  std::array<uint8_t, kSectorBytes> mbr = v.mbr, pbr = v.pbr, back{};
  if (!sectors_.WriteSectors(0, 1, mbr.data())) return 0;
  sectors_.ReadSectors(0, 1, back.data());
  if (!sectors_.WriteSectors(t, 1, pbr.data())) return 0;
  int mounted = MountVolume();
  e.ui.ProgressEnd();
  if (!mounted) return 0;
  return EraseStructure();
}

int CardFs::EraseStructure() {
  if (!mounted_) return 0;
  Env& e = env();
  VolumeRecord& v = volume_;
  e.ui.ProgressStart(static_cast<int>(v.rootSectors + v.numberOfFats * v.sectorsPerFat +
                                      v.sectorsPerCluster * 38u + 53));
  std::fill(root_.begin(), root_.end(), 0);
  std::fill(fat_.begin(), fat_.end(), 0);
  fat_[0] = 0xF8;
  fat_[1] = 0xFF;
  fat_[2] = 0xFF;
  fat_[3] = 0xFF;
  // The image now holds what the card will: no sector needs reading back.
  std::fill(fatState_.begin(), fatState_.end(), fat::kLoaded);
  lowestFree_ = 2;
  listActive_ = false;
  dirCache_.clear();
  rootStaged_.assign(rootStaged_.size(), false);

  std::vector<uint8_t> fatArea(static_cast<size_t>(v.sectorsPerFat) * kSectorBytes, 0);
  std::copy(fat_.begin(), fat_.end(), fatArea.begin());
  auto fail = [&] {
    e.ui.ProgressEnd();
    return 0;
  };
  // The root directory goes first: a format that breaks off after it leaves
  // the old files' clusters lost, while FATs erased under the old entries
  // would leave entries whose clusters are free.
  uint8_t* label = root_.data();
  std::memcpy(label, kVolumeLabel, 11);
  label[11] = 0x28;
  Stamp(label);
  e.ui.ProgressLine1("Erasing Root Directory");
  if (!WriteVolume(v.firstRootSector, v.rootSectors, root_.data())) return fail();
  for (uint32_t f = 0; f < v.numberOfFats; ++f) {
    e.ui.ProgressLine1("Erasing structure");
    if (!WriteVolume(v.firstFatSector + f * v.sectorsPerFat, v.sectorsPerFat, fatArea.data())) return fail();
  }
  e.ui.ProgressLine1("Updating fat");
  if (!FlushFat()) return fail();
  e.ui.ProgressEnd();

  int result = 1;
  if (createStructure) result = createStructure(*this);
  RemoveFile(e.InstallPath("EMPTY.DAT"));
  RemoveFile(e.InstallPath("MINUS1FILE.DAT"));
  return result;
}

}  // namespace kestro
