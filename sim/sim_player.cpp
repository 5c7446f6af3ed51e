#include "sim/sim_player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/charmap.h"
#include "link/wire.h"
#include "platform/bytes.h"

namespace kestro::sim {

namespace fs = std::filesystem;

namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::optional<std::string> Unhex(std::string_view h) {
  if (h.size() % 2) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < h.size(); i += 2) {
    int v = 0;
    for (size_t k = 0; k < 2; ++k) {
      char c = h[i + k];
      int x = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (x < 0) return std::nullopt;
      v = v * 16 + x;
    }
    out += static_cast<char>(v);
  }
  return out;
}

// A text field of a package header, as the player stores it.
std::string PlayerText(const uint8_t* p, size_t field) {
  std::string s;
  for (size_t i = 0; i < field && p[i] && s.size() < 29; ++i) s += static_cast<char>(Latin1ToPlayerChar(p[i]));
  return s;
}

}  // namespace

std::optional<Mode> ParseMode(std::string_view name) {
  if (name == "ram") return Mode::Ram;
  if (name == "card") return Mode::Card;
  if (name == "busy") return Mode::Busy;
  if (name == "boot") return Mode::Boot;
  return std::nullopt;
}

const char* ModeName(Mode m) {
  switch (m) {
    case Mode::Ram: return "ram";
    case Mode::Card: return "card";
    case Mode::Busy: return "busy";
    case Mode::Boot: return "boot";
  }
  return "?";
}

bool Faults::Parse(std::string_view text, std::string* error) {
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string name;
    if (!(words >> name)) continue;
    long value = 1;
    std::string v;
    if (words >> v) {
      char* end = nullptr;
      value = std::strtol(v.c_str(), &end, 10);
      if (!end || *end) {
        if (error) *error = "not a number in fault line: " + line;
        return false;
      }
    }
    if (name == "soft-ack") softAck = value != 0;
    else if (name == "busy-handshake") busyHandshakes = static_cast<int>(value);
    else if (name == "stop-after") stopAfterBytes = value;
    else if (name == "drop-after") dropAfterBytes = value;
    else if (name == "nak-writes") nakWrites = static_cast<int>(value);
    else if (name == "corrupt-reads") corruptReads = static_cast<int>(value);
    else if (name == "corrupt-song-sums") corruptSongSums = static_cast<int>(value);
    else if (name == "lose-replies") loseReplies = static_cast<int>(value);
    else if (name == "plain-ack-update") plainAckUpdate = value != 0;
    else if (name == "corrupt-read-rate") corruptReadRate = static_cast<int>(value);
    else if (name == "nak-write-rate") nakWriteRate = static_cast<int>(value);
    else if (name == "seed") randomState = static_cast<uint32_t>(value) | 1u;
    else if (name == "clear") *this = Faults{};
    else {
      if (error) *error = "unknown fault: " + name;
      return false;
    }
  }
  return true;
}

bool Faults::Draw(int perMille) {
  if (perMille <= 0) return false;
  // xorshift32: the same seed gives the same faults.
  randomState ^= randomState << 13;
  randomState ^= randomState >> 17;
  randomState ^= randomState << 5;
  return static_cast<int>(randomState % 1000) < perMille;
}

// --- Construction and state ---

SimPlayer::SimPlayer(SimConfig config) : config_(std::move(config)), mode_(config_.mode) {
  flash_.assign(kFlashAreaSize * kFlashAreas, 0xFF);
  std::error_code ec;
  if (!config_.stateDir.empty()) fs::create_directories(config_.stateDir, ec);
  fs::path cardPath = config_.cardImage;
  if (cardPath.empty() && !config_.stateDir.empty()) cardPath = config_.stateDir / "card.img";
  if (!cardPath.empty()) {
    std::string err;
    card_ = CardImage::Open(cardPath, config_.cardBytes, &err);
    // A state folder without an image and without a size has no card.
    if (!card_ && !(config_.cardImage.empty() && config_.cardBytes == 0)) throw std::runtime_error(err);
  }
  LoadState();
}

SimPlayer::~SimPlayer() {
  if (connected_) Disconnect();
  SaveFlash();
}

void SimPlayer::LoadState() {
  if (config_.stateDir.empty()) return;
  const fs::path& dir = config_.stateDir;
  if (auto s = ReadBinaryFile(dir / "setup.dat"); s && s->size() == setup.size()) {
    std::copy(s->begin(), s->end(), setup.begin());
  }
  if (auto f = ReadBinaryFile(dir / "flash.bin"); f && f->size() == flash_.size()) flash_ = *f;
  auto index = ReadTextFile(dir / "ram" / "index.txt");
  if (!index) return;
  std::istringstream in(*index);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream w(line);
    unsigned code = 0;
    std::string title, author;
    if (!(w >> code >> title >> author) || code > 0xFFFF) continue;
    auto t = Unhex(title == "-" ? "" : title);
    auto a = Unhex(author == "-" ? "" : author);
    char name[16];
    std::snprintf(name, sizeof name, "%05u.bin", code);
    auto data = ReadBinaryFile(dir / "ram" / name);
    if (!t || !a || !data) continue;
    songs_.push_back({static_cast<uint16_t>(code), *t, *a, *data});
  }
}

void SimPlayer::SaveMemory() {
  if (config_.stateDir.empty()) return;
  fs::path ram = config_.stateDir / "ram";
  std::error_code ec;
  fs::create_directories(ram, ec);
  std::string index;
  for (const Song& s : songs_) {
    char name[16];
    std::snprintf(name, sizeof name, "%05u.bin", s.code);
    fs::path p = ram / name;
    if (!fs::exists(p, ec)) WriteBinaryFile(p, s.data);
    auto hex = [](const std::string& t) {
      return t.empty() ? std::string("-") : Hex(reinterpret_cast<const uint8_t*>(t.data()), t.size());
    };
    index += std::to_string(s.code) + " " + hex(s.title) + " " + hex(s.author) + "\n";
  }
  WriteFileAtomic(ram / "index.txt", index);
  // Files of songs that went.
  for (const auto& e : fs::directory_iterator(ram, ec)) {
    std::string n = e.path().filename().string();
    if (n.size() != 9 || n.substr(5) != ".bin") continue;
    unsigned code = static_cast<unsigned>(std::strtoul(n.c_str(), nullptr, 10));
    if (!FindSong(static_cast<uint16_t>(code))) fs::remove(e.path(), ec);
  }
}

void SimPlayer::SaveSetup() {
  if (!config_.stateDir.empty()) WriteBinaryFile(config_.stateDir / "setup.dat", setup.data(), setup.size());
}

void SimPlayer::SaveFlash() {
  if (!flashDirty_ || config_.stateDir.empty()) return;
  WriteBinaryFile(config_.stateDir / "flash.bin", flash_);
  flashDirty_ = false;
}

void SimPlayer::ReadFaultFile() {
  if (config_.stateDir.empty()) return;
  fs::path p = config_.stateDir / "faults";
  auto text = ReadTextFile(p);
  if (!text) return;
  std::error_code ec;
  fs::remove(p, ec);
  std::string err;
  if (!faults.Parse(*text, &err)) std::fprintf(stderr, "zumbla-sim: %s\n", err.c_str());
}

// --- Memory ---

const Song* SimPlayer::FindSong(uint16_t code) const {
  for (const Song& s : songs_) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

uint16_t SimPlayer::AddSong(std::string title, std::string author, Bytes data) {
  uint16_t code = 1;
  if (!songs_.empty()) {
    uint16_t top = 0;
    for (const Song& s : songs_) top = std::max(top, s.code);
    if (top < 0xFFFF) {
      code = static_cast<uint16_t>(top + 1);
    } else {
      while (FindSong(code)) ++code;
    }
  }
  title.resize(std::min<size_t>(title.size(), 29));
  author.resize(std::min<size_t>(author.size(), 29));
  songs_.push_back({code, std::move(title), std::move(author), std::move(data)});
  SaveMemory();
  return code;
}

uint32_t SimPlayer::FreeBytes() const {
  uint64_t used = 0;
  for (const Song& s : songs_) used += s.data.size();
  return used >= config_.ramBytes ? 0 : static_cast<uint32_t>(config_.ramBytes - used);
}

int SimPlayer::SongLimit() const { return RamSongLimit(config_.release); }

std::array<uint8_t, 30> SimPlayer::InfoRecord() const {
  std::array<uint8_t, 30> r{};
  std::memcpy(r.data(), "ZUMBLA-SIM", 10);
  r[wire::kInfoModeOffset] = static_cast<uint8_t>(mode_);
  size_t n = std::min<size_t>(config_.release.size(), r.size() - wire::kInfoReleaseOffset - 1);
  std::memcpy(r.data() + wire::kInfoReleaseOffset, config_.release.data(), n);
  return r;
}

// --- The connection ---

void SimPlayer::Connect() {
  if (connected_) Disconnect();
  connected_ = true;
  ++connections_;
  hungUp_ = false;
  in_.clear();
  out_.clear();
  state_ = State::Idle;
  faultFileRead_ = false;
}

void SimPlayer::Disconnect() {
  if (!connected_) return;
  connected_ = false;
  // An update that erased the flash and did not restart leaves no firmware.
  if (state_ == State::Update && flashErased_) mode_ = Mode::Boot;
  state_ = State::Idle;
  updatePending_ = false;
  in_.clear();
  out_.clear();
  SaveFlash();
}

size_t SimPlayer::TakeOutput(uint8_t* out, size_t max) {
  size_t n = std::min(max, out_.size());
  std::copy_n(out_.begin(), n, out);
  out_.erase(out_.begin(), out_.begin() + static_cast<long>(n));
  return n;
}

void SimPlayer::FromHost(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // Not at the connection itself: a transport probe opens and closes
  // without a word and must not use the faults up.
  if (!faultFileRead_) {
    faultFileRead_ = true;
    ReadFaultFile();
  }
  LogWire(true, data, size);
  // A player that stopped answering or hung up hears nothing either.
  if (Silent()) return;
  in_.insert(in_.end(), data, data + size);
  Process();
}

void SimPlayer::LogWire(bool fromHost, const uint8_t* data, size_t size) {
  if (config_.keepWireLog && wire.size() < kMaxWireLog) wire.push_back({fromHost, Bytes(data, data + size)});
  if (config_.wireLogPath.empty()) return;
  if (FILE* f = std::fopen(config_.wireLogPath.c_str(), "a")) {
    for (size_t i = 0; i < size; i += 32) {
      size_t n = std::min<size_t>(32, size - i);
      std::string hex;
      for (size_t k = 0; k < n; ++k) {
        char b[4];
        std::snprintf(b, sizeof b, "%s%02X", k ? " " : "", data[i + k]);
        hex += b;
      }
      std::fprintf(f, "%s %s\n", fromHost ? "H>" : "P<", hex.c_str());
    }
    std::fclose(f);
  }
}

std::string SimPlayer::WireSummary(size_t fromEntry) const {
  std::string s;
  for (size_t i = fromEntry; i < wire.size(); ++i) {
    const WireEntry& e = wire[i];
    if (!s.empty()) s += ' ';
    s += e.fromHost ? "H:" : "P:";
    s += e.bytes.size() <= 7 ? Hex(e.bytes.data(), e.bytes.size()) : std::to_string(e.bytes.size());
  }
  return s;
}

void SimPlayer::Emit(const uint8_t* data, size_t size) {
  if (faults.loseReplies > 0 && !Silent()) {
    // Lost on the way: the player goes on as if the host had it.
    --faults.loseReplies;
    return;
  }
  Bytes sent;
  for (size_t i = 0; i < size; ++i) {
    if (Silent()) break;
    if (faults.dropAfterBytes == 0) {
      faults.dropAfterBytes = -1;
      hungUp_ = true;
      break;
    }
    if (faults.stopAfterBytes > 0) --faults.stopAfterBytes;
    if (faults.dropAfterBytes > 0) --faults.dropAfterBytes;
    sent.push_back(data[i]);
  }
  if (sent.empty()) return;
  out_.insert(out_.end(), sent.begin(), sent.end());
  LogWire(false, sent.data(), sent.size());
}

void SimPlayer::EmitAck() { Emit({faults.softAck ? wire::kSoftAck : wire::kAck}); }

void SimPlayer::Take(uint8_t* out, size_t n) {
  std::copy_n(in_.begin(), n, out);
  in_.erase(in_.begin(), in_.begin() + static_cast<long>(n));
}

// --- Commands ---

void SimPlayer::Process() {
  while (!Silent()) {
    switch (state_) {
      case State::Idle:
        if (!StepIdle()) return;
        break;
      case State::ReadCode: {
        if (!Need(2)) return;
        uint8_t c[2];
        Take(c, 2);
        readCode_ = static_cast<uint16_t>(c[0] | c[1] << 8);
        const Song* s = FindSong(readCode_);
        if (!s) {
          Emit({wire::kNak});
          state_ = State::Idle;
          break;
        }
        EmitAck();
        uint8_t head[8];
        PutLe32(head, static_cast<uint32_t>(s->data.size()));
        uint32_t sum = FileSum16(s->data.data(), s->data.size());
        if (faults.corruptSongSums > 0) {
          --faults.corruptSongSums;
          sum ^= 0x0101;
        }
        PutLe32(head + 4, sum);
        Emit(head, sizeof head);
        readOffset_ = 0;
        SendNextReadBlock();
        break;
      }
      case State::ReadBlockAck: {
        if (!Need(1)) return;
        uint8_t b;
        Take(&b, 1);
        if (b != wire::kSoftAck && b != wire::kAck) {
          state_ = State::Idle;
          break;
        }
        SendNextReadBlock();
        break;
      }
      case State::WriteHead: {
        if (!Need(8)) return;
        uint8_t head[8];
        Take(head, 8);
        writeLength_ = Le32(head);
        writeSum_ = Le32(head + 4);
        bool fits = writeLength_ > 0 && writeLength_ <= FreeBytes() &&
                    static_cast<int>(songs_.size()) < SongLimit();
        if (!fits) {
          Emit({wire::kNak});
          state_ = State::Idle;
          break;
        }
        EmitAck();
        writeBuffer_.clear();
        state_ = State::WriteData;
        break;
      }
      case State::WriteData: {
        size_t want = std::min<size_t>(wire::kRamBlockSize, writeLength_ - writeBuffer_.size());
        if (!Need(want)) return;
        size_t at = writeBuffer_.size();
        writeBuffer_.resize(at + want);
        Take(writeBuffer_.data() + at, want);
        if (want == wire::kRamBlockSize) EmitAck();
        if (writeBuffer_.size() == writeLength_) FinishWrite();
        break;
      }
      case State::DeleteCode: {
        if (!Need(2)) return;
        uint8_t c[2];
        Take(c, 2);
        uint16_t code = static_cast<uint16_t>(c[0] | c[1] << 8);
        auto it = std::find_if(songs_.begin(), songs_.end(), [&](const Song& s) { return s.code == code; });
        if (it == songs_.end()) {
          Emit({wire::kNak});
        } else {
          songs_.erase(it);
          SaveMemory();
          EmitAck();
        }
        state_ = State::Idle;
        break;
      }
      case State::SetupData:
        if (!Need(setup.size())) return;
        Take(setup.data(), setup.size());
        SaveSetup();
        state_ = State::Idle;
        break;
      case State::SectorWrite:
        if (!Need(516)) return;
        SectorWrite();
        state_ = State::Idle;
        break;
      case State::Update: {
        if (!Need(1)) return;
        uint8_t b;
        Take(&b, 1);
        UpdateByte(b);
        break;
      }
    }
  }
  in_.clear();
}

bool SimPlayer::StepIdle() {
  if (in_.empty()) return false;
  uint8_t b = in_[0];
  if (b != 0x55) {
    // Wake-up bytes, and garbage, are passed over.
    in_.pop_front();
    return true;
  }
  if (in_.size() < 2) return false;
  uint8_t kind = in_[1];
  if (kind == 0xAA) {
    if (in_.size() < 6) return false;
    if (in_[2] != 0xFF || in_[3] != 0x00) {
      in_.pop_front();
      return true;
    }
    uint8_t cmd[6];
    Take(cmd, 6);
    Command(cmd[4], cmd[5]);
    return true;
  }
  if (kind == 0x02 || kind == 0x01) {
    if (in_.size() < 7) return false;
    uint8_t cmd[7];
    Take(cmd, 7);
    uint32_t sector = static_cast<uint32_t>(cmd[2]) | static_cast<uint32_t>(cmd[3]) << 8 |
                      static_cast<uint32_t>(cmd[4]) << 16;
    if (kind == 0x02) {
      SectorRead(sector);
    } else {
      sectorNumber_ = sector;
      state_ = State::SectorWrite;
    }
    return true;
  }
  in_.pop_front();
  return true;
}

void SimPlayer::Command(uint8_t cls, uint8_t fn) {
  auto is = [&](wire::Command c) { return c.cls == cls && c.fn == fn; };
  if (is(wire::kGetZumblaInfo)) {
    EmitAck();
    auto r = InfoRecord();
    Emit(r.data(), r.size());
    return;
  }
  if (is(wire::kCardAccessBegin) || is(wire::kCardAccessOpen) || is(wire::kCardAccessEnd)) {
    bool busy = mode_ == Mode::Busy || faults.busyHandshakes != 0;
    if (faults.busyHandshakes > 0) --faults.busyHandshakes;
    if (busy) {
      Emit({wire::kBusy});
    } else if (mode_ == Mode::Boot) {
      Emit({wire::kNak});
    } else {
      cardAccess_ = !is(wire::kCardAccessEnd);
      EmitAck();
    }
    return;
  }
  if (is(wire::kEnterUpdate)) {
    // The soft acknowledgement: the link insists on it here. A player that
    // says 06 instead stays out of the update.
    if (faults.plainAckUpdate) {
      Emit({wire::kAck});
      return;
    }
    Emit({wire::kSoftAck});
    updatePending_ = true;
    modeBeforeUpdate_ = mode_;
    return;
  }
  if (is(wire::kConfirmUpdate)) {
    if (!updatePending_) {
      Emit({wire::kNak});
      return;
    }
    updatePending_ = false;
    updateDownload_ = false;
    updateRecords_ = 0;
    updateBadRecords_ = 0;
    Emit({wire::kAck});
    state_ = State::Update;
    line_.clear();
    return;
  }
  if (!MemoryAvailable()) {
    Emit({wire::kNak});
    return;
  }
  if (is(wire::kGetRamFileInfo)) {
    EmitAck();
    uint8_t head[6];
    head[0] = static_cast<uint8_t>(songs_.size() & 0xFF);
    head[1] = static_cast<uint8_t>(songs_.size() >> 8);
    PutLe32(head + 2, FreeBytes());
    Emit(head, sizeof head);
    for (const Song& s : songs_) {
      uint8_t rec[62] = {};
      rec[0] = static_cast<uint8_t>(s.code & 0xFF);
      rec[1] = static_cast<uint8_t>(s.code >> 8);
      std::memcpy(rec + 2, s.title.data(), std::min<size_t>(s.title.size(), 29));
      std::memcpy(rec + 32, s.author.data(), std::min<size_t>(s.author.size(), 29));
      Emit(rec, sizeof rec);
    }
  } else if (is(wire::kReadRamFile)) {
    EmitAck();
    state_ = State::ReadCode;
  } else if (is(wire::kWriteRamFile)) {
    EmitAck();
    state_ = State::WriteHead;
  } else if (is(wire::kDeleteRamFile)) {
    EmitAck();
    state_ = State::DeleteCode;
  } else if (is(wire::kDeleteAllRamFiles)) {
    EmitAck();
    songs_.clear();
    SaveMemory();
    EmitAck();  // the erase is done
  } else if (is(wire::kReadRamSetup)) {
    EmitAck();
    Emit(setup.data(), setup.size());
  } else if (is(wire::kWriteRamSetup)) {
    EmitAck();
    state_ = State::SetupData;
  } else {
    Emit({wire::kNak});
  }
}

void SimPlayer::SendNextReadBlock() {
  const Song* s = FindSong(readCode_);
  if (!s || readOffset_ >= s->data.size()) {
    state_ = State::Idle;
    return;
  }
  size_t n = std::min(wire::kRamBlockSize, s->data.size() - readOffset_);
  Emit(s->data.data() + readOffset_, n);
  readOffset_ += n;
  // A full block waits for the host's 66; the last short one ends the song.
  state_ = n == wire::kRamBlockSize ? State::ReadBlockAck : State::Idle;
}

void SimPlayer::FinishWrite() {
  state_ = State::Idle;
  if (FileSum16(writeBuffer_.data(), writeBuffer_.size()) != writeSum_) {
    Emit({wire::kNak});
    return;
  }
  std::string title = "Untitled", author = "-";
  const Bytes& d = writeBuffer_;
  if (d.size() >= 512 && (std::memcmp(d.data(), "_MF4", 4) == 0 || std::memcmp(d.data(), "_MF3", 4) == 0)) {
    title = PlayerText(d.data() + 122, 32);
    // The memory lists the performer, as the song lists of the PC do.
    author = PlayerText(d.data() + 218, 32);
  }
  AddSong(title, author, std::move(writeBuffer_));
  writeBuffer_.clear();
  EmitAck();
}

// --- Card sectors ---

void SimPlayer::SectorRead(uint32_t sector) {
  uint8_t reply[516] = {};
  bool allowed = card_ && (cardAccess_ || !config_.requireCardAccess);
  Sector data{};
  bool ok = false;
  if (allowed) {
    if (sector == kIdentifySector) {
      data = identify ? *identify : card_->Identify();
      ok = true;
    } else {
      ok = card_->Read(sector, data.data());
    }
  }
  if (!ok) {
    // The reply keeps its length so that the host is not left waiting.
    reply[0] = wire::kNak;
    Emit(reply, sizeof reply);
    return;
  }
  reply[0] = wire::kAck;
  std::memcpy(reply + 1, data.data(), kSectorSize);
  reply[513] = 0xFF;
  uint16_t sum = FileSum16(data.data(), kSectorSize);
  if (faults.corruptReads > 0) {
    --faults.corruptReads;
    sum = static_cast<uint16_t>(sum + 1);
  } else if (faults.Draw(faults.corruptReadRate)) {
    sum = static_cast<uint16_t>(sum + 1);
  }
  reply[514] = static_cast<uint8_t>(sum >> 8);
  reply[515] = static_cast<uint8_t>(sum & 0xFF);
  Emit(reply, sizeof reply);
}

void SimPlayer::SectorWrite() {
  uint8_t block[516];
  Take(block, sizeof block);
  if (faults.nakWrites > 0 || faults.Draw(faults.nakWriteRate)) {
    if (faults.nakWrites > 0) --faults.nakWrites;
    Emit({wire::kNak});
    return;
  }
  bool allowed = card_ && (cardAccess_ || !config_.requireCardAccess) && sectorNumber_ < card_->SectorCount();
  if (!allowed) {
    Emit({0x18});  // no such sector here
    return;
  }
  uint16_t sum = static_cast<uint16_t>(block[514] << 8 | block[515]);
  if (FileSum16(block, kSectorSize) != sum) {
    Emit({wire::kNak});
    return;
  }
  Emit({card_->Write(sectorNumber_, block) ? wire::kAck : static_cast<uint8_t>(0x18)});
}

// --- Firmware ---

void SimPlayer::UpdateByte(uint8_t b) {
  if (b == wire::kWake) {
    ++firmware.controlBytes;
    Emit({b});
    return;
  }
  if (b == '\r') {
    std::string line = line_;
    line_.clear();
    Emit({b});
    UpdateLine(line);
    return;
  }
  if (b == '\n' && line_.empty()) return;  // a line feed after CR
  if (line_.size() < 1024) line_ += static_cast<char>(b);
}

void SimPlayer::UpdateLine(const std::string& line) {
  if (firmware.lines.size() < 100000) firmware.lines.push_back(line);
  if (line.rfind("ES ", 0) == 0) {
    char* end = nullptr;
    long area = std::strtol(line.c_str() + 3, &end, 16);
    if (end && *end == '\0' && area >= 0 && area < kFlashAreas) {
      std::fill_n(flash_.begin() + static_cast<long>(area) * static_cast<long>(kFlashAreaSize), kFlashAreaSize, 0xFF);
      flashDirty_ = true;
      flashErased_ = true;
      firmware.erased.push_back(static_cast<int>(area));
    }
  } else if (line == "HEXDWL") {
    firmware.downloadStarted = true;
    updateDownload_ = true;
  } else if (line == "RST") {
    Restart();
  } else if (!line.empty() && line[0] == 'S') {
    if (SRecord(line)) {
      ++firmware.records;
      ++updateRecords_;
    } else {
      ++firmware.badRecords;
      ++updateBadRecords_;
    }
  }
}

bool SimPlayer::SRecord(const std::string& line) {
  if (line.size() < 4) return false;
  auto bytes = Unhex(std::string_view(line).substr(2));
  if (!bytes || bytes->empty()) return false;
  const auto* b = reinterpret_cast<const uint8_t*>(bytes->data());
  size_t count = b[0];
  if (count + 1 != bytes->size()) return false;
  uint8_t sum = 0;
  for (size_t i = 0; i < bytes->size(); ++i) sum = static_cast<uint8_t>(sum + b[i]);
  if (sum != 0xFF) return false;
  size_t addrLen = 0;
  switch (line[1]) {
    case '1': addrLen = 2; break;
    case '2': addrLen = 3; break;
    case '3': addrLen = 4; break;
    case '0': case '5': case '6': case '7': case '8': case '9': return true;  // no data
    default: return false;
  }
  if (count < addrLen + 1) return false;
  uint32_t addr = 0;
  for (size_t i = 0; i < addrLen; ++i) addr = addr << 8 | b[1 + i];
  size_t dataLen = count - addrLen - 1;
  if (addr + dataLen > flash_.size()) return false;
  std::copy_n(b + 1 + addrLen, dataLen, flash_.begin() + addr);
  flashDirty_ = true;
  return true;
}

void SimPlayer::Restart() {
  ++firmware.resets;
  state_ = State::Idle;
  updatePending_ = false;
  if (flashErased_) {
    bool programmed = updateDownload_ && updateRecords_ > 0 && updateBadRecords_ == 0;
    if (programmed) {
      mode_ = modeBeforeUpdate_ == Mode::Boot ? Mode::Ram : modeBeforeUpdate_;
      flashErased_ = false;
    } else {
      mode_ = Mode::Boot;
    }
  }
  SaveFlash();
}

}  // namespace kestro::sim
