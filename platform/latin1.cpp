#include "platform/latin1.h"

#include <cstdint>

namespace kestro {

std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {
// Length of the valid UTF-8 sequence at s[i], or 0.
size_t SeqLen(std::string_view s, size_t i, uint32_t* cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  size_t n;
  uint32_t v;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2;
    v = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    v = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    v = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 2 && v < 0x80) || (n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF))) return 0;
  if (v >= 0xD800 && v <= 0xDFFF) return 0;
  *cp = v;
  return n;
}
}  // namespace

std::string Utf8ToLatin1(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp = 0;
    size_t n = SeqLen(s, i, &cp);
    if (n == 0) {
      out += s[i];
      ++i;
      continue;
    }
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    i += n;
  }
  return out;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp;
    size_t n = SeqLen(s, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace kestro
