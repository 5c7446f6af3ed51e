// The player's card as a block device: 512-byte sectors read and written one
// exchange at a time, with sums, retries and the error bookkeeping every card
// operation relies on. All traffic happens inside a card access the caller
// opened (LinkOpen, CardAccessBegin, CardAccessOpen; see player.h).
//
// Wire (seven-byte commands, sector number 24 bits, low byte first):
//   read   55 02 LO MID HI 00 0A  ->  status (06), 512 data, 1 unused, sum hi, sum lo
//   write  55 01 LO MID HI 00 0A  +   512 data, FF FF, sum hi, sum lo  ->  06 / 15 (NAK)
// The sum is the 16-bit sum of the 512 data bytes. Sector 0xFFFFFF returns
// the card's identification block (ATA IDENTIFY DEVICE layout).
//
// Lost link: a bulk transfer that times out loses the link at once (the link
// sets `link error state` 1); an FTDI transfer that fails changes nothing, so
// the retries below run for a reply the bridge missed. Only a player that
// leaves kUnansweredLimit exchanges in a row unanswered is taken for gone.
// From state 1 on every sector operation refuses at once, so that a whole
// card operation unwinds quickly; the caller's next run that resets the
// state (a card check, a mount) starts over.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/link.h"

namespace kestro {

inline constexpr size_t kSectorBytes = 512;
inline constexpr uint32_t kIdentifySectorNumber = 0xFFFFFF;

// Where the areas of the mounted volume lie on the card (absolute sectors),
// for naming sectors in trace lines. All zero while nothing is mounted.
struct SectorAreas {
  uint32_t partitionStart = 0;
  uint32_t firstFatSector = 0;
  uint32_t firstRootSector = 0;
  uint32_t firstDataSector = 0;
};

// "Flash Header", "MBR", "PBR", "PBR/MBR hidden", "PBR/MBR", "FAT",
// "RootDir" or "Data".
const char* SectorAreaName(const SectorAreas& areas, uint32_t sector);

// Local date and time, as a FAT directory entry stores it.
struct LocalDateTime {
  int year = 1980;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};
// Gives the local time, or nothing when it is not available.
using LocalTimeSource = std::function<std::optional<LocalDateTime>()>;
// The machine's local time.
std::optional<LocalDateTime> SystemLocalTime();

// Stamps a 32-byte directory entry: byte 13 tenths ((second mod 2) x 100),
// creation time 14-15 and write time 22-23 (hour << 11 | minute << 5 |
// second / 2), creation date 16-17, access date 18-19 and write date 24-25
// ((year - 1980) << 9 | month << 5 | day). Nothing is written without a time,
// nor for a date FAT cannot hold (before 1980 or after 2107).
void FatTimestamp(uint8_t* entry32, const std::optional<LocalDateTime>& now);

// A card whose sectors are at hand without the player (an image in memory):
// plugged into a SectorAccess, it answers the sector exchanges instead of the
// link, so the card code above runs unchanged over it. False: the sector
// could not be read or written.
class SectorStore {
 public:
  virtual ~SectorStore() = default;
  virtual bool ReadSector(uint32_t sector, uint8_t* out512) = 0;
  virtual bool WriteSector(uint32_t sector, const uint8_t* data512) = 0;
};

class SectorAccess {
 public:
  // Retries of a sector read whose answer was refused or whose sum was wrong.
  static constexpr int kReadRetries = 5;
  // Rounds of the write retry (each writes the sector twice) before a sector
  // that the player keeps refusing stops the run as a lost link.
  static constexpr int kWriteRetryRounds = 8;
  // Exchanges in a row that got no answer at all before the link counts as
  // lost (a sector's read and its retries): keeps a silent FTDI player from
  // holding a card operation sector after sector.
  static constexpr int kUnansweredLimit = kReadRetries + 1;
  static constexpr uint32_t kReadSendTimeoutMs = 2000;
  static constexpr uint32_t kWriteSendTimeoutMs = 1000;
  static constexpr uint32_t kReplyTimeoutMs = 2000;
  // The wait for stray bytes after an exchange that got no whole answer.
  static constexpr uint32_t kDrainTimeoutMs = 50;

  explicit SectorAccess(Link& link) : link_(link) {}
  // Sectors from `store` (which outlives the object) instead of the player;
  // the link still carries the error state and the user interface.
  SectorAccess(Link& link, SectorStore& store) : link_(link), store_(&store) {}
  SectorAccess(const SectorAccess&) = delete;
  SectorAccess& operator=(const SectorAccess&) = delete;

  Link& link() { return link_; }
  Env& env() { return link_.env(); }

  // One sector; 1 on success. A read copies the data to the caller also
  // when its sum is wrong (then the link error state is 3).
  int FlashReadSector(uint32_t sector, uint8_t* buffer512);
  int FlashWriteSector(uint32_t sector, const uint8_t* data512);

  // Runs of consecutive sectors, 512 bytes of the buffer per sector, one
  // progress step per sector. 1 on completion, 0 when the link was lost or
  // closed. A sector that still cannot be read after the retries is passed
  // over (the buffer keeps what the last attempt gave) and counted in
  // failedSectors; a sector the player refuses to write through every retry
  // round loses the link.
  int ReadSectors(uint32_t first, uint32_t count, uint8_t* buffer);
  int WriteSectors(uint32_t first, uint32_t count, const uint8_t* data);

  // Sectors of the last ReadSectors that were passed over.
  uint32_t failedSectors = 0;

  // The write counter behind the sum error text: sector writes since the
  // object was made (the program makes one for its whole run).
  uint32_t writeCount = 0;

  // Exchanges that crossed the link (retries included), for measurements.
  struct Traffic {
    uint64_t reads = 0;
    uint64_t writes = 0;
  } traffic;

  // The mounted volume's areas, for the trace lines.
  SectorAreas areas;
  const char* AreaName(uint32_t sector) const { return SectorAreaName(areas, sector); }

  // Trace lines of the sector and card code ("Reading sector: ...",
  // "T=12"); nothing is done with them unless a sink is set.
  std::function<void(std::string_view)> traceSink;
  void Trace(std::string_view line) const {
    if (traceSink) traceSink(line);
  }

 private:
  // The link is gone: set the state that makes every layer unwind.
  int LostLink();
  // An exchange got no answer: 0, and the link lost once too many did.
  int Unanswered();

  // Exchanges in a row without an answer.
  int unanswered_ = 0;

  Link& link_;
  SectorStore* store_ = nullptr;
  // The transfer buffer of one exchange (a 516-byte reply or data block).
  std::array<uint8_t, 600> transfer_{};
};

}  // namespace kestro
