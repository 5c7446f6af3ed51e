#include "library/song_record.h"

#include <algorithm>
#include <cstring>

#include "platform/format.h"

namespace kestro::library {

std::string RecordText(std::string_view src, size_t max) {
  size_t z = src.find('\0');
  if (z != std::string_view::npos) src = src.substr(0, z);
  if (src.size() > max) src = src.substr(0, max);
  return std::string(src);
}

std::string FieldText(const uint8_t* field, size_t size, size_t max) {
  const auto* p = reinterpret_cast<const char*>(field);
  size_t n = 0;
  while (n < size && p[n]) ++n;
  return std::string(p, std::min(n, max));
}

void Renumber(SongList& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].listIndex = static_cast<uint16_t>(i);
    list[i].number = Fmt("%6d", static_cast<int>(i));
  }
}

void CompactMarked(SongList& list) {
  list.erase(std::remove_if(list.begin(), list.end(), [](const SongRecord& r) { return r.mark; }), list.end());
  Renumber(list);
}

std::string SongFileName(uint16_t code, bool mp3) { return Fmt(mp3 ? "%05d.MP3" : "%05d.MF4", code); }

}  // namespace kestro::library
