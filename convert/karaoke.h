// The maker's karaoke messages (system exclusive F0, length, 00 20 24 00,
// kind, data, F7) and the small text tests that the lyric tools share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// Kinds of karaoke message.
namespace karaoke {
inline constexpr uint8_t kChord = 1;
inline constexpr uint8_t kSongStart = 3;
inline constexpr uint8_t kLine1 = 4;  // 4 to 7: first to fourth line of a page
inline constexpr uint8_t kLine4 = 7;
inline constexpr uint8_t kColourStep = 8;
inline constexpr uint8_t kControl = 9;
inline constexpr uint8_t kNextPreview = 15;
inline constexpr uint8_t kSongStartLong = 68;
}  // namespace karaoke

// A system-exclusive event whose bytes 2-5 are 00 20 24 00.
bool IsKaraokeMessage(std::span<const uint8_t> ev);
// Its kind byte (byte 6); -1 when ev is no karaoke message.
int KaraokeKind(std::span<const uint8_t> ev);
// The data after the kind byte up to F7 (or the end of the event).
std::string KaraokeText(std::span<const uint8_t> ev);
// A kind-4 message with the length byte 7 and the data byte 10.
bool IsPageMark(std::span<const uint8_t> ev);
// F0, length, 00 20 24 00, kind, text, F7. The text is cut so that the
// length fits in one byte.
std::vector<uint8_t> MakeKaraokeMessage(uint8_t kind, std::string_view text);

// The character maps between Windows Latin-1 and the player's text codes
// 1-31 for accented letters. Bytes without a counterpart stay as they are.
std::string to_player_codes(std::string_view text);
std::string from_player_codes(std::string_view text);
// The same on the text of a meta event: the three header bytes (FF, type,
// length) are left alone.
void to_player_codes_meta(std::span<uint8_t> ev);
void from_player_codes_meta(std::span<uint8_t> ev);

// "CH" and a digit or a space; "MIDI" and a digit in the fifth or sixth
// place; "CANALE" and a digit in the seventh or eighth place (first nine
// characters, any case).
bool is_channel_label(std::string_view text);

// The count-in keywords of instrumental passages, found in the text of a
// karaoke message in any case: INSTRUMENTAL, GUITAR SOLO, PIANO SOLO,
// SAX SOLO, SYNTH SOLO, DIST SOLO. Returns the keyword's index, -1 for none.
int find_instrumental_keyword(std::span<const uint8_t> message);

// A text event of at most 16 characters ending in two spaces that begins
// with a sol-fa note name (any case) or a capital A to G.
bool IsChordName(std::string_view text);

// ASCII upper case (Latin-1 letters above 127 stay).
std::string UpperAscii(std::string_view s);
// Without leading and trailing white space.
std::string TrimSpaces(std::string_view s);

}  // namespace kestro
