// The entry of every song list: the PC song folder, the player's internal
// memory and the player's card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::library {

// Longest title, performer, genre, ... kept in a record.
inline constexpr size_t kRecordTextMax = 27;
// Songs a list holds.
inline constexpr size_t kListCapacity = 16384;

struct SongRecord {
  std::string number;      // the 0-based list position printed "%6d"
  std::string fileName;    // player side "%05d.MF4"/"%05d.MP3"; PC side the full path
  std::string title;       // at most 27 characters
  std::string author;      // the performer; at most 27 characters
  std::string genre;
  std::string composer;
  std::string publisher;
  std::string rightsText;
  uint16_t listIndex = 0;
  bool infoEdited = false;
  uint32_t fileSize = 0;
  uint16_t code = 0;       // song code; PC side the position in the folder scan
  bool existsOnTarget = false;
  bool mark = false;
  bool selected = false;
};

using SongList = std::vector<SongRecord>;

// A text field as the fixed-size record field would hold it: cut at a zero
// byte and at `max` characters.
std::string RecordText(std::string_view src, size_t max = kRecordTextMax);
// A zero-terminated text inside a fixed-size byte field.
std::string FieldText(const uint8_t* field, size_t size, size_t max = kRecordTextMax);

// listIndex and number from the position, after a sort or removal.
void Renumber(SongList& list);
// Drops the records whose `mark` is set, keeping the order, and renumbers.
void CompactMarked(SongList& list);

// "%05d.MF4" / "%05d.MP3" of a song code.
std::string SongFileName(uint16_t code, bool mp3);

}  // namespace kestro::library
