// Inputs for the codec tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kestro::testing {

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() >> 24);
  return v;
}

inline std::vector<uint8_t> Repeated(size_t n, uint8_t byte) { return std::vector<uint8_t>(n, byte); }

inline std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Something like the event stream of a song: delta times, notes on a few
// channels, controllers and now and then a lyric message, so that there are
// matches of every length and distance.
inline std::vector<uint8_t> MidiLike(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  v.reserve(n + 64);
  static const char* kWords[] = {"amore ", "cuore ", "sole ", "mare ", "la ", "notte ", "stelle ", "ancora "};
  while (v.size() < n) {
    uint32_t r = rng();
    uint32_t delta = r % 5 == 0 ? 0 : (r >> 8) % 480;
    if (delta >= 128) v.push_back(static_cast<uint8_t>(0x80 | (delta >> 7)));
    v.push_back(static_cast<uint8_t>(delta & 0x7F));
    uint8_t ch = static_cast<uint8_t>((r >> 20) % 4);
    uint8_t note = static_cast<uint8_t>(48 + (r >> 12) % 24);
    switch ((r >> 24) % 8) {
      case 0:
      case 1:
      case 2:
        v.insert(v.end(), {static_cast<uint8_t>(0x90 | ch), note, static_cast<uint8_t>(64 + (r & 31))});
        break;
      case 3:
      case 4:
        v.insert(v.end(), {static_cast<uint8_t>(0x80 | ch), note});
        break;
      case 5:
        v.insert(v.end(), {static_cast<uint8_t>(0xB0 | ch), 7, static_cast<uint8_t>(r & 0x7F)});
        break;
      case 6: {
        const char* w = kWords[(r >> 4) % 8];
        std::string word(w);
        v.insert(v.end(), {0xF0, static_cast<uint8_t>(word.size() + 6), 0x00, 0x20, 0x24, 0x00, 0x04});
        v.insert(v.end(), word.begin(), word.end());
        v.push_back(0xF7);
        break;
      }
      default:
        v.insert(v.end(), {0xE0, static_cast<uint8_t>(r & 0x7F), static_cast<uint8_t>((r >> 7) & 0x7F)});
        break;
    }
  }
  v.resize(n);
  return v;
}

}  // namespace kestro::testing
