// The simulated player's Compact Flash card: a file of raw 512-byte sectors
// (any size; an image made by mkfs.fat works as it is) and the card's
// identification block in the ATA IDENTIFY DEVICE layout.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace kestro::sim {

inline constexpr size_t kSectorSize = 512;
// The pseudo-sector that returns the identification block.
inline constexpr uint32_t kIdentifySector = 0xFFFFFF;

using Sector = std::array<uint8_t, kSectorSize>;

// The card's CHS translation, as a card of that size reports it.
struct CardGeometry {
  uint16_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
};
// 32 sectors per track below 256 MB, else 63; the fewest heads (2, 4, 8 or
// 16) that keep the cylinders at 1024 or below; as many whole cylinders as
// fit. So a 64 MB card (125,440 sectors) is 980 x 4 x 32.
CardGeometry GeometryForSectors(uint32_t sectors);

class CardImage {
 public:
  // Opens `path`; a missing file is created with `createBytes` bytes (all
  // zero, sparse) when that is not 0. Nothing and a reason on failure.
  static std::unique_ptr<CardImage> Open(const std::filesystem::path& path, uint64_t createBytes,
                                         std::string* error);
  ~CardImage();
  CardImage(const CardImage&) = delete;
  CardImage& operator=(const CardImage&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Whole sectors of the file (a 24-bit card: at most 0xFFFFFE).
  uint32_t SectorCount() const { return sectors_; }
  CardGeometry Geometry() const { return GeometryForSectors(sectors_); }

  bool Read(uint32_t sector, uint8_t* out512) const;
  bool Write(uint32_t sector, const uint8_t* in512);

  // 256 little-endian words: 0 = 0x848A; 1, 3, 6 default cylinders, heads,
  // sectors per track; 7-8 sectors per card (7 the high half); 10-19 serial,
  // 23-26 firmware revision, 27-46 model (characters in swapped pairs);
  // 54-56 current geometry; 57-58 CHS capacity; 60-61 LBA sectors.
  Sector Identify() const;

 private:
  CardImage(std::filesystem::path path, int fd, uint32_t sectors) : path_(std::move(path)), fd_(fd), sectors_(sectors) {}
  std::filesystem::path path_;
  int fd_;
  uint32_t sectors_;
};

}  // namespace kestro::sim
