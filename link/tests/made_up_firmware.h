// A firmware file made up for the tests: a version line, a header line with
// the byte count and sum, and a few S-records that write known bytes into
// the erased flash areas. It programs nothing real.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestro::testing {

// An S-record line of type '0'-'9' with a correct checksum.
inline std::string SRecord(char type, uint32_t addr, const std::vector<uint8_t>& data) {
  size_t addrLen = type == '2' || type == '8' ? 3 : type == '3' || type == '7' ? 4 : 2;
  std::vector<uint8_t> rec;
  rec.push_back(static_cast<uint8_t>(addrLen + data.size() + 1));
  for (size_t i = 0; i < addrLen; ++i) rec.push_back(static_cast<uint8_t>(addr >> (8 * (addrLen - 1 - i))));
  rec.insert(rec.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : rec) sum = static_cast<uint8_t>(sum + b);
  rec.push_back(static_cast<uint8_t>(~sum));
  std::string s = std::string("S") + type;
  char h[3];
  for (uint8_t b : rec) {
    std::snprintf(h, sizeof h, "%02X", b);
    s += h;
  }
  return s;
}

struct MadeUpFirmware {
  static constexpr size_t kFlashSize = 8 * 64 * 1024;

  // Starts with S on purpose: only the place of a line makes it a record.
  std::string version = "SIMULATED ZUMBLA 9.99 (made up for tests)";
  std::vector<std::string> records;
  std::vector<uint8_t> flash = std::vector<uint8_t>(kFlashSize, 0xFF);  // what the records write

  // `dataRecords` 16-byte records in area 0 besides one record in each of
  // the areas 1, 5 and 6, between a header record and an end record.
  explicit MadeUpFirmware(int dataRecords = 120, uint8_t seed = 1) {
    records.push_back(SRecord('0', 0, {'t', 'e', 's', 't'}));
    for (int i = 0; i < dataRecords; ++i) {
      std::vector<uint8_t> d(16);
      for (size_t k = 0; k < d.size(); ++k) d[k] = static_cast<uint8_t>(seed + i * 16 + static_cast<int>(k) * 7);
      Add(i % 2 ? '1' : '3', 0x0100 + static_cast<uint32_t>(i) * 16, d);
    }
    Add('2', 0x012340, {0xAA, 0xBB, seed});
    Add('2', 0x050010, {0x01, 0x02, 0x03, 0x04});
    Add('3', 0x0006FFF0, {0x5A, seed});
    records.push_back(SRecord('9', 0, {}));
  }

  void Add(char type, uint32_t addr, const std::vector<uint8_t>& data) {
    records.push_back(SRecord(type, addr, data));
    for (size_t i = 0; i < data.size(); ++i) flash[addr + i] = data[i];
  }

  static std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
  }
  // The whole file; `countDelta` / `sumDelta` falsify the header.
  std::string File(long countDelta = 0, long sumDelta = 0) const {
    return WithPayload(Join(records), countDelta, sumDelta);
  }
  // A file around any payload, with a header that matches it.
  std::string WithPayload(const std::string& payload, long countDelta = 0, long sumDelta = 0) const {
    uint64_t sum = 0;
    for (unsigned char c : payload) sum += c;
    return version + "\r\n" + std::to_string(static_cast<long>(payload.size()) + countDelta) + " " +
           std::to_string(static_cast<long>(sum) + sumDelta) + "\r\n" + payload;
  }
};

}  // namespace kestro::testing
