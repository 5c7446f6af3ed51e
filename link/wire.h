// What crosses the wire between the PC and the player, as bytes: command
// codes and replies, the limits a working player keeps, the information
// record's layout and the file sum. The player's side (the simulator) needs
// only this and the byte channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/channel.h"

namespace kestro {

namespace wire {
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kSoftAck = 0x66;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kBusy = 0x17;
inline constexpr uint8_t kWake = 0x1B;
inline constexpr uint8_t kCommandHeader[4] = {0x55, 0xAA, 0xFF, 0x00};

struct Command {
  uint8_t cls;
  uint8_t fn;
};
inline constexpr Command kGetRamFileInfo{0x35, 0x80};
inline constexpr Command kReadRamFile{0x35, 0x81};
inline constexpr Command kWriteRamFile{0x35, 0x82};
inline constexpr Command kDeleteRamFile{0x35, 0x83};
inline constexpr Command kDeleteAllRamFiles{0x35, 0x84};
inline constexpr Command kGetZumblaInfo{0x36, 0x80};
inline constexpr Command kReadRamSetup{0x36, 0x81};
inline constexpr Command kWriteRamSetup{0x36, 0x82};
inline constexpr Command kCardAccessOpen{0x78, 0x80};
inline constexpr Command kCardAccessBegin{0x78, 0x81};
inline constexpr Command kCardAccessEnd{0x78, 0x82};
inline constexpr Command kEnterUpdate{0x77, 0x80};
inline constexpr Command kConfirmUpdate{0x77, 0x81};

inline constexpr size_t kRamBlockSize = 256;
inline constexpr uint32_t kDefaultTimeoutMs = 2000;

// 06, or 66 where the memory and setup commands allow it.
inline bool Accepted(uint8_t reply) { return reply == kAck || reply == kSoftAck; }

// The information record: 30 bytes, the player's mode at 13 and its
// firmware release from 14.
inline constexpr size_t kInfoSize = 30;
inline constexpr size_t kInfoModeOffset = 13;
inline constexpr size_t kInfoReleaseOffset = 14;
}  // namespace wire

// Songs the internal memory can list.
inline constexpr int kMaxRamSongs = 100;
// The most bytes any player can hold or free: a length or free count above
// this did not come from a working player. Internal memory is about a
// megabyte (the free-memory display tops out at 100 x 9600 bytes).
inline constexpr uint32_t kMaxPlayerBytes = 16u * 1024 * 1024;

// The RAM song limit: 40 songs for a release that sorts below "1.12" (over
// 5 bytes, as C strings), 100 for "1.12" and later.
inline int RamSongLimit(std::string_view release) {
  // strncmp over 5 bytes: the text ends at its terminator.
  const char* ref = "1.12";
  for (size_t i = 0; i < 5; ++i) {
    uint8_t a = i < release.size() ? static_cast<uint8_t>(release[i]) : 0;
    uint8_t b = static_cast<uint8_t>(ref[i]);
    if (a != b) return a < b ? 40 : 100;
    if (a == 0) break;
  }
  return 100;
}

// The 16-bit sum of bytes (each 0-255), carries out of 16 bits dropped.
inline uint16_t FileSum16(const uint8_t* data, size_t size, uint16_t start = 0) {
  uint32_t sum = start;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  return static_cast<uint16_t>(sum);
}

// The simulator's socket greets every connection with a 16-byte line naming
// the transport it plays: "ZUMBLA-SIM ftdi\n" or "ZUMBLA-SIM bulk\n".
inline constexpr const char* kSimGreetingPrefix = "ZUMBLA-SIM ";
inline constexpr size_t kSimGreetingSize = 16;
inline std::string SimGreeting(Transport t) { return std::string(kSimGreetingPrefix) + TransportName(t) + "\n"; }

}  // namespace kestro
