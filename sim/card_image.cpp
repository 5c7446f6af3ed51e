#include "sim/card_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestro::sim {

CardGeometry GeometryForSectors(uint32_t sectors) {
  CardGeometry g;
  g.sectorsPerTrack = sectors < 16u * 32 * 1024 ? 32 : 63;
  g.heads = 16;
  for (uint16_t h : {2, 4, 8, 16}) {
    if (sectors / (h * g.sectorsPerTrack) <= 1024) {
      g.heads = h;
      break;
    }
  }
  g.cylinders = static_cast<uint16_t>(std::min<uint32_t>(sectors / (g.heads * g.sectorsPerTrack), 65535));
  return g;
}

std::unique_ptr<CardImage> CardImage::Open(const std::filesystem::path& path, uint64_t createBytes,
                                           std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && createBytes > 0) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 && ftruncate(fd, static_cast<off_t>(createBytes)) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    if (error) *error = "cannot open card image " + path.string() + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(kSectorSize)) {
    ::close(fd);
    if (error) *error = "card image " + path.string() + " holds no whole sector";
    return nullptr;
  }
  uint64_t sectors = static_cast<uint64_t>(st.st_size) / kSectorSize;
  sectors = std::min<uint64_t>(sectors, kIdentifySector - 1);
  return std::unique_ptr<CardImage>(new CardImage(path, fd, static_cast<uint32_t>(sectors)));
}

CardImage::~CardImage() { ::close(fd_); }

bool CardImage::Read(uint32_t sector, uint8_t* out512) const {
  if (sector >= sectors_) return false;
  ssize_t n = pread(fd_, out512, kSectorSize, static_cast<off_t>(sector) * kSectorSize);
  return n == static_cast<ssize_t>(kSectorSize);
}

bool CardImage::Write(uint32_t sector, const uint8_t* in512) {
  if (sector >= sectors_) return false;
  ssize_t n = pwrite(fd_, in512, kSectorSize, static_cast<off_t>(sector) * kSectorSize);
  return n == static_cast<ssize_t>(kSectorSize);
}

namespace {

void PutWord(Sector& s, int word, uint16_t v) {
  s[static_cast<size_t>(word) * 2] = static_cast<uint8_t>(v & 0xFF);
  s[static_cast<size_t>(word) * 2 + 1] = static_cast<uint8_t>(v >> 8);
}

// ATA texts: the first character of each pair in the high byte of its word,
// so the bytes stand swapped; padded with blanks.
void PutText(Sector& s, int firstWord, int words, const char* text) {
  size_t len = std::strlen(text);
  for (int i = 0; i < words * 2; ++i) {
    char c = static_cast<size_t>(i) < len ? text[i] : ' ';
    size_t at = static_cast<size_t>(firstWord) * 2 + static_cast<size_t>(i ^ 1);
    s[at] = static_cast<uint8_t>(c);
  }
}

}  // namespace

Sector CardImage::Identify() const {
  Sector s{};
  CardGeometry g = Geometry();
  uint32_t chs = static_cast<uint32_t>(g.cylinders) * g.heads * g.sectorsPerTrack;
  PutWord(s, 0, 0x848A);
  PutWord(s, 1, g.cylinders);
  PutWord(s, 3, g.heads);
  PutWord(s, 4, static_cast<uint16_t>(g.sectorsPerTrack * kSectorSize));
  PutWord(s, 5, static_cast<uint16_t>(kSectorSize));
  PutWord(s, 6, g.sectorsPerTrack);
  PutWord(s, 7, static_cast<uint16_t>(sectors_ >> 16));
  PutWord(s, 8, static_cast<uint16_t>(sectors_ & 0xFFFF));
  PutText(s, 10, 10, "ZSIM00000001");
  PutWord(s, 20, 2);   // buffer type
  PutWord(s, 21, 2);   // buffer size in 512-byte units
  PutText(s, 23, 4, "SIM 1.0");
  PutText(s, 27, 20, "ZUMBLA SIMULATED CF CARD");
  PutWord(s, 47, 1);   // sectors per multiple transfer
  PutWord(s, 49, 0x0200);  // LBA supported
  PutWord(s, 53, 1);   // words 54-58 valid
  PutWord(s, 54, g.cylinders);
  PutWord(s, 55, g.heads);
  PutWord(s, 56, g.sectorsPerTrack);
  PutWord(s, 57, static_cast<uint16_t>(chs & 0xFFFF));
  PutWord(s, 58, static_cast<uint16_t>(chs >> 16));
  PutWord(s, 60, static_cast<uint16_t>(sectors_ & 0xFFFF));
  PutWord(s, 61, static_cast<uint16_t>(sectors_ >> 16));
  return s;
}

}  // namespace kestro::sim
