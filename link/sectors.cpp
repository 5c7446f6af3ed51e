#include "link/sectors.h"

#include <algorithm>
#include <ctime>

#include "link/player.h"
#include "platform/format.h"

namespace kestro {

const char* SectorAreaName(const SectorAreas& a, uint32_t sector) {
  if (sector == kIdentifySectorNumber) return "Flash Header";
  if (sector == 0) return "MBR";
  if (sector == a.partitionStart) return "PBR";
  if (sector < a.partitionStart) return "PBR/MBR hidden";
  if (sector < a.firstFatSector) return "PBR/MBR";
  if (sector < a.firstRootSector) return "FAT";
  if (sector < a.firstDataSector) return "RootDir";
  return "Data";
}

std::optional<LocalDateTime> SystemLocalTime() {
  std::time_t t = std::time(nullptr);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return std::nullopt;
  return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {

void Put16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

}  // namespace

void FatTimestamp(uint8_t* entry, const std::optional<LocalDateTime>& now) {
  if (!now) return;
  const LocalDateTime& t = *now;
  if (t.year < 1980 || t.year > 2107 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 ||
      t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60)
    return;
  unsigned second = static_cast<unsigned>(t.second > 59 ? 59 : t.second);  // a leap second
  unsigned time = static_cast<unsigned>(t.hour) << 11 | static_cast<unsigned>(t.minute) << 5 | second / 2;
  unsigned date = static_cast<unsigned>(t.year - 1980) << 9 | static_cast<unsigned>(t.month) << 5 |
                  static_cast<unsigned>(t.day);
  entry[13] = static_cast<uint8_t>((second % 2) * 100);
  Put16(entry + 14, time);
  Put16(entry + 16, date);
  Put16(entry + 18, date);
  Put16(entry + 22, time);
  Put16(entry + 24, date);
}

int SectorAccess::LostLink() {
  link_.linkErrorState = 1;
  return 0;
}

int SectorAccess::Unanswered() {
  // A bulk time-out has set the state already; an FTDI failure leaves it
  // for the retries, up to the limit.
  if (link_.linkErrorState != 1 && ++unanswered_ >= kUnansweredLimit) LostLink();
  if (link_.linkErrorState == 1) {
    unanswered_ = 0;
    return 0;
  }
  // What is left of a late answer would be taken for the answer to the
  // next exchange, which may ask for another sector.
  uint8_t junk = 0;
  for (size_t drained = 0; drained < 4096 && link_.LinkReceive(&junk, 1, kDrainTimeoutMs); ++drained) {
  }
  return 0;
}

namespace {

void PutCommand(uint8_t* cmd, uint8_t kind, uint32_t sector) {
  cmd[0] = 0x55;
  cmd[1] = kind;
  cmd[2] = static_cast<uint8_t>(sector & 0xFF);
  cmd[3] = static_cast<uint8_t>((sector >> 8) & 0xFF);
  cmd[4] = static_cast<uint8_t>((sector >> 16) & 0xFF);
  cmd[5] = 0x00;
  cmd[6] = 0x0A;
}

}  // namespace

int SectorAccess::FlashReadSector(uint32_t sector, uint8_t* buffer512) {
  if (link_.linkErrorState == 1) return 0;
  // The command carries 24 bits: a larger number would reach another sector.
  if (sector > kIdentifySectorNumber) {
    link_.linkErrorText = Fmt("Invalid sector %lx", sector);
    return 0;
  }
  link_.linkErrorState = 0;
  ++traffic.reads;
  if (store_) return store_->ReadSector(sector, buffer512) ? 1 : 0;
  uint8_t cmd[7];
  PutCommand(cmd, 0x02, sector);
  if (!link_.LinkSend(cmd, sizeof cmd, kReadSendTimeoutMs)) return Unanswered();
  transfer_.fill(0);
  if (!link_.LinkReceive(transfer_.data(), 1, kReplyTimeoutMs)) return Unanswered();
  if (!link_.LinkReceive(transfer_.data() + 1, 515, kReplyTimeoutMs)) return Unanswered();
  unanswered_ = 0;
  if (transfer_[0] != wire::kAck) {
    link_.linkErrorText = Fmt("Invalid char %02x", transfer_[0]);
    return 0;
  }
  uint16_t sum = FileSum16(transfer_.data() + 1, kSectorBytes);
  std::copy(transfer_.begin() + 1, transfer_.begin() + 1 + kSectorBytes, buffer512);
  if (link_.linkErrorState != 0) return 0;
  uint16_t received = static_cast<uint16_t>(transfer_[514] << 8 | transfer_[515]);
  if (sum != received) {
    link_.linkErrorState = 3;
    Trace("Sector read: checksum error");
    return 0;
  }
  return 1;
}

int SectorAccess::FlashWriteSector(uint32_t sector, const uint8_t* data512) {
  if (link_.linkErrorState == 1) return 0;
  if (sector >= kIdentifySectorNumber) {
    link_.linkErrorText = Fmt("Invalid sector %lx", sector);
    return 0;
  }
  ++writeCount;
  link_.linkErrorState = 0;
  ++traffic.writes;
  if (store_) return store_->WriteSector(sector, data512) ? 1 : 0;
  uint64_t start = env().clock.NowMs();
  uint8_t cmd[7];
  PutCommand(cmd, 0x01, sector);
  if (!link_.LinkSend(cmd, sizeof cmd, kWriteSendTimeoutMs)) return Unanswered();
  std::copy(data512, data512 + kSectorBytes, transfer_.begin());
  uint16_t sum = FileSum16(data512, kSectorBytes);
  transfer_[512] = 0xFF;
  transfer_[513] = 0xFF;
  transfer_[514] = static_cast<uint8_t>(sum >> 8);
  transfer_[515] = static_cast<uint8_t>(sum & 0xFF);
  if (!link_.LinkSend(transfer_.data(), 516, kReplyTimeoutMs)) return Unanswered();
  uint8_t reply = 0;
  if (!link_.LinkReceive(&reply, 1, kReplyTimeoutMs)) return Unanswered();
  unanswered_ = 0;
  if (reply == wire::kAck) {
    Trace(Fmt("T=%i", static_cast<int64_t>(env().clock.NowMs() - start)));
    return 1;
  }
  if (reply == wire::kNak) {
    link_.linkErrorText = Fmt("Checksum error %x writeOPCNT=%d", reply, writeCount);
  } else {
    link_.linkErrorText = Fmt("Invalid char %02x", reply);
  }
  return 0;
}

int SectorAccess::ReadSectors(uint32_t first, uint32_t count, uint8_t* buffer) {
  if (link_.linkErrorState == 1) return 0;
  Trace(Fmt("Reading sector: %ld (%ld sectors) [%s]", first, count, AreaName(first)));
  failedSectors = 0;
  for (uint32_t i = 0; i < count; ++i) {
    env().ui.ProgressStep(1);
    link_.linkErrorState = 0;
    if (link_.linkOpenFlag == 0) return 0;
    uint8_t* at = buffer + static_cast<size_t>(i) * kSectorBytes;
    int ok = FlashReadSector(first + i, at);
    for (int r = 0; !ok && r < kReadRetries; ++r) {
      ok = FlashReadSector(first + i, at);
      if (link_.linkErrorState == 1) return 0;
    }
    if (!ok) ++failedSectors;
  }
  return 1;
}

int SectorAccess::WriteSectors(uint32_t first, uint32_t count, const uint8_t* data) {
  if (link_.linkErrorState == 1) return 0;
  Trace(Fmt("Writing sector: %ld (%ld sectors) [%s]", first, count, AreaName(first)));
  for (uint32_t i = 0; i < count; ++i) {
    env().ui.ProgressStep(1);
    link_.linkErrorState = 0;
    if (link_.linkOpenFlag == 0) return 0;
    const uint8_t* at = data + static_cast<size_t>(i) * kSectorBytes;
    int ok = FlashWriteSector(first + i, at);
    int rounds = 0;
    while (!ok) {
      // A player that refuses the same sector round after round will not
      // take it: give up as on a lost link, so the operation unwinds.
      if (rounds++ == kWriteRetryRounds) return LostLink();
      FlashWriteSector(first + i, at);
      if (link_.linkErrorState == 1) return 0;
      ok = FlashWriteSector(first + i, at);
    }
  }
  return 1;
}

}  // namespace kestro
