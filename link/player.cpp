#include "link/player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/charmap.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"
#include "platform/bytes.h"

namespace kestro {

namespace fs = std::filesystem;

namespace {

std::string TextAt(const uint8_t* p, size_t max) {
  size_t n = 0;
  while (n < max && p[n]) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// A path as the messages show it: dictionary texts are Latin-1.
std::string Shown(const fs::path& p) { return Utf8ToLatin1(p.string()); }

std::optional<uint16_t> FileSumOnDisk(const fs::path& p) {
  auto data = ReadBinaryFile(p);
  if (!data) return std::nullopt;
  return FileSum16(data->data(), data->size());
}

}  // namespace

std::string ZumblaInfo::Release() const { return TextAt(bytes.data() + kReleaseOffset, kSize - kReleaseOffset); }

std::optional<int> ReadingForPlayerMode(int mode) {
  switch (mode) {
    case 0: return 2;
    case 1: return 1;
    case 2: return 3;
    case 3: return 4;
    default: return std::nullopt;
  }
}

uint32_t RamSongTable::FreeBytes() const { return Le32(bytes.data() + 2); }

uint16_t RamSongTable::Code(int i) const {
  const uint8_t* r = bytes.data() + kTitlesOffset + static_cast<size_t>(i) * kRecordSize;
  return static_cast<uint16_t>(r[0] | r[1] << 8);
}

std::string RamSongTable::Title(int i) const {
  return TextAt(bytes.data() + kTitlesOffset + static_cast<size_t>(i) * kRecordSize + 2, kTextSize);
}

std::string RamSongTable::Author(int i) const {
  return TextAt(bytes.data() + kAuthorsOffset + static_cast<size_t>(i) * kRecordSize + 2, kTextSize);
}

std::optional<uint8_t> Player::ReceiveByte(uint32_t timeoutMs) {
  uint8_t b = 0;
  if (!link_.LinkReceive(&b, 1, timeoutMs)) return std::nullopt;
  return b;
}

int Player::SendCommand(wire::Command c, uint32_t replyTimeoutMs, uint32_t pauseMs) {
  const uint8_t cmd[6] = {wire::kCommandHeader[0], wire::kCommandHeader[1], wire::kCommandHeader[2],
                          wire::kCommandHeader[3], c.cls, c.fn};
  if (!SendByte(wire::kWake) || !SendByte(wire::kWake) || !Send(cmd, sizeof cmd)) return 0;
  if (pauseMs) Pause(pauseMs);
  auto reply = ReceiveByte(replyTimeoutMs);
  if (pauseMs) Pause(pauseMs);
  return reply && wire::Accepted(*reply) ? 1 : 0;
}

int Player::PacedCommand(wire::Command c, uint32_t replyTimeoutMs) {
  const uint8_t cmd[6] = {wire::kCommandHeader[0], wire::kCommandHeader[1], wire::kCommandHeader[2],
                          wire::kCommandHeader[3], c.cls, c.fn};
  Pause(kStepPauseMs);
  if (!SendByte(wire::kWake) || !SendByte(wire::kWake)) return 0;
  Pause(kStepPauseMs);
  if (!Send(cmd, sizeof cmd)) return 0;
  Pause(kStepPauseMs);
  auto reply = ReceiveByte(replyTimeoutMs);
  Pause(kStepPauseMs);
  return reply && wire::Accepted(*reply) ? 1 : 0;
}

// --- Song table ---

int Player::ReceiveTable(RamSongTable& t) {
  if (!SendCommand(wire::kGetRamFileInfo)) return 0;
  uint8_t* b = t.bytes.data();
  if (!link_.LinkReceive(b, 2, wire::kDefaultTimeoutMs) || !link_.LinkReceive(b + 2, 4, wire::kDefaultTimeoutMs))
    return 0;
  int count = t.SongCount();
  if (count > kMaxRamSongs || t.FreeBytes() > kMaxPlayerBytes) return 0;
  for (int i = 0; i < count; ++i) {
    uint8_t code[2] = {0, 0};
    uint8_t title[RamSongTable::kTextSize] = {};
    uint8_t author[RamSongTable::kTextSize] = {};
    if (!link_.LinkReceive(code, 2, wire::kDefaultTimeoutMs) ||
        !link_.LinkReceive(title, sizeof title, wire::kDefaultTimeoutMs) ||
        !link_.LinkReceive(author, sizeof author, wire::kDefaultTimeoutMs))
      return 0;
    title[RamSongTable::kTextSize - 1] = 0;
    author[RamSongTable::kTextSize - 1] = 0;
    uint8_t* tr = b + RamSongTable::kTitlesOffset + static_cast<size_t>(i) * RamSongTable::kRecordSize;
    uint8_t* ar = b + RamSongTable::kAuthorsOffset + static_cast<size_t>(i) * RamSongTable::kRecordSize;
    tr[0] = code[0];
    tr[1] = code[1];
    std::memcpy(tr + 2, title, sizeof title);
    std::memcpy(ar + 2, author, sizeof author);
  }
  return 1;
}

int Player::GetRamFileInfo(RamSongTable& table) {
  table.bytes.fill(0);
  int ok = 0;
  if (link_.LinkOpen()) ok = ReceiveTable(table);
  link_.LinkClose();
  // A refused or broken table is not handed on half filled.
  if (!ok) table.bytes.fill(0);
  if (ok) link_.linkErrorState = 0;
  env_.ui.ProgressEnd();
  return ok;
}

// --- Songs ---

int Player::ReadRamFile(const fs::path& targetPath, uint16_t code) {
  const fs::path target = MapPlayerPath(targetPath);
  FILE* f = std::fopen(target.c_str(), "wb");
  if (!f) {
    env_.ui.ShowMessage(env_.TF("MSG_NO_OPENFILE", Shown(target)), env_.T("MSG_ATTENZIONE"), mb::kOk);
    return 0;
  }
  // Every failure removes the file: a song that did not arrive must not
  // show up in the PC song folder as an empty or cut file.
  auto fail = [&](bool tell) {
    if (f) std::fclose(f);
    std::error_code ec;
    fs::remove(target, ec);
    link_.LinkClose();
    if (tell) env_.ui.ShowMessage(env_.TF("MSG_NOTRANFERSONG", static_cast<int>(code)), env_.T("MSG_ATTENZIONE"), mb::kOk);
    return 0;
  };
  if (!link_.LinkOpen()) return fail(false);
  if (!PacedCommand(wire::kReadRamFile, kReadReplyTimeoutMs)) return fail(false);

  const uint8_t codeBytes[2] = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
  if (!Send(codeBytes, 2)) return fail(true);
  Pause(kStepPauseMs);
  auto reply = ReceiveByte();
  Pause(kStepPauseMs);
  if (!reply || !wire::Accepted(*reply)) return fail(true);

  uint8_t head[8] = {};
  if (!link_.LinkReceive(head, 4, wire::kDefaultTimeoutMs) || !link_.LinkReceive(head + 4, 4, wire::kDefaultTimeoutMs))
    return fail(true);
  const uint32_t length = Le32(head);
  const uint32_t sum = Le32(head + 4);
  if (length > kMaxPlayerBytes) return fail(true);

  uint32_t remaining = length;
  uint8_t block[wire::kRamBlockSize];
  while (remaining > 0) {
    size_t n = std::min<size_t>(wire::kRamBlockSize, remaining);
    std::memset(block, 0, sizeof block);
    if (!link_.LinkReceive(block, n, wire::kDefaultTimeoutMs)) return fail(true);
    std::fwrite(block, 1, n, f);
    remaining -= static_cast<uint32_t>(n);
    // A full block is acknowledged to get the next one.
    if (n == wire::kRamBlockSize) SendByte(wire::kSoftAck);
  }
  std::fclose(f);
  f = nullptr;
  link_.LinkClose();

  // The file as it landed on disk is what counts. A song that does not
  // match its sum is damaged: it is not handed on as a copy of the song.
  auto onDisk = FileSumOnDisk(target);
  if (!onDisk || *onDisk != sum) {
    std::error_code ec;
    fs::remove(target, ec);
    env_.ui.ShowMessage(env_.T("MSG_PBL_READFILE"), env_.T("MSG_ATTENZIONE"), mb::kIconStop);
    return 0;
  }
  return 1;
}

int Player::WriteRamFile(const fs::path& sourcePath) {
  Pause(kBeforeWritePauseMs);
  const std::string shown = Shown(sourcePath);
  auto size = FileSize(sourcePath);
  auto data = size && *size <= kMaxPlayerBytes ? ReadBinaryFile(sourcePath) : std::nullopt;
  if (!size || (!data && *size <= kMaxPlayerBytes)) {
    env_.ui.ShowMessage(env_.TF("MSG_NO_OPENFILE", shown), env_.T("MSG_ATTENZIONE"), mb::kOk);
    return 0;
  }
  if (!data) {
    // Larger than any player's memory: the player would refuse it anyway.
    env_.ui.ShowMessage(env_.TF("MSG_SPAZIO_INSUF", shown), env_.T("MSG_ATTENZIONE"), mb::kOk);
    return 0;
  }
  if (!link_.LinkOpen()) {
    link_.LinkClose();
    return 0;
  }
  auto finish = [&](int result) {
    link_.LinkClose();
    Pause(kAfterWritePauseMs);
    return result;
  };
  if (!PacedCommand(wire::kWriteRamFile, wire::kDefaultTimeoutMs)) return finish(0);

  const uint32_t length = static_cast<uint32_t>(data->size());
  uint8_t head[8];
  PutLe32(head, length);
  PutLe32(head + 4, FileSum16(data->data(), data->size()));
  if (!Send(head, 4) || !Send(head + 4, 4)) return finish(0);
  Pause(kStepPauseMs);
  auto reply = ReceiveByte();
  Pause(kStepPauseMs);
  if (!reply || !wire::Accepted(*reply)) {
    env_.ui.ShowMessage(env_.TF("MSG_SPAZIO_INSUF", shown), env_.T("MSG_ATTENZIONE"), mb::kOk);
    return finish(0);
  }

  size_t offset = 0;
  while (true) {
    size_t n = std::min(wire::kRamBlockSize, data->size() - offset);
    if (n > 0 && !Send(data->data() + offset, n)) return finish(0);
    offset += n;
    if (n < wire::kRamBlockSize) {
      env_.ui.ProgressStep();
      break;
    }
    auto ack = ReceiveByte();
    if (!ack || !wire::Accepted(*ack)) {
      env_.ui.ShowMessage(env_.TF("MSG_PBLCOMUNICATION", shown), env_.T("MSG_ATTENZIONE"), mb::kOk);
      return finish(0);
    }
    env_.ui.ProgressStep();
  }
  auto last = ReceiveByte(kWriteEndTimeoutMs);
  return finish(last && wire::Accepted(*last) ? 1 : 0);
}

int Player::DeleteRamFile(uint16_t code) {
  int ok = 0;
  if (link_.LinkOpen() && SendCommand(wire::kDeleteRamFile, wire::kDefaultTimeoutMs, kStepPauseMs)) {
    const uint8_t c[2] = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
    if (Send(c, 2)) {
      Pause(kStepPauseMs);
      auto reply = ReceiveByte(kDeleteTimeoutMs);
      ok = reply && wire::Accepted(*reply) ? 1 : 0;
    }
  }
  link_.LinkClose();
  return ok;
}

int Player::DeleteAllRamFiles() {
  int ok = 0;
  if (link_.LinkOpen() && SendCommand(wire::kDeleteAllRamFiles)) {
    ReceiveByte();  // the end of the erase; its value says nothing more
    ok = 1;
  }
  link_.LinkClose();
  return ok;
}

// --- Information and setup ---

int Player::GetZumblaInfo(ZumblaInfo& info) {
  info.bytes.fill(0);
  int ok = 0;
  if (link_.LinkOpen() && SendCommand(wire::kGetZumblaInfo, kInfoTimeoutMs)) {
    ok = link_.LinkReceive(info.bytes.data(), info.bytes.size(), kInfoTimeoutMs);
  }
  link_.LinkClose();
  if (ok) lastInfo_ = info;
  return ok;
}

int Player::ReadRamSetup(const fs::path& targetPath) {
  int ok = 0;
  uint8_t rec[30] = {};
  if (link_.LinkOpen() && SendCommand(wire::kReadRamSetup) &&
      link_.LinkReceive(rec, sizeof rec, wire::kDefaultTimeoutMs)) {
    ok = 1;
    // The record was read; a file that cannot be written does not undo that.
    WriteBinaryFile(targetPath, rec, sizeof rec);
  }
  link_.LinkClose();
  return ok;
}

int Player::WriteRamSetup(const fs::path& sourcePath) {
  bool open = link_.LinkOpen();
  // A shorter file sends zeros for the bytes it lacks: the options dialog
  // keeps only the first 16 bytes in the file.
  uint8_t rec[30] = {};
  FILE* f = std::fopen(sourcePath.c_str(), "rb");
  if (!f) {
    link_.LinkClose();
    return 0;
  }
  (void)std::fread(rec, 1, sizeof rec, f);
  std::fclose(f);
  int ok = 0;
  if (open && SendCommand(wire::kWriteRamSetup)) ok = Send(rec, sizeof rec);
  link_.LinkClose();
  return ok;
}

// --- Card access ---

int Player::Handshake(wire::Command c, bool isEnd) {
  if (link_.linkOpenFlag == 0) return -1;
  const uint8_t cmd[6] = {wire::kCommandHeader[0], wire::kCommandHeader[1], wire::kCommandHeader[2],
                          wire::kCommandHeader[3], c.cls, c.fn};
  if (!Send(cmd, sizeof cmd)) return -1;
  auto reply = ReceiveByte();
  if (!reply) return -1;
  if (*reply == wire::kAck) return 1;
  if (*reply == wire::kBusy) {
    link_.linkErrorState = 1;
    env_.ui.SystemMessage(env_.T("MSG_ZUMNET_BUSY"), env_.T("MSG_CAPTION_ERROR"), mb::kIconStop);
    return 0;
  }
  return isEnd ? 1 : -1;
}

// --- Free memory ---

uint32_t Player::RamFreeForNewSong() {
  RamSongTable table;
  if (!GetRamFileInfo(table)) return 0;
  if (!lastInfo_) {
    ZumblaInfo info;
    GetZumblaInfo(info);
  }
  int limit = lastInfo_ ? RamSongLimit(lastInfo_->Release()) : 40;
  return table.SongCount() < limit ? table.FreeBytes() : 0;
}

uint32_t Player::RamFreePercent(int currentMedium) {
  if (currentMedium != 2) return 0;
  ramFreeBytes = RamFreeForNewSong();
  return std::min<uint32_t>(ramFreeBytes / kPercentUnitBytes, 100);
}

}  // namespace kestro
