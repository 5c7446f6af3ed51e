// What the player's screen shows while a song plays, worked out from the
// karaoke messages of its content, so that a window only has to draw it.
//
// The content says it this way (the MF4 converter writes it so):
//   - kinds 4 to 7 carry the four lines of a page, sent shortly before the
//     page is sung; kind 4 starts a new page;
//   - an empty kind-8 colouring step starts the colouring of the next line
//     of the page (the line before is then coloured whole);
//   - controller 31 on channel 1 with a value n from 1 to 126 colours the
//     current line up to its n-th character that is not a space; 127
//     colours it whole (0 comes just before the next line's step);
//   - kind 1 names the chord being played (">" current "|" next "|" after).
// A line whose colouring gets no controller steps (a heading line, or a
// song coloured line by line) is coloured whole as its step comes. Until the
// first page, and for a song without text, the screen shows the title and
// the performer. Page marks (a line message holding only a line feed) are
// not shown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

struct KaraokeLine {
  std::string text;      // Latin-1
  size_t coloured = 0;   // characters coloured from the start of the line
  bool operator==(const KaraokeLine&) const = default;
};

struct KaraokeScreen {
  // No page yet (or none at all): lines 0 and 1 hold title and performer.
  bool titleCard = true;
  std::array<KaraokeLine, 4> lines;
  // The chord being played; empty when none.
  std::string chord;
  // Number of the page shown (0 for the first), -1 on the title card.
  int page = -1;
  bool operator==(const KaraokeScreen&) const = default;
};

class KaraokeTimeline {
 public:
  // An empty timeline: the title card of a song without a name.
  KaraokeTimeline() = default;

  // From a song's decoded event stream (its events from `offset`) and the
  // title and performer of its header (player text codes). A stream that
  // breaks off keeps what came before.
  static KaraokeTimeline FromStream(std::span<const uint8_t> stream, size_t offset, std::string_view title,
                                    std::string_view performer);

  // The screen at `seconds` of play time.
  KaraokeScreen At(double seconds) const;
  // The song has pages of text.
  bool HasText() const { return hasText_; }
  // Play time of a tick of the content, by its tempo changes.
  double Seconds(uint32_t tick) const;
  // Play time of the stream's last event.
  double LengthSeconds() const { return length_; }

  // Each moment at which the screen changes, with what it shows from then on.
  struct Change {
    double seconds = 0;
    KaraokeScreen screen;
  };
  const std::vector<Change>& Changes() const { return changes_; }

 private:
  struct Tempo {
    uint32_t tick = 0;
    double seconds = 0;
    uint32_t microsPerQuarter = 500000;
  };
  std::vector<Tempo> tempo_ = {Tempo{}};
  KaraokeScreen titleCard_;
  std::vector<Change> changes_;
  bool hasText_ = false;
  double length_ = 0;
};

// The characters a colouring count covers: up to and including the n-th
// character of `text` that is not a space (the whole text when it has
// fewer).
size_t ColouredLength(std::string_view text, int count);

}  // namespace kestro
