// A simulated player with a card, the sector layer and a CardFs over it, in a
// card access; plus the other systems' tools (dosfstools, mtools) on the
// simulator's card image.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cardfs/card_fs.h"
#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"
#include "sim/sim_rig.h"

namespace kestro::cardtest {

namespace fs = std::filesystem;

inline sim::SimConfig CardConfig(uint64_t bytes) {
  sim::SimConfig c;
  c.cardBytes = bytes;
  c.mode = sim::Mode::Card;
  return c;
}

inline sim::SimConfig ImageConfig(const fs::path& image) {
  sim::SimConfig c;
  c.cardImage = image;
  c.mode = sim::Mode::Card;
  return c;
}

inline Bytes Pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

inline const LocalDateTime kFixedTime{2024, 5, 6, 7, 8, 10};

class CardRig {
 public:
  explicit CardRig(sim::SimConfig cfg) : rig(std::move(cfg)), sectors(rig.link), card(sectors, rig.player) {
    testing::FillInstallDir(rig.dir);
    EXPECT_TRUE(rig.dict.Load(rig.dir, rig.profile, rig.ui));
    sectors.traceSink = [this](std::string_view l) {
      if (trace.size() < 100000) trace.emplace_back(l);
    };
    card.localTime = [] { return std::optional(kFixedTime); };
    Open();
  }
  // LinkOpen and the handshake that opens the card.
  void Open() {
    EXPECT_EQ(rig.link.LinkOpen(), 1);
    EXPECT_EQ(rig.player.CardAccessBegin(), 1);
    EXPECT_EQ(rig.player.CardAccessOpen(), 1);
  }
  int& state() { return rig.link.linkErrorState; }
  const fs::path& dir() const { return rig.dir; }
  fs::path Image() const { return rig.sim.config().cardImage; }
  std::string T(const char* key) { return rig.env.T(key); }

  // A PC file in the rig's folder.
  fs::path PcFile(const std::string& name, const Bytes& data) {
    fs::path p = rig.dir / name;
    EXPECT_TRUE(WriteBinaryFile(p, data));
    return p;
  }
  // The card file read back through Kestro; nothing when it could not be read.
  std::optional<Bytes> Read(std::string_view dir, std::string_view name11) {
    fs::path p = rig.dir / "readback.bin";
    RemoveFile(p);
    if (!card.CardReadFile(dir, name11, p)) return std::nullopt;
    return ReadBinaryFile(p);
  }
  int Write(std::string_view dir, std::string_view name11, const Bytes& data) {
    return card.CardWriteFile(dir, name11, PcFile("towrite.bin", data));
  }

  // Sector numbers the host asked the player for, in order.
  std::vector<uint32_t> Asked(bool writes) const {
    std::vector<uint32_t> out;
    for (const auto& w : rig.sim.wire) {
      if (!w.fromHost || w.bytes.size() != 7 || w.bytes[0] != 0x55) continue;
      if (w.bytes[1] != (writes ? 0x01 : 0x02)) continue;
      out.push_back(static_cast<uint32_t>(w.bytes[2] | w.bytes[3] << 8 | w.bytes[4] << 16));
    }
    return out;
  }

  sim::SimRig rig;
  SectorAccess sectors;
  CardFs card;
  std::vector<std::string> trace;
};

// --- Other systems' tools ---

inline bool HaveTools() {
  for (const char* t : {"/usr/sbin/fsck.fat", "/usr/sbin/mkfs.fat", "/usr/bin/mcopy", "/usr/bin/mdir", "/usr/bin/mmd"})
    if (!fs::exists(t)) return false;
  return true;
}

// Bytes [from, from + n) of a file (zeros past its end), read in one go:
// card images are large.
inline Bytes ReadRange(const fs::path& path, uint64_t from, size_t n) {
  Bytes out(n, 0);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  if (!f) return out;
  if (std::fseek(f, static_cast<long>(from), SEEK_SET) == 0) {
    size_t got = std::fread(out.data(), 1, n, f);
    (void)got;
  }
  std::fclose(f);
  return out;
}

inline Bytes ReadImage(const fs::path& path) {
  std::error_code ec;
  return ReadRange(path, 0, static_cast<size_t>(fs::file_size(path, ec)));
}

// Sectors [first, first + count) of an image as a file of their own.
inline fs::path ExtractSectors(const fs::path& image, uint32_t first, uint32_t count, const fs::path& out) {
  Bytes part = ReadRange(image, static_cast<uint64_t>(first) * 512, static_cast<size_t>(count) * 512);
  EXPECT_TRUE(WriteBinaryFile(out, part));
  return out;
}

// fsck.fat -n on the volume at sector `first` of the image.
inline testing::RunResult Fsck(const fs::path& image, uint32_t first, uint32_t count) {
  fs::path part = ExtractSectors(image, first, count, image.parent_path() / "fsck-part.img");
  auto r = testing::Run({"/usr/sbin/fsck.fat", "-n", "-v", part.string()});
  RemoveFile(part);
  return r;
}

// An mtools command on the volume at byte `offset` of the image.
inline testing::RunResult Mtools(const std::string& tool, const fs::path& image, uint64_t offset,
                                 std::vector<std::string> args) {
  std::vector<std::string> argv{"/usr/bin/" + tool, "-i", image.string() + "@@" + std::to_string(offset)};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing::Run(argv, {{"MTOOLS_SKIP_CHECK", "1"}, {"MTOOLSRC", "/dev/null"}});
}

// A master boot record with one partition entry.
inline void PutMbr(Bytes& image, uint32_t start, uint32_t count, uint8_t type) {
  uint8_t* e = image.data() + 446;
  std::memset(image.data(), 0, 512);
  e[1] = 1;
  e[2] = 1;
  e[4] = type;
  e[5] = 0xFE;
  e[6] = 0xFF;
  e[7] = 0xFF;
  for (int i = 0; i < 4; ++i) {
    e[8 + i] = static_cast<uint8_t>(start >> (8 * i));
    e[12 + i] = static_cast<uint8_t>(count >> (8 * i));
  }
  image[510] = 0x55;
  image[511] = 0xAA;
}

}  // namespace kestro::cardtest
