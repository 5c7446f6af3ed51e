// A simulated Zumbla: it answers the player's side of every command Kestro
// sends over the link — internal memory, information and setup records, the
// card-access handshake, card sectors and the firmware update — from a byte
// stream, so that it can sit behind an in-process channel (tests on a
// virtual clock) or a Unix socket (the zumbla-sim program).
//
// What it holds:
// - internal memory: songs with code, title, author and bytes in a memory
//   of `ramBytes` bytes; at most 40 songs when the release sorts below
//   "1.12", else 100. Titles and authors come from the header of an MF4 or
//   MF3 package (offsets 122 and 218: title and performer) with accented Latin-1 letters turned
//   into the player's codes 1-31; other files are "Untitled" by "-".
// - the 30-byte setup record and the information record (mode byte at 13,
//   release text at 14);
// - the card: a CardImage, its sectors served between the handshake's
//   Begin/Open and End (with requireCardAccess), sums as the link expects;
// - the flash: 8 areas of 64 KiB; "ES nn" erases area nn (hexadecimal),
//   S1/S2/S3 records are written into it, "RST" restarts. A player whose
//   flash was erased and not fully reprogrammed comes back in mode 3.
//
// With a state folder, the memory (ram/), the setup record (setup.dat), the
// flash (flash.bin) and by default the card (card.img) live there across
// runs, and a file "faults" there is read (and removed) when a connection
// brings its first bytes: one fault a line, as in Faults::Parse.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/channel.h"
#include "platform/fileutil.h"
#include "sim/card_image.h"

namespace kestro::sim {

enum class Mode : uint8_t { Ram = 0, Card = 1, Busy = 2, Boot = 3 };
std::optional<Mode> ParseMode(std::string_view name);  // "ram", "card", "busy", "boot"
const char* ModeName(Mode m);

// Faults to inject. Counts go down as they strike; -1 (where allowed) means
// "always" or "off" as noted.
struct Faults {
  bool softAck = false;        // answer 66 wherever the player would answer 06 (not sector status)
  int busyHandshakes = 0;      // answer 17 to the next K handshake steps; -1 every one
  long stopAfterBytes = -1;    // send N more bytes, then answer nothing more; -1 off
  long dropAfterBytes = -1;    // send N more bytes, then hang up (once); -1 off
  int nakWrites = 0;           // answer 15 to the next K sector writes
  int corruptReads = 0;        // wrong sum on the next K sector reads
  int corruptSongSums = 0;     // wrong sum on the next K songs read from internal memory
  int loseReplies = 0;         // the next K answers never reach the host (one answer: one reply)
  bool plainAckUpdate = false;  // answer 06 instead of 66 to the enter-update command
  // Faults at random, for as long as they are set: the share in per mille
  // of sector reads sent with a wrong sum, and of sector writes answered 15.
  int corruptReadRate = 0;
  int nakWriteRate = 0;
  uint32_t randomState = 1;  // the draws' seed ("seed N")

  // Lines "soft-ack [0|1]", "busy-handshake K", "stop-after N",
  // "drop-after N", "nak-writes K", "corrupt-reads K", "corrupt-song-sums K",
  // "lose-replies K", "plain-ack-update [0|1]", "corrupt-read-rate P",
  // "nak-write-rate P", "seed N", "clear"; blank lines and "#" comments are
  // skipped. Changes only what the text names.
  bool Parse(std::string_view text, std::string* error);
  // True for a share of `perMille` of the calls (a fixed sequence per seed).
  bool Draw(int perMille);
};

struct SimConfig {
  Transport as = Transport::Ftdi;
  Mode mode = Mode::Ram;
  std::string release = "1.12";
  uint32_t ramBytes = 1024 * 1024;
  std::filesystem::path stateDir;   // empty: nothing is kept across runs
  std::filesystem::path cardImage;  // empty: stateDir/card.img when there is a state folder, else no card
  uint64_t cardBytes = 0;           // size of a card image created when missing
  bool requireCardAccess = true;    // sectors only inside the handshake
  std::filesystem::path wireLogPath;  // append the wire log as text lines
  bool keepWireLog = true;          // also keep it in memory (wire)
};

struct Song {
  uint16_t code = 0;
  std::string title;   // player text, at most 29 bytes
  std::string author;  // player text, at most 29 bytes
  Bytes data;
};

// One transfer as it crossed the wire: what the host sent in one send, or
// what the player sent in one answer.
struct WireEntry {
  bool fromHost = false;
  Bytes bytes;
};

struct FirmwareLog {
  std::vector<std::string> lines;  // text lines received in update mode
  std::vector<int> erased;         // areas, in order
  int controlBytes = 0;            // 1B echoed in update mode
  int records = 0;                 // S-records written
  int badRecords = 0;              // S-records refused (syntax or checksum)
  bool downloadStarted = false;    // "HEXDWL" seen
  int resets = 0;                  // "RST" seen
};

class SimPlayer {
 public:
  static constexpr size_t kFlashAreaSize = 64 * 1024;
  static constexpr int kFlashAreas = 8;
  static constexpr size_t kMaxWireLog = 1u << 20;  // entries kept in memory

  // Throws std::runtime_error when the card image cannot be opened.
  explicit SimPlayer(SimConfig config);
  ~SimPlayer();
  SimPlayer(const SimPlayer&) = delete;
  SimPlayer& operator=(const SimPlayer&) = delete;

  const SimConfig& config() const { return config_; }
  void SetTransport(Transport t) { config_.as = t; }
  void SetRelease(std::string release) { config_.release = std::move(release); }
  Mode mode() const { return mode_; }
  void SetMode(Mode m) { mode_ = m; }

  // False: no player is plugged in (nothing opens).
  bool attached = true;
  Faults faults;

  // --- The connection ---
  // A new connection: a half-received command of the last one is dropped.
  void Connect();
  void Disconnect();
  bool connected() const { return connected_; }
  int connections() const { return connections_; }
  // Bytes from the host.
  void FromHost(const uint8_t* data, size_t size);
  // Bytes for the host.
  size_t Pending() const { return out_.size(); }
  size_t TakeOutput(uint8_t* out, size_t max);
  // The player hung up: once Pending() is 0 the connection is gone.
  bool HungUp() const { return hungUp_; }

  // --- What crossed the wire ---
  std::vector<WireEntry> wire;
  // "H:1B H:1B H:55AAFF003581 P:06 P:8 P:256 H:66 ..." — short entries (up
  // to 7 bytes: commands) in hex, longer ones by their length.
  std::string WireSummary(size_t fromEntry = 0) const;

  // --- Internal memory ---
  const std::vector<Song>& Songs() const { return songs_; }
  const Song* FindSong(uint16_t code) const;
  // Adds a song as a write over the link would (title and author given as
  // player texts); returns its code.
  uint16_t AddSong(std::string title, std::string author, Bytes data);
  uint32_t FreeBytes() const;
  int SongLimit() const;

  std::array<uint8_t, 30> setup{};
  std::array<uint8_t, 30> InfoRecord() const;

  // --- Card and flash ---
  CardImage* Card() { return card_.get(); }
  // Served instead of the card's own identification block when set (a card
  // that reports odd geometry).
  std::optional<Sector> identify;
  bool InCardAccess() const { return cardAccess_; }
  const Bytes& Flash() const { return flash_; }
  FirmwareLog firmware;

 private:
  enum class State { Idle, ReadCode, ReadBlockAck, WriteHead, WriteData, DeleteCode, SetupData, SectorWrite, Update };

  void Process();
  bool StepIdle();
  void Command(uint8_t cls, uint8_t fn);
  void Emit(const uint8_t* data, size_t size);
  void Emit(std::initializer_list<uint8_t> bytes) { Emit(bytes.begin(), bytes.size()); }
  void EmitAck();
  void SendNextReadBlock();
  void SectorRead(uint32_t sector);
  void SectorWrite();
  void FinishWrite();
  void UpdateByte(uint8_t b);
  void UpdateLine(const std::string& line);
  bool SRecord(const std::string& line);
  void Restart();
  bool Silent() const { return hungUp_ || faults.stopAfterBytes == 0; }
  bool MemoryAvailable() const { return mode_ == Mode::Ram || mode_ == Mode::Card; }
  void LogWire(bool fromHost, const uint8_t* data, size_t size);
  size_t Need(size_t n) const { return in_.size() >= n ? n : 0; }
  void Take(uint8_t* out, size_t n);

  void LoadState();
  void SaveMemory();
  void SaveSetup();
  void SaveFlash();
  void ReadFaultFile();

  SimConfig config_;
  Mode mode_;
  std::vector<Song> songs_;
  std::unique_ptr<CardImage> card_;
  Bytes flash_;
  bool flashDirty_ = false;

  bool connected_ = false;
  int connections_ = 0;
  bool hungUp_ = false;
  bool faultFileRead_ = false;
  std::deque<uint8_t> in_;
  std::deque<uint8_t> out_;
  State state_ = State::Idle;

  // Exchange state.
  uint16_t readCode_ = 0;
  size_t readOffset_ = 0;
  uint32_t writeLength_ = 0;
  uint32_t writeSum_ = 0;
  Bytes writeBuffer_;
  uint32_t sectorNumber_ = 0;
  bool cardAccess_ = false;
  bool updatePending_ = false;  // 77 80 answered, waiting for 77 81
  bool flashErased_ = false;    // erased since the last good programming
  Mode modeBeforeUpdate_ = Mode::Ram;
  // This update's download: "HEXDWL" seen, records written and refused.
  bool updateDownload_ = false;
  int updateRecords_ = 0;
  int updateBadRecords_ = 0;
  std::string line_;
};

}  // namespace kestro::sim
