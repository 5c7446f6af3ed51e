#include "cardfs/names.h"

#include <algorithm>
#include <cstdio>

namespace kestro {

namespace {

bool AllowedInName(unsigned char c) {
  if (c >= 0x80) return true;  // Latin-1 letters and the like
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  return std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> ToName11(std::string_view name) {
  size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return std::nullopt;
  if (ext.find('.') != std::string_view::npos) return std::nullopt;
  std::string out(kName11, ' ');
  auto put = [&](std::string_view part, size_t at) {
    for (size_t i = 0; i < part.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(part[i]);
      if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
      if (!AllowedInName(c)) return false;
      out[at + i] = static_cast<char>(c);
    }
    return true;
  };
  if (!put(base, 0) || !put(ext, 8)) return std::nullopt;
  // E5 as a first byte would mark the entry deleted.
  if (static_cast<unsigned char>(out[0]) == 0xE5) out[0] = 0x05;
  return out;
}

std::string FromName11(std::string_view n) {
  if (n.size() > kName11) n = n.substr(0, kName11);
  std::string base(n.substr(0, std::min<size_t>(8, n.size())));
  std::string ext(n.size() > 8 ? n.substr(8) : std::string_view());
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  if (!base.empty() && static_cast<unsigned char>(base[0]) == 0x05) base[0] = static_cast<char>(0xE5);
  return ext.empty() ? base : base + "." + ext;
}

std::string FolderName11(int folder) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%-11d", folder);
  return std::string(buf).substr(0, kName11);
}

std::string SongName11(uint16_t code, std::string_view ext) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%05u   ", static_cast<unsigned>(code));
  std::string out = std::string(buf).substr(0, 8);
  std::string e(ext.substr(0, 3));
  e.resize(3, ' ');
  return out + e;
}

}  // namespace kestro
