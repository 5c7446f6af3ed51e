// Byte writers for the benchmarks' synthetic MIDI files.
#pragma once

#include <cstdint>

#include "platform/fileutil.h"

namespace kestro::bench {

// A variable-length quantity, most significant group first.
inline void PutVarLen(Bytes& v, uint32_t n) {
  uint8_t tmp[5];
  int k = 0;
  tmp[k++] = static_cast<uint8_t>(n & 0x7F);
  while (n >>= 7) tmp[k++] = static_cast<uint8_t>(0x80 | (n & 0x7F));
  while (k) v.push_back(tmp[--k]);
}

inline void PutBe32(Bytes& v, uint32_t n) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(n >> s));
}

}  // namespace kestro::bench
