#include "convert/karaoke.h"

#include <algorithm>

#include "platform/charmap.h"

namespace kestro {

bool IsKaraokeMessage(std::span<const uint8_t> ev) {
  return ev.size() >= 7 && ev[0] == 0xF0 && ev[2] == 0x00 && ev[3] == 0x20 && ev[4] == 0x24 && ev[5] == 0x00;
}

int KaraokeKind(std::span<const uint8_t> ev) { return IsKaraokeMessage(ev) ? ev[6] : -1; }

std::string KaraokeText(std::span<const uint8_t> ev) {
  std::string s;
  for (size_t i = 7; i < ev.size() && ev[i] != 0xF7; ++i) s += static_cast<char>(ev[i]);
  return s;
}

bool IsPageMark(std::span<const uint8_t> ev) {
  return KaraokeKind(ev) == karaoke::kLine1 && ev[1] == 7 && ev.size() > 7 && ev[7] == 10;
}

std::vector<uint8_t> MakeKaraokeMessage(uint8_t kind, std::string_view text) {
  // 00 20 24 00, kind, text, F7 after the length byte.
  constexpr size_t kMaxText = 127 - 6;
  if (text.size() > kMaxText) text = text.substr(0, kMaxText);
  std::vector<uint8_t> m;
  m.reserve(text.size() + 8);
  m = {0xF0, static_cast<uint8_t>(text.size() + 6), 0x00, 0x20, 0x24, 0x00, kind};
  for (char c : text) m.push_back(static_cast<uint8_t>(c));
  m.push_back(0xF7);
  return m;
}

std::string to_player_codes(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(Latin1ToPlayerChar(static_cast<uint8_t>(c)));
  return out;
}

std::string from_player_codes(std::string_view text) { return PlayerTextToLatin1(text); }

void to_player_codes_meta(std::span<uint8_t> ev) {
  for (size_t i = 3; i < ev.size(); ++i) ev[i] = Latin1ToPlayerChar(ev[i]);
}

void from_player_codes_meta(std::span<uint8_t> ev) {
  for (size_t i = 3; i < ev.size(); ++i) ev[i] = PlayerCharToLatin1(ev[i]);
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string TrimSpaces(std::string_view s) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  size_t b = 0, e = s.size();
  while (b < e && space(s[b])) ++b;
  while (e > b && space(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr std::string_view kKeywords[] = {"INSTRUMENTAL", "GUITAR SOLO", "PIANO SOLO",
                                          "SAX SOLO",     "SYNTH SOLO",  "DIST SOLO"};

}  // namespace

bool is_channel_label(std::string_view text) {
  std::string u = UpperAscii(text.substr(0, std::min<size_t>(text.size(), 9)));
  auto at = [&](size_t i) { return i < u.size() ? u[i] : '\0'; };
  if (u.rfind("CH", 0) == 0 && (IsDigit(at(2)) || at(2) == ' ')) return true;
  if (u.rfind("MIDI", 0) == 0 && (IsDigit(at(4)) || IsDigit(at(5)))) return true;
  if (u.rfind("CANALE", 0) == 0 && (IsDigit(at(6)) || IsDigit(at(7)))) return true;
  return false;
}

int find_instrumental_keyword(std::span<const uint8_t> message) {
  std::string text = UpperAscii(KaraokeText(message));
  for (size_t k = 0; k < std::size(kKeywords); ++k) {
    if (text.find(kKeywords[k]) != std::string::npos) return static_cast<int>(k);
  }
  return -1;
}

bool IsChordName(std::string_view text) {
  if (text.size() < 2 || text.size() > 16) return false;
  if (text[text.size() - 1] != ' ' || text[text.size() - 2] != ' ') return false;
  if (text[0] >= 'A' && text[0] <= 'G') return true;
  std::string u = UpperAscii(text);
  for (std::string_view name : {"DO", "RE", "MI", "FA", "SOL", "LA", "SI"}) {
    if (u.rfind(name, 0) == 0) return true;
  }
  return false;
}

}  // namespace kestro
