// The volume: finding the boot sector, the volume record, clusters, the free
// count, the card report and the format templates.
#include <algorithm>
#include <cstring>
#include <optional>

#include "cardfs/card_fs.h"
#include "platform/bytes.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro {

namespace {

bool TextAt(const uint8_t* s, size_t at, const char* text6) { return std::memcmp(s + at, text6, 6) == 0; }

bool IsFat12(const uint8_t* s) { return TextAt(s, 54, "FAT12 "); }
bool IsFat32(const uint8_t* s) { return TextAt(s, 82, "FAT32 "); }

constexpr uint32_t kNominalSizes[] = {4, 8, 16, 32, 48, 64, 128, 256, 512, 1024, 2048, 4096};

}  // namespace

uint32_t CardDirEntry::Size() const { return Le32(bytes.data() + 28); }

void CardDirEntry::SetName(std::string_view name11) {
  for (size_t i = 0; i < 11; ++i) bytes[i] = i < name11.size() ? static_cast<uint8_t>(name11[i]) : ' ';
}

void CardDirEntry::SetFirstCluster(uint16_t c) {
  bytes[26] = static_cast<uint8_t>(c & 0xFF);
  bytes[27] = static_cast<uint8_t>(c >> 8);
}

void CardDirEntry::SetSize(uint32_t size) {
  for (int i = 0; i < 4; ++i) bytes[28 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
}

uint16_t IdWord(const std::array<uint8_t, kSectorBytes>& id, int word) {
  if (word < 0 || word >= 256) return 0;
  return Le16(id.data() + static_cast<size_t>(word) * 2);
}

uint32_t IdLong(const std::array<uint8_t, kSectorBytes>& id, int lowWord) {
  return static_cast<uint32_t>(IdWord(id, lowWord)) | static_cast<uint32_t>(IdWord(id, lowWord + 1)) << 16;
}

void SwapIdTexts(std::array<uint8_t, kSectorBytes>& id) {
  // Serial number (words 10-19), firmware revision (23-26), model (27-46).
  for (auto [first, words] : {std::pair{10, 10}, std::pair{23, 4}, std::pair{27, 20}}) {
    for (int w = first; w < first + words; ++w) std::swap(id[static_cast<size_t>(w) * 2], id[static_cast<size_t>(w) * 2 + 1]);
  }
}

uint32_t NominalCardSizeMb(uint32_t sizeMb) {
  uint32_t best = kNominalSizes[0];
  uint32_t bestDiff = UINT32_MAX;
  for (uint32_t n : kNominalSizes) {
    uint32_t diff = n > sizeMb ? n - sizeMb : sizeMb - n;
    if (diff < bestDiff) {
      best = n;
      bestDiff = diff;
    }
  }
  return best;
}

CardFs::CardFs(SectorAccess& sectors, Player& player) : sectors_(sectors), player_(player) {}

bool CardFs::IsFat16(const uint8_t* s) const { return TextAt(s, 54, "FAT16 ") || TextAt(s, 54, "EXTEN "); }

// --- Sector traffic inside the volume ---

bool CardFs::InVolume(uint32_t first, uint32_t count) const {
  if (!mounted_ || count == 0) return false;
  uint64_t end = static_cast<uint64_t>(first) + count;
  return first >= volume_.partitionOffset && end <= volume_.VolumeEnd();
}

int CardFs::ReadVolume(uint32_t first, uint32_t count, uint8_t* buffer) {
  if (!InVolume(first, count)) return 0;
  if (!sectors_.ReadSectors(first, count, buffer)) return 0;
  return sectors_.failedSectors == 0 ? 1 : 0;
}

int CardFs::WriteVolume(uint32_t first, uint32_t count, const uint8_t* data) {
  if (!InVolume(first, count)) return 0;
  // Directory sectors kept from earlier reads must not outlive this write.
  for (DirSector& d : dirCache_) {
    if (d.valid && d.sector >= first && d.sector - first < count) d = DirSector{};
  }
  return sectors_.WriteSectors(first, count, data);
}

int CardFs::ReadCluster(uint32_t cluster, uint8_t* buffer) {
  if (!mounted_ || !ValidCluster(cluster)) return 0;
  return ReadVolume(volume_.ClusterSector(cluster), volume_.sectorsPerCluster, buffer);
}

int CardFs::WriteCluster(uint32_t cluster, const uint8_t* data) {
  if (!mounted_ || !ValidCluster(cluster)) return 0;
  return WriteVolume(volume_.ClusterSector(cluster), volume_.sectorsPerCluster, data);
}

// --- Mount ---

int CardFs::ReadBootProbe(uint32_t sector, std::array<uint8_t, kSectorBytes>& out) {
  if (!sectors_.ReadSectors(sector, 1, out.data())) return 0;
  return sectors_.failedSectors == 0 ? 1 : 0;
}

bool CardFs::TakeBootSector(uint16_t offset) {
  VolumeRecord& v = volume_;
  const uint8_t* b = v.pbr.data();
  v.partitionOffset = offset;
  v.bytesPerSector = Le16(b + 11);
  v.sectorsPerCluster = b[13];
  v.reservedSectors = Le16(b + 14);
  v.numberOfFats = b[16];
  v.rootEntries = Le16(b + 17);
  v.totalSectors = Le16(b + 19) != 0 ? Le16(b + 19) : Le32(b + 32);
  v.mediaDescriptor = b[21];
  v.sectorsPerFat = Le16(b + 22);
  v.sectorsPerTrack = Le16(b + 24);
  v.heads = Le16(b + 26);
  v.hiddenSectors = Le16(b + 28);
  v.tracks = v.sectorsPerTrack != 0 && v.heads != 0 ? v.totalSectors / v.sectorsPerTrack / v.heads : 0;
  v.rootSectors = (static_cast<uint32_t>(v.rootEntries) * kDirEntrySize + kSectorBytes - 1) / kSectorBytes;
  v.bytesPerCluster = static_cast<uint32_t>(v.sectorsPerCluster) * kSectorBytes;
  v.cardSizeMb = v.totalSectors / 2048 + 1;

  // Geometry that cannot describe a volume would send the reads and writes
  // anywhere: such a card is treated as one without a usable format.
  auto refuse = [&](const char* why) {
    mountProblem_ = why;
    LinkErrorState() = 6;
    return false;
  };
  if (v.sectorsPerCluster == 0) return refuse("the boot sector gives 0 sectors per cluster");
  if (v.reservedSectors == 0) return refuse("the boot sector gives no reserved sectors");
  if (v.numberOfFats == 0) return refuse("the boot sector gives no FAT");
  if (v.sectorsPerFat == 0) return refuse("the boot sector gives 0 sectors per FAT");
  if (v.rootEntries == 0) return refuse("the boot sector gives no root directory");
  if (v.totalSectors == 0) return refuse("the boot sector gives 0 sectors");
  if (static_cast<uint64_t>(offset) + v.totalSectors > kIdentifySectorNumber)
    return refuse("the volume reaches past the sectors a card can have");
  uint64_t dataStart = static_cast<uint64_t>(v.reservedSectors) +
                       static_cast<uint64_t>(v.numberOfFats) * v.sectorsPerFat + v.rootSectors;
  if (dataStart >= v.totalSectors) return refuse("the volume has no room for data");
  uint64_t dataClusters = (v.totalSectors - dataStart) / v.sectorsPerCluster;
  uint64_t count = std::min<uint64_t>({dataClusters + 2, static_cast<uint64_t>(v.sectorsPerFat) * 256,
                                       fat::kMaxClusterCount});
  if (count <= 2) return refuse("the volume has no clusters");
  v.clusterCount = static_cast<uint32_t>(count);
  // The player's own reckoning, from the boot sector's fields alone.
  uint64_t playerDataStart = static_cast<uint64_t>(v.hiddenSectors) + v.reservedSectors +
                             static_cast<uint64_t>(v.numberOfFats) * v.sectorsPerFat +
                             static_cast<uint64_t>(v.rootEntries) * kDirEntrySize / kSectorBytes;
  uint64_t playerCount = v.totalSectors > playerDataStart ? (v.totalSectors - playerDataStart) / v.sectorsPerCluster : 0;
  v.playerClusterCount = static_cast<uint32_t>(std::clamp<uint64_t>(playerCount, 2, count));
  v.firstFatSector = offset + v.reservedSectors;
  v.firstRootSector = v.firstFatSector + static_cast<uint32_t>(v.numberOfFats) * v.sectorsPerFat;
  v.firstDataSector = v.firstRootSector + v.rootSectors;
  return true;
}

int CardFs::MountVolume() {
  int mounted = Mount();
  if (!mounted) sectors_.areas = {};
  return mounted;
}

int CardFs::Mount() {
  Ui& ui = env().ui;
  LinkErrorState() = 0;
  mounted_ = false;
  listActive_ = false;
  mountProblem_.clear();
  dirCache_.clear();
  // The trace lines go on naming the areas of the volume mounted last until
  // this mount has found its own.
  sectors_.Trace("Connecting to ZUM-Flash");

  VolumeRecord& v = volume_;
  if (!ReadBootProbe(kIdentifySectorNumber, v.identify)) return 0;
  // The first sectors are read once before the real work; what they hold
  // does not matter here.
  std::vector<uint8_t> first(3 * kSectorBytes);
  if (!sectors_.ReadSectors(0, 3, first.data())) return 0;
  SwapIdTexts(v.identify);

  ui.ProgressStart(kMountProgressSteps);
  ui.ProgressLine1("Lettura MBR");
  v.partitionOffset = 0;
  if (!ReadBootProbe(0, v.mbr)) {
    ui.ProgressEnd();
    return 0;
  }
  v.pbr = v.mbr;

  auto fat32 = [&] {
    ui.ProgressEnd();
    LinkErrorState() = 7;
    return 0;
  };
  std::optional<uint32_t> found;
  if (IsFat16(v.mbr.data())) {
    found = 0;
  } else {
    if (IsFat32(v.mbr.data())) return fat32();
    // Where a format puts the partition: the card's default sectors per
    // track (probed only when the card can have such a sector).
    uint32_t t = IdWord(v.identify, 6);
    uint32_t cardSectors = IdLong(v.identify, 60);
    if (cardSectors == 0) cardSectors = static_cast<uint32_t>(IdWord(v.identify, 7)) << 16 | IdWord(v.identify, 8);
    if (t != 0 && t < cardSectors) {
      if (!ReadBootProbe(t, v.pbr)) {
        ui.ProgressEnd();
        return 0;
      }
      if (IsFat16(v.pbr.data())) {
        found = t;
      } else if (IsFat32(v.pbr.data())) {
        return fat32();
      }
    }
  }
  if (!found) {
    ui.ProgressLine1("Ricerca PBR");
    for (uint32_t s = 0; s <= 255 && !found; ++s) {
      if (!ReadBootProbe(s, v.pbr)) {
        ui.ProgressEnd();
        return 0;
      }
      if (IsFat16(v.pbr.data())) {
        found = s;
      } else if (IsFat12(v.pbr.data())) {
        ui.ProgressEnd();
        LinkErrorState() = 6;
        return 0;
      } else if (IsFat32(v.pbr.data())) {
        return fat32();
      }
    }
    ui.ProgressEnd();
    if (!found) {
      LinkErrorState() = 6;
      return 0;
    }
  }

  if (Le16(v.pbr.data() + 11) != kSectorBytes) {
    mountProblem_ = "the boot sector gives a sector size other than 512";
    return 0;
  }
  if (!TakeBootSector(static_cast<uint16_t>(*found))) return 0;

  root_.assign(static_cast<size_t>(v.rootSectors) * kSectorBytes, 0);
  uint32_t fatSectors = (v.clusterCount + 255) / 256;
  fat_.assign(static_cast<size_t>(fatSectors) * kSectorBytes, 0);
  fatState_.assign(fatSectors, fat::kNotLoaded);
  cluster_.assign(v.bytesPerCluster, 0);
  rootStaged_.assign(v.rootSectors, false);
  lowestFree_ = 2;
  sectors_.areas = {v.partitionOffset, v.firstFatSector, v.firstRootSector, v.firstDataSector};
  mounted_ = true;
  ui.ProgressLine1(env().T("MSG_READING_MAIN_DIRECTORY"));
  return 1;
}

int CardFs::ReadRootDirectory() {
  if (!mounted_) return 0;
  if (ReadVolume(volume_.firstRootSector, volume_.rootSectors, root_.data())) return 1;
  // Entries written over a root that was not read would destroy others.
  LinkErrorState() = 1;
  return 0;
}

// --- Free space ---

uint32_t CardFs::CountFreeClusters() {
  if (!mounted_) return 0;
  if (onFreeCountStart) onFreeCountStart();
  Ui& ui = env().ui;
  ui.ProgressLine1(env().T("MSG_MESSAGE_CF1"));
  ui.ProgressLine2(env().T("MSG_MESSAGE_CF4"));
  uint32_t count = 0;
  for (uint32_t c = 2; c < volume_.playerClusterCount; ++c) {
    if (FatGetEntry(c) == fat::kFree) ++count;
    if (c % 256 == 0) {
      ui.ProgressLine1(env().TF("MSG_MESSAGE_CF2", (count / 2 * volume_.sectorsPerCluster) / 1024));
      if (LinkErrorState() == 1) break;
    }
  }
  return count;
}

uint32_t CardFs::CountChains() {
  if (!mounted_) return 0;
  uint32_t count = 0;
  for (uint32_t c = 2; c < volume_.clusterCount; ++c) {
    if (FatGetEntry(c) >= fat::kFirstEnd) ++count;
  }
  return count;
}

int CardFs::ShowCardSpace() {
  if (!mounted_) return LinkErrorState();
  uint32_t free = CountFreeClusters();
  if (LinkErrorState() != 0) return LinkErrorState();
  uint32_t nominal = NominalCardSizeMb(volume_.cardSizeMb);
  volume_.cardSizeMb = nominal;
  uint32_t percent = std::min<uint32_t>(
      static_cast<uint32_t>(uint64_t{free} * volume_.sectorsPerCluster / 2 / (nominal * 10)), 100);
  env().ui.SetStatusLine(2, env().TF("MSG_MESSAGE_CF3", nominal, percent));
  return 0;
}

// --- The card report ---

namespace {

std::string Html(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      default: out += c;
    }
  }
  return out;
}

// A fixed-width text field, up to its first zero byte.
std::string Field(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  size_t z = s.find('\0');
  if (z != std::string::npos) s.resize(z);
  return s;
}

class Report {
 public:
  void Table(const char* heading) {
    if (open_) out_ += "</table>\n";
    out_ += heading;
    out_ += Fmt("<table border=1 cellspacing=0 cellpadding=2><tr><th>%s</th><th>%s</th></td>\n", "Item", "Value");
    open_ = true;
  }
  void Text(const char* item, std::string_view value) {
    out_ += Fmt("<tr><td>%s</td><td>%s</td></tr>\n", item, Html(value));
  }
  void Number(const char* item, uint32_t value) { out_ += Fmt("<tr><td>%s</td><td>%lu</td></tr>\n", item, value); }
  void Hex(const char* item, uint32_t value) { out_ += Fmt("<tr><td>%s</td><td>0x%lx</td></tr>\n", item, value); }
  void Raw(const std::string& s) { out_ += s; }
  std::string Finish() {
    if (open_) out_ += "</table>\n";
    open_ = false;
    return out_;
  }

 private:
  std::string out_;
  bool open_ = false;
};

const char* kReportHead =
    "<html>\n<head>\n<title>Zumbla Flash Card</title>\n<style type=\"text/css\">\n"
    "body, td, th { font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 12px; }\n"
    "h1 { font-size: 16px; }\n"
    "th { background-color: #e0e0e0; text-align: left; }\n"
    "</style>\n</head>\n<body>\n";
const char* kReportTail = "</body>\n</html>\n";

}  // namespace

int CardFs::WriteCardReport(const std::filesystem::path& path) {
  const VolumeRecord& v = volume_;
  const auto& id = v.identify;
  Report r;
  r.Raw(kReportHead);
  r.Table("<h1>Flash Card Hardware Info</h1>\n");
  r.Hex("General configuration word 0x848A", IdWord(id, 0));
  r.Number("Default Cylinders", IdWord(id, 1));
  r.Number("Default Heads", IdWord(id, 3));
  r.Number("Default Sectors/Track", IdWord(id, 6));
  r.Number("Current Cylinders", IdWord(id, 54));
  r.Number("Current Heads", IdWord(id, 55));
  r.Number("Current Sectors/Track", IdWord(id, 56));
  r.Number("Capacity in Sectors", IdLong(id, 57));
  r.Number("Sectors Addressable in LBA", IdLong(id, 60));
  r.Text("Serial Number", Field(id.data() + 20, 20));
  r.Text("Firmware Revision", Field(id.data() + 46, 8));
  r.Text("Model Number", Field(id.data() + 54, 40));

  const uint8_t* m = v.mbr.data();
  r.Table("<h1>Flash Card MasterBootRecord Info</h1>\n");
  r.Hex("DriveNumber", m[36]);
  r.Hex("BootSignature", m[38]);
  r.Hex("VolumeID", Le32(m + 39));
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = m + 446 + 16 * i;
    if (e[4] == 0) continue;
    r.Raw(Fmt("<tr><th colspan=2>Partition %d</th></tr>\n", i));
    r.Hex("PartBootInd", e[0]);
    r.Number("PartStartHead", e[1]);
    r.Hex("PartStartSector (bit 0-5)", e[2]);
    r.Hex("PartStartTrack (bits 8,9 in StartSec)", e[3]);
    r.Hex("PartOpSys", e[4]);
    r.Number("PartEndHead", e[5]);
    r.Hex("PartEndSector (bit 0-5)", e[6]);
    r.Hex("PartEndTrack (bits 8,9 in EndSec)", e[7]);
    r.Number("PartPrecedingSecs", Le32(e + 8));
    r.Number("PartLengthInSecs", Le32(e + 12));
  }

  const uint8_t* b = v.pbr.data();
  r.Table("<h1>Flash Card Bootsector Info</h1>\n");
  r.Text("OemName", Field(b + 3, 8));
  r.Number("Offset from MBR", v.partitionOffset);
  r.Number("BytesPerSec", Le16(b + 11));
  r.Number("SecPerClust", b[13]);
  r.Number("ResSectors", Le16(b + 14));
  r.Number("FATs", b[16]);
  r.Number("RootDirEnts", Le16(b + 17));
  r.Number("Sectors", Le16(b + 19));
  r.Hex("Media", b[21]);
  r.Number("FATsecs", Le16(b + 22));
  r.Number("SecPerTrack", Le16(b + 24));
  r.Number("Heads", Le16(b + 26));
  r.Number("HiddenSecs", Le32(b + 28));
  r.Number("HugeSectors", Le32(b + 32));
  r.Hex("DriveNumber", b[36]);
  r.Hex("BootSignature", b[38]);
  r.Hex("VolumeID", Le32(b + 39));
  r.Text("VolumeLabel", Field(b + 43, 11));
  r.Text("FileSysType", Field(b + 54, 8));
  std::string text = r.Finish() + kReportTail;
  return WriteBinaryFile(path, text.data(), text.size()) ? 1 : 0;
}

int CardFs::LoadMbrPbrTemplates() {
  std::filesystem::path path = env().InstallPath("MBRPBR.DAT");
  auto data = ReadBinaryFile(path);
  if (!data || data->size() < 2 * kSectorBytes) {
    ReportReadError(env(), Utf8ToLatin1(path.string()));
    return 0;
  }
  std::copy(data->begin(), data->begin() + kSectorBytes, volume_.mbr.begin());
  std::copy(data->begin() + kSectorBytes, data->begin() + 2 * kSectorBytes, volume_.pbr.begin());
  return 1;
}

}  // namespace kestro
