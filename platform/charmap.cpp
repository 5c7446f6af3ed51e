#include "platform/charmap.h"

#include "platform/latin1.h"

namespace kestro {

namespace {

// Index: player code 0-31; 0 means "stays".
constexpr uint8_t kMap[32] = {
    0,    0xE0, 0xE2, 0xE4, 0xE1, 0xE9, 0xE8, 0xEB, 0xEA, 0xCC, 0,    0xEF, 0xED, 0xF2, 0xF4, 0xF6,
    0xF3, 0xF9, 0xFB, 0xFC, 0xFA, 0xC4, 0xD6, 0xDC, 0xE7, 0xDF, 0xF1, 0,    0,    0xC8, 0xD1, 0xEE,
};

}  // namespace

uint8_t PlayerCharToLatin1(uint8_t c) { return c < 32 && kMap[c] ? kMap[c] : c; }

uint8_t Latin1ToPlayerChar(uint8_t c) {
  if (c < 0x80) return c;
  for (uint8_t code = 1; code < 32; ++code) {
    if (kMap[code] == c) return code;
  }
  return c;
}

std::string PlayerTextToLatin1(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(PlayerCharToLatin1(static_cast<uint8_t>(ch)));
  return out;
}

std::filesystem::path MapPlayerPath(const std::filesystem::path& path) {
  std::string out;
  for (char ch : path.string()) {
    auto c = static_cast<uint8_t>(ch);
    uint8_t m = PlayerCharToLatin1(c);
    if (m != c) {
      out += Latin1ToUtf8(std::string(1, static_cast<char>(m)));
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace kestro
