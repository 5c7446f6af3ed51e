#include "convert/karaoke_screen.h"

#include <algorithm>

#include "convert/event_stream.h"
#include "convert/karaoke.h"

namespace kestro {

namespace {

constexpr double kDivision = 480.0;
constexpr uint8_t kColourController = 31;
constexpr uint8_t kWholeLine = 127;

// A line's text as shown: Latin-1 letters for the player's codes, without
// line feeds and other control characters.
std::string ShownText(std::string_view raw) {
  std::string s;
  for (char c : from_player_codes(raw)) {
    if (static_cast<uint8_t>(c) >= 0x20) s += c;
  }
  return s;
}

// ">C|G|Am" gives "C".
std::string CurrentChord(std::string_view text) {
  if (!text.empty() && text[0] == '>') text.remove_prefix(1);
  const size_t bar = text.find('|');
  return TrimSpaces(ShownText(text.substr(0, bar)));
}

// The screen as the events change it. The first pass finds which colouring
// steps get controller steps; the second uses that to colour the others
// whole at once.
class ScreenState {
 public:
  ScreenState(const KaraokeScreen& titleCard, const std::vector<bool>* stepped)
      : screen_(titleCard), stepped_(stepped) {}

  void Apply(const std::vector<uint8_t>& ev) {
    if (ev.empty()) return;
    if (ev[0] == 0xB0 && ev.size() >= 3 && ev[1] == kColourController) {
      Colour(ev[2]);
      return;
    }
    if (ev[0] != 0xF0) return;
    // The karaoke helpers read the message with a one-byte length.
    if (!IsKaraokeMessage(ev)) return;
    const int kind = KaraokeKind(ev);
    const std::string raw = KaraokeText(ev);
    if (kind >= karaoke::kLine1 && kind <= karaoke::kLine4) {
      if (raw.find_first_not_of("\n\r") == std::string::npos) return;  // a page mark
      const int line = kind - karaoke::kLine1;
      if (line == 0) NewPage();
      if (screen_.titleCard) return;  // a later line before any page began
      screen_.lines[static_cast<size_t>(line)] = {ShownText(raw), 0};
    } else if (kind == karaoke::kColourStep) {
      NextLine();
    } else if (kind == karaoke::kChord) {
      screen_.chord = CurrentChord(raw);
    }
  }

  const KaraokeScreen& screen() const { return screen_; }
  bool anyPage() const { return screen_.page >= 0; }
  // For the first pass: whether each colouring step got controller steps.
  std::vector<bool> steppedFound;

 private:
  void NewPage() {
    const std::string chord = screen_.chord;
    const int page = screen_.page + 1;
    screen_ = KaraokeScreen{};
    screen_.titleCard = false;
    screen_.page = page;
    screen_.chord = chord;
    current_ = -1;
  }

  void WholeLine(int line) {
    if (line < 0 || line > 3) return;
    KaraokeLine& l = screen_.lines[static_cast<size_t>(line)];
    l.coloured = l.text.size();
  }

  void NextLine() {
    ++step_;
    steppedFound.push_back(false);
    if (screen_.titleCard) return;
    WholeLine(current_);
    if (current_ < 3) ++current_;
    KaraokeLine& l = screen_.lines[static_cast<size_t>(current_)];
    l.coloured = 0;
    const size_t k = static_cast<size_t>(step_);
    if (stepped_ && k < stepped_->size() && !(*stepped_)[k]) WholeLine(current_);
  }

  void Colour(uint8_t value) {
    if (screen_.titleCard || current_ < 0) return;
    if (value >= kWholeLine) {
      WholeLine(current_);
      return;
    }
    // A line starts uncoloured at its colouring step; the 0 sent just before
    // that step would only blank the line that is ending.
    if (value == 0) return;
    if (step_ >= 0) steppedFound[static_cast<size_t>(step_)] = true;
    KaraokeLine& l = screen_.lines[static_cast<size_t>(current_)];
    l.coloured = ColouredLength(l.text, value);
  }

  KaraokeScreen screen_;
  const std::vector<bool>* stepped_;
  int current_ = -1;  // the line being coloured
  int step_ = -1;     // colouring steps met, less one
};

}  // namespace

size_t ColouredLength(std::string_view text, int count) {
  if (count <= 0) return 0;
  int seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != ' ' && ++seen == count) return i + 1;
  }
  return text.size();
}

KaraokeTimeline KaraokeTimeline::FromStream(std::span<const uint8_t> stream, size_t offset, std::string_view title,
                                            std::string_view performer) {
  KaraokeTimeline t;
  t.titleCard_.lines[0].text = ShownText(title);
  t.titleCard_.lines[1].text = ShownText(performer);

  // The events once, with the tempo changes.
  std::vector<StreamEvent> events;
  {
    EventStreamReader reader(stream, offset);
    StreamEvent ev;
    while (reader.Next(ev)) {
      const bool tempo = ev.bytes.size() >= 6 && ev.bytes[0] == 0xFF && ev.bytes[1] == 0x51 && ev.bytes[2] == 3;
      if (tempo) {
        const uint32_t us = uint32_t{ev.bytes[3]} << 16 | uint32_t{ev.bytes[4]} << 8 | ev.bytes[5];
        if (us > 0) {
          const double at = t.Seconds(ev.time);
          if (t.tempo_.back().tick == ev.time) t.tempo_.pop_back();
          t.tempo_.push_back({ev.time, at, us});
        }
      }
      t.length_ = t.Seconds(ev.time);
      events.push_back(std::move(ev));
      ev = StreamEvent{};
    }
  }

  ScreenState first(t.titleCard_, nullptr);
  for (const auto& ev : events) first.Apply(ev.bytes);
  const std::vector<bool> stepped = first.steppedFound;
  t.hasText_ = first.anyPage();

  ScreenState state(t.titleCard_, &stepped);
  t.changes_.push_back({0.0, t.titleCard_});
  for (size_t i = 0; i < events.size(); ++i) {
    state.Apply(events[i].bytes);
    // Events of one moment make one change.
    if (i + 1 < events.size() && events[i + 1].time == events[i].time) continue;
    if (state.screen() == t.changes_.back().screen) continue;
    const double at = t.Seconds(events[i].time);
    if (t.changes_.back().seconds == at) {
      t.changes_.back().screen = state.screen();
    } else {
      t.changes_.push_back({at, state.screen()});
    }
  }
  return t;
}

double KaraokeTimeline::Seconds(uint32_t tick) const {
  auto it = std::upper_bound(tempo_.begin(), tempo_.end(), tick,
                             [](uint32_t v, const Tempo& tp) { return v < tp.tick; });
  const Tempo& tp = *(it == tempo_.begin() ? it : it - 1);
  return tp.seconds + (static_cast<double>(tick) - tp.tick) * tp.microsPerQuarter / kDivision / 1e6;
}

KaraokeScreen KaraokeTimeline::At(double seconds) const {
  if (changes_.empty()) return titleCard_;
  auto it = std::upper_bound(changes_.begin(), changes_.end(), seconds,
                             [](double v, const Change& c) { return v < c.seconds; });
  if (it == changes_.begin()) return changes_.front().screen;
  return (it - 1)->screen;
}

}  // namespace kestro
