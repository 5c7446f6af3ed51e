// The player's command protocol: songs in internal memory, the information
// record, the setup record and the handshake around card access.
//
// Every operation opens the link, exchanges its bytes and closes the link
// again (the card-access handshake uses the link its caller opened).
// Results: 1 success, 0 failure; the handshake gives 1, 0 (busy) or -1.
//
// Wire: a command is the header 55 AA FF 00, a class byte and a function
// byte; the memory and setup commands are preceded by two separate wake-up
// bytes 1B. Replies are one byte: 06 accepts, and so does 66 for every
// memory and setup command; the handshake accepts only 06 and knows 17
// (busy). Numbers are little-endian; file sums are the 16-bit sum of the
// bytes, carried as 32 bits. Songs move in blocks of 256 bytes.
//
// What the player says is checked before it is trusted: a song count above
// the 100 records of the song table, and a song length or free-memory count
// above kMaxPlayerBytes, are refused as garbage. An exchange stops at the
// first transfer that fails instead of waiting out the time-out of every
// remaining one.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "link/link.h"
#include "link/wire.h"

namespace kestro {

// `ZumblaInfo`: the 30-byte information record.
struct ZumblaInfo {
  static constexpr size_t kSize = wire::kInfoSize;
  static constexpr size_t kModeOffset = wire::kInfoModeOffset;
  static constexpr size_t kReleaseOffset = wire::kInfoReleaseOffset;
  std::array<uint8_t, kSize> bytes{};

  // 0 internal memory, 1 card, 2 busy, 3 waiting for firmware.
  int Mode() const { return bytes[kModeOffset]; }
  // The firmware release ("1.12"), up to its terminator or the record's end.
  std::string Release() const;
};

// The reading the connection cycle takes from a player mode: 0 gives 2
// (internal memory), 1 gives 1 (card), 2 gives 3 (busy), 3 gives 4 (waiting
// for firmware); any other mode gives nothing (the reading stays).
std::optional<int> ReadingForPlayerMode(int mode);


// `RamSongTable`: the 6406-byte result of GetRamFileInfo.
//   0-1 song count, 2-5 free bytes, 6-3205 100 title records (code 16-bit,
//   title 30 bytes), 3206-6405 100 author records (2 unused, author 30).
struct RamSongTable {
  static constexpr size_t kSize = 6406;
  static constexpr size_t kTitlesOffset = 6;
  static constexpr size_t kAuthorsOffset = 3206;
  static constexpr size_t kRecordSize = 32;
  static constexpr size_t kTextSize = 30;
  std::array<uint8_t, kSize> bytes{};

  int SongCount() const { return bytes[0] | (bytes[1] << 8); }
  uint32_t FreeBytes() const;
  uint16_t Code(int i) const;
  // Player texts (player codes not mapped), up to their terminator.
  std::string Title(int i) const;
  std::string Author(int i) const;
};

// One Player per Link, shared by everything that talks to the player: it
// remembers the last information record, whose release sets the RAM song
// limit.
class Player {
 public:
  // Pauses of the exchanges.
  static constexpr uint32_t kStepPauseMs = 20;
  static constexpr uint32_t kBeforeWritePauseMs = 200;
  static constexpr uint32_t kAfterWritePauseMs = 1000;
  // Time-outs beyond the default 2000 ms.
  static constexpr uint32_t kReadReplyTimeoutMs = 3000;
  static constexpr uint32_t kInfoTimeoutMs = 3000;
  static constexpr uint32_t kWriteEndTimeoutMs = 4000;
  static constexpr uint32_t kDeleteTimeoutMs = 15000;
  // Units of RamFreePercent.
  static constexpr uint32_t kPercentUnitBytes = 9600;

  explicit Player(Link& link) : link_(link), env_(link.env()) {}

  Link& link() { return link_; }

  // The common opening of the memory and setup commands on an open link:
  // 1B, 1B, the six command bytes, one reply byte. `pauseMs` is slept after
  // the command and after the reply. 1 when the reply accepts.
  int SendCommand(wire::Command c, uint32_t replyTimeoutMs = wire::kDefaultTimeoutMs, uint32_t pauseMs = 0);

  // Fills `table` (zeroed first). Sets the link error state to 0 on success;
  // ends the progress display in every case.
  int GetRamFileInfo(RamSongTable& table);
  // Writes song `code` to `targetPath` (player codes in the path mapped). A
  // song that cannot be received whole, or whose sum does not match (then
  // "MSG_PBL_READFILE" is shown), fails and leaves no file behind.
  int ReadRamFile(const std::filesystem::path& targetPath, uint16_t code);
  // Sends a PC file (an MF4 song) to internal memory, one progress step per
  // block.
  int WriteRamFile(const std::filesystem::path& sourcePath);
  int DeleteRamFile(uint16_t code);
  int DeleteAllRamFiles();
  // Fills `info` (zeroed first); remembers it for the RAM song limit.
  int GetZumblaInfo(ZumblaInfo& info);
  // The 30-byte setup record to and from a file.
  int ReadRamSetup(const std::filesystem::path& targetPath);
  int WriteRamSetup(const std::filesystem::path& sourcePath);

  // The card-access handshake on the link the caller opened: 1 accepted, 0
  // busy ("MSG_ZUMNET_BUSY" in a plain box, link error state 1), -1 no
  // answer or the link not open. An unknown reply gives -1, or 1 for End.
  int CardAccessBegin() { return Handshake(wire::kCardAccessBegin, false); }
  int CardAccessOpen() { return Handshake(wire::kCardAccessOpen, false); }
  int CardAccessEnd() { return Handshake(wire::kCardAccessEnd, true); }

  // Free bytes of internal memory, or 0 when the song table is full. The
  // limit comes from the release of the last GetZumblaInfo; without one the
  // player is asked, and a player that does not tell is held to 40 songs.
  uint32_t RamFreeForNewSong();
  // Free memory in units of 9600 bytes, at most 100; 0 unless the current
  // medium is 2 (internal memory) or when the table is full. Keeps the free
  // bytes in ramFreeBytes for the main window.
  uint32_t RamFreePercent(int currentMedium);
  uint32_t ramFreeBytes = 0;

  // The last information record received, if any.
  const std::optional<ZumblaInfo>& LastInfo() const { return lastInfo_; }

 private:
  int Send(const void* data, size_t n, uint32_t timeoutMs = wire::kDefaultTimeoutMs) {
    return link_.LinkSend(data, n, timeoutMs);
  }
  int SendByte(uint8_t b, uint32_t timeoutMs = wire::kDefaultTimeoutMs) { return Send(&b, 1, timeoutMs); }
  // One reply byte, or nothing when none arrived.
  std::optional<uint8_t> ReceiveByte(uint32_t timeoutMs = wire::kDefaultTimeoutMs);
  void Pause(uint32_t ms) { env_.clock.SleepMs(ms); }
  int Handshake(wire::Command c, bool isEnd);
  // The opening of ReadRamFile and WriteRamFile, with 20 ms between steps.
  int PacedCommand(wire::Command c, uint32_t replyTimeoutMs);
  int ReceiveTable(RamSongTable& table);

  Link& link_;
  Env& env_;
  std::optional<ZumblaInfo> lastInfo_;
};

}  // namespace kestro
